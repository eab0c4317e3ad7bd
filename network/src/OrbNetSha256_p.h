#pragma once
//
//  W A R N I N G
//  -------------
//
// This file is not part of the OrbNetwork API. It exists purely as an
// implementation detail. This header file may change from version to
// version without notice, or even be removed.
//
// We mean it.
//
// An incremental SHA-256 over OpenSSL's digest, for the downloads that declare
// one. QCryptographicHash has no hardware path: at about 150 MB/s it took longer
// than the transfer itself, while OpenSSL uses the CPU's SHA instructions.

#include <QByteArray>

#include <cstddef>

class OrbNetSha256 {
public:
    OrbNetSha256();
    ~OrbNetSha256();
    OrbNetSha256(const OrbNetSha256&) = delete;
    OrbNetSha256& operator=(const OrbNetSha256&) = delete;

    void reset();
    void addData(const char* data, std::size_t size);
    // The digest of everything added since the last reset (32 bytes; empty if
    // OpenSSL failed, which then matches no declared hash).
    QByteArray result() const;

private:
    void* m_ctx = nullptr; // EVP_MD_CTX
};
