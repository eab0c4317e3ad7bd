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
// AWS Signature Version 4 for S3-compatible object storage.

#include "OrbNetworkExport.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QUrl>

#include <string>

struct OrbS3Credentials {
    std::string accessKey;
    std::string secretKey;
    std::string token;   // empty: long-term keys, no x-amz-security-token
    std::string region;
    std::string endpoint;
    qint64 expiry = 0;   // seconds since 1970; 0: none known
};

namespace OrbS3Signer {

// The body is not hashed: the signature covers method, path, host, date and token.
constexpr const char* kUnsignedPayload = "UNSIGNED-PAYLOAD";

// S3's URI encoding: everything but A-Z a-z 0-9 - . _ ~ is %XX-encoded; "/" too
// unless keepSlash.
QByteArray UriEncode(const QByteArray& text, bool keepSlash);

// Object key of a local file stored under prefix: "prefix/name", without a
// leading or doubled "/".
std::string ObjectKey(const std::string& prefix, const std::string& localPath);

// Endpoint URL plus the encoded key.
QUrl ObjectUrl(const std::string& endpoint, const std::string& key);

// The headers a signed request of `method` on `url` carries (Host, x-amz-date,
// x-amz-content-sha256, x-amz-security-token when there is a token, Authorization).
QList<QPair<QByteArray, QByteArray>> SignedHeaders(const QByteArray& method, const QUrl& url,
                                                                            const OrbS3Credentials& credentials,
                                                                            const QDateTime& when,
                                                                            const QByteArray& payloadHash = kUnsignedPayload);

} // namespace OrbS3Signer
