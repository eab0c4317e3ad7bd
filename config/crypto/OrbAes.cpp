// AES-128-CBC string encryption behind OrbUtils::AESEncrypt and AESDecrypt.

#include "OrbAes_p.h"

#include <QByteArray>

#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <stdexcept>

namespace {

constexpr std::size_t kKeyLength = 16;
constexpr std::size_t kIvLength = 16;
constexpr int kBlockSize = 16;
// OpenSSL counts in int: longer input goes through the update step in pieces.
constexpr std::size_t kMaxChunk = static_cast<std::size_t>(INT_MAX / 2);

struct ContextFree {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using Context = std::unique_ptr<EVP_CIPHER_CTX, ContextFree>;

Context newContext()
{
    Context ctx(EVP_CIPHER_CTX_new());
    if (!ctx)
        throw std::runtime_error("EVP_CIPHER_CTX_new failed");
    return ctx;
}

const unsigned char* bytesOf(const std::string& s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}

} // namespace

std::string OrbAes::encrypt(const std::string& plaintext, const std::string& key, const std::string& iv)
{
    if (key.size() != kKeyLength)
        throw std::invalid_argument("Invalid key length");
    if (iv.size() != kIvLength)
        throw std::invalid_argument("Invalid IV length");

    std::string out(plaintext.size() + kBlockSize, '\0');
    auto* dst = reinterpret_cast<unsigned char*>(&out[0]);

    Context ctx = newContext();
    if (EVP_EncryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, bytesOf(key), bytesOf(iv)) != 1)
        throw std::runtime_error("EVP_EncryptInit_ex failed");

    std::size_t written = 0;
    for (std::size_t offset = 0; offset < plaintext.size();) {
        const std::size_t chunk = std::min(kMaxChunk, plaintext.size() - offset);
        int len = 0;
        if (EVP_EncryptUpdate(ctx.get(), dst + written, &len, bytesOf(plaintext) + offset,
                              static_cast<int>(chunk)) != 1)
            throw std::runtime_error("EVP_EncryptUpdate failed");
        written += static_cast<std::size_t>(len);
        offset += chunk;
    }
    int finalLen = 0;
    if (EVP_EncryptFinal_ex(ctx.get(), dst + written, &finalLen) != 1)
        throw std::runtime_error("EVP_EncryptFinal_ex failed");
    written += static_cast<std::size_t>(finalLen);

    const QByteArray raw(out.data(), static_cast<qsizetype>(written));
    return raw.toBase64().toStdString();
}

std::string OrbAes::decrypt(const std::string& ciphertext, const std::string& key, const std::string& iv)
{
    if (key.size() != kKeyLength)
        throw std::invalid_argument("Invalid key length, expected " + std::to_string(kKeyLength)
                                    + " bytes.");
    if (iv.size() != kIvLength)
        throw std::invalid_argument("Invalid IV length, expected " + std::to_string(kIvLength)
                                    + " bytes.");

    const QByteArray raw = QByteArray::fromBase64(QByteArray::fromStdString(ciphertext));
    if (raw.isEmpty())
        throw std::runtime_error("Base64 decoding failed");

    // The update step may write up to one block more than it is given.
    std::string out(static_cast<std::size_t>(raw.size()) + kBlockSize, '\0');
    auto* dst = reinterpret_cast<unsigned char*>(&out[0]);
    const auto* src = reinterpret_cast<const unsigned char*>(raw.constData());
    const auto total = static_cast<std::size_t>(raw.size());

    Context ctx = newContext();
    if (EVP_DecryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, bytesOf(key), bytesOf(iv)) != 1)
        throw std::runtime_error("EVP_DecryptInit_ex failed");

    std::size_t written = 0;
    for (std::size_t offset = 0; offset < total;) {
        const std::size_t chunk = std::min(kMaxChunk, total - offset);
        int len = 0;
        if (EVP_DecryptUpdate(ctx.get(), dst + written, &len, src + offset, static_cast<int>(chunk))
            != 1)
            throw std::runtime_error("EVP_DecryptUpdate failed");
        written += static_cast<std::size_t>(len);
        offset += chunk;
    }
    int finalLen = 0;
    if (EVP_DecryptFinal_ex(ctx.get(), dst + written, &finalLen) != 1)
        throw std::runtime_error("EVP_DecryptFinal_ex failed");
    written += static_cast<std::size_t>(finalLen);

    out.resize(written);
    return out;
}
