#include "OrbSignature.h"

#include <QByteArray>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

namespace {

constexpr std::size_t kSignatureLength = 64;

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct MdFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Bio = std::unique_ptr<BIO, BioFree>;
using MdContext = std::unique_ptr<EVP_MD_CTX, MdFree>;

Bio readBio(const std::string& text)
{
    return Bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

std::string drain(BIO* bio)
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

bool isEd25519(const Key& key)
{
    return key && EVP_PKEY_get_base_id(key.get()) == EVP_PKEY_ED25519;
}

Key readPrivate(const std::string& pem)
{
    Bio bio = readBio(pem);
    Key key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    return isEd25519(key) ? std::move(key) : Key();
}

Key readPublic(const std::string& pem)
{
    Bio bio = readBio(pem);
    Key key(bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    return isEd25519(key) ? std::move(key) : Key();
}

std::string publicPem(EVP_PKEY* key)
{
    Bio out(BIO_new(BIO_s_mem()));
    if (!out || PEM_write_bio_PUBKEY(out.get(), key) != 1)
        return {};
    return drain(out.get());
}

const unsigned char* bytesOf(const std::string& s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}

} // namespace

bool OrbSignature::GenerateKeyPair(std::string& privatePem, std::string& publicPemOut)
{
    Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    if (!key)
        return false;
    Bio priv(BIO_new(BIO_s_mem()));
    if (!priv || PEM_write_bio_PrivateKey(priv.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return false;
    privatePem = drain(priv.get());
    publicPemOut = publicPem(key.get());
    return !privatePem.empty() && !publicPemOut.empty();
}

std::string OrbSignature::PublicKeyOf(const std::string& privatePem)
{
    Key key = readPrivate(privatePem);
    return key ? publicPem(key.get()) : std::string();
}

std::string OrbSignature::Sign(const std::string& privatePem, const std::string& data)
{
    Key key = readPrivate(privatePem);
    MdContext ctx(EVP_MD_CTX_new());
    if (!key || !ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return {};
    unsigned char sig[kSignatureLength];
    std::size_t length = sizeof sig;
    if (EVP_DigestSign(ctx.get(), sig, &length, bytesOf(data), data.size()) != 1 || length != kSignatureLength)
        return {};
    return QByteArray(reinterpret_cast<const char*>(sig), static_cast<int>(length)).toBase64().toStdString();
}

OrbSignature::Result OrbSignature::Verify(const std::string& publicPemText, const std::string& data,
                                          const std::string& signature)
{
    Key key = readPublic(publicPemText);
    if (!key)
        return Result::BadKey;
    const QByteArray text = QByteArray::fromStdString(signature).trimmed();
    const auto decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != static_cast<int>(kSignatureLength))
        return Result::Malformed;
    MdContext ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return Result::BadKey;
    const int ok = EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(decoded.decoded.constData()),
                                    kSignatureLength, bytesOf(data), data.size());
    return ok == 1 ? Result::Valid : Result::Invalid;
}

const char* OrbSignature::Describe(Result result)
{
    switch (result) {
    case Result::Valid:
        return "valid signature";
    case Result::BadKey:
        return "the publisher key is not a usable Ed25519 public key";
    case Result::Malformed:
        return "the signature is malformed";
    case Result::Invalid:
        return "the signature does not match the publisher key";
    }
    return "unknown";
}
