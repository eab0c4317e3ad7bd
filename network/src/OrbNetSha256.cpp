#include "OrbNetSha256_p.h"

#include <openssl/evp.h>

#include <cstdlib>

namespace {

EVP_MD_CTX* ctx(void* p) { return static_cast<EVP_MD_CTX*>(p); }

} // namespace

OrbNetSha256::OrbNetSha256()
    : m_ctx(EVP_MD_CTX_new())
{
    // Running out of memory here is as fatal as it is for a QByteArray.
    if (!m_ctx)
        std::abort();
    reset();
}

OrbNetSha256::~OrbNetSha256() { EVP_MD_CTX_free(ctx(m_ctx)); }

void OrbNetSha256::reset() { EVP_DigestInit_ex(ctx(m_ctx), EVP_sha256(), nullptr); }

void OrbNetSha256::addData(const char* data, std::size_t size)
{
    if (size > 0)
        EVP_DigestUpdate(ctx(m_ctx), data, size);
}

QByteArray OrbNetSha256::result() const
{
    // Finished on a copy, so more data can follow, as with QCryptographicHash.
    EVP_MD_CTX* copy = EVP_MD_CTX_new();
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int length = 0;
    if (!copy || !EVP_MD_CTX_copy_ex(copy, ctx(m_ctx)) ||
        !EVP_DigestFinal_ex(copy, reinterpret_cast<unsigned char*>(digest.data()), &length))
        length = 0;
    EVP_MD_CTX_free(copy);
    digest.resize(static_cast<qsizetype>(length));
    return digest;
}
