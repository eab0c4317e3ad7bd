#include "OrbNetS3Signer_p.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QMessageAuthenticationCode>

#include <map>

namespace {

QByteArray hmac(const QByteArray& key, const QByteArray& data)
{
    return QMessageAuthenticationCode::hash(data, key, QCryptographicHash::Sha256);
}

QByteArray sha256Hex(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

QByteArray hostHeader(const QUrl& url)
{
    QByteArray host = url.host(QUrl::FullyEncoded).toUtf8();
    if (host.contains(':'))
        host = "[" + host + "]";
    if (url.port() > 0)
        host += ":" + QByteArray::number(url.port());
    return host;
}

} // namespace

namespace OrbS3Signer {

QByteArray UriEncode(const QByteArray& text, bool keepSlash)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(text.size() * 3);
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved || (keepSlash && c == '/')) {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
    }
    return out;
}

std::string ObjectKey(const std::string& prefix, const std::string& localPath)
{
    const QString name = QFileInfo(QString::fromStdString(localPath)).fileName();
    QString folder = QString::fromStdString(prefix);
    while (folder.startsWith(QLatin1Char('/')))
        folder.remove(0, 1);
    while (folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return (folder.isEmpty() ? name : folder + QLatin1Char('/') + name).toStdString();
}

QUrl ObjectUrl(const std::string& endpoint, const std::string& key)
{
    QByteArray base = QByteArray::fromStdString(endpoint);
    while (base.endsWith('/'))
        base.chop(1);
    return QUrl::fromEncoded(base + "/" + UriEncode(QByteArray::fromStdString(key), true), QUrl::StrictMode);
}

QList<QPair<QByteArray, QByteArray>> SignedHeaders(const QByteArray& method, const QUrl& url,
                                                   const OrbS3Credentials& credentials, const QDateTime& when,
                                                   const QByteArray& payloadHash)
{
    const QDateTime utc = when.toUTC();
    const QByteArray amzDate = utc.toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")).toLatin1();
    const QByteArray day = amzDate.left(8);
    const QByteArray region =
        credentials.region.empty() ? QByteArray("us-east-1") : QByteArray::fromStdString(credentials.region);
    const QByteArray scope = day + "/" + region + "/s3/aws4_request";

    // Lower-case names in byte order: the canonical order.
    std::map<QByteArray, QByteArray> headers{
        {"host", hostHeader(url)},
        {"x-amz-content-sha256", payloadHash},
        {"x-amz-date", amzDate},
    };
    if (!credentials.token.empty())
        headers.emplace("x-amz-security-token", QByteArray::fromStdString(credentials.token));

    QByteArray canonicalHeaders, signedNames;
    for (const auto& h : headers) {
        canonicalHeaders += h.first + ":" + h.second.trimmed() + "\n";
        if (!signedNames.isEmpty())
            signedNames += ";";
        signedNames += h.first;
    }

    // Query parameters sorted by encoded name, then value.
    std::multimap<QByteArray, QByteArray> query;
    const QByteArray rawQuery = url.query(QUrl::FullyEncoded).toLatin1();
    for (const QByteArray& part : rawQuery.split('&')) {
        if (part.isEmpty())
            continue;
        const int eq = part.indexOf('=');
        const QByteArray name = QByteArray::fromPercentEncoding(eq < 0 ? part : part.left(eq));
        const QByteArray value = eq < 0 ? QByteArray() : QByteArray::fromPercentEncoding(part.mid(eq + 1));
        query.emplace(UriEncode(name, false), UriEncode(value, false));
    }
    QByteArray canonicalQuery;
    for (const auto& q : query) {
        if (!canonicalQuery.isEmpty())
            canonicalQuery += "&";
        canonicalQuery += q.first + "=" + q.second;
    }

    QByteArray path = url.path(QUrl::FullyEncoded).toLatin1();
    if (path.isEmpty())
        path = "/";

    const QByteArray canonicalRequest = method + "\n" + path + "\n" + canonicalQuery + "\n" + canonicalHeaders +
                                        "\n" + signedNames + "\n" + payloadHash;
    const QByteArray stringToSign =
        "AWS4-HMAC-SHA256\n" + amzDate + "\n" + scope + "\n" + sha256Hex(canonicalRequest);

    const QByteArray kDate = hmac("AWS4" + QByteArray::fromStdString(credentials.secretKey), day);
    const QByteArray kRegion = hmac(kDate, region);
    const QByteArray kService = hmac(kRegion, "s3");
    const QByteArray kSigning = hmac(kService, "aws4_request");
    const QByteArray signature = hmac(kSigning, stringToSign).toHex();

    QList<QPair<QByteArray, QByteArray>> out;
    out.append({"Host", headers["host"]});
    out.append({"x-amz-date", amzDate});
    out.append({"x-amz-content-sha256", payloadHash});
    if (!credentials.token.empty())
        out.append({"x-amz-security-token", headers["x-amz-security-token"]});
    out.append({"Authorization", "AWS4-HMAC-SHA256 Credential=" + QByteArray::fromStdString(credentials.accessKey) +
                                     "/" + scope + ", SignedHeaders=" + signedNames + ", Signature=" + signature});
    return out;
}

} // namespace OrbS3Signer
