#include "OrbPublishUpload.h"

#include "OrbNetwork.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMessageAuthenticationCode>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>
#include <QXmlStreamReader>

#include <cstdio>
#include <deque>
#include <memory>

namespace {

constexpr int kParallel = 4;
constexpr int kUploadTimeoutSeconds = 120;
constexpr char kCredentialAnswer[] = "orbpublish-credentials";

void complain(const QString& text) { std::fprintf(stderr, "orbpublish: %s\n", qPrintable(text)); }

struct Credentials {
    QByteArray accessKey;
    QByteArray secretKey;
    QByteArray token;
    QByteArray region;
};

// The network library fetches credentials from a service; the publisher's own
// keys come from the environment, so this process answers that fetch itself on
// loopback.
class CredentialService : public QObject {
public:
    bool Start()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection())
                serve(s);
        });
        return m_server.listen(QHostAddress::LocalHost, 0);
    }
    QString Url() const { return QStringLiteral("http://127.0.0.1:%1/credentials").arg(m_server.serverPort()); }

private:
    void serve(QTcpSocket* s)
    {
        auto buffer = std::make_shared<QByteArray>();
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        connect(s, &QTcpSocket::readyRead, s, [s, buffer] {
            *buffer += s->readAll();
            const int end = buffer->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            qint64 length = 0;
            for (const QByteArray& line : buffer->left(end).split('\n')) {
                if (line.trimmed().toLower().startsWith("content-length:"))
                    length = line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
            }
            if (buffer->size() < end + 4 + length)
                return;
            const QByteArray body(kCredentialAnswer);
            s->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: " +
                     QByteArray::number(body.size()) + "\r\n\r\n" + body);
            s->disconnectFromHost();
        });
    }
    QTcpServer m_server;
};

class EnvironmentCredentials : public IOrbCosGetConfig {
public:
    EnvironmentCredentials(QString url, const Credentials& c, const QString& bucketUrl) : m_url(std::move(url))
    {
        m_accessKey = c.accessKey.toStdString();
        m_secretKey = c.secretKey.toStdString();
        m_token = c.token.toStdString();
        m_region = c.region.toStdString();
        m_endpoint = bucketUrl.toStdString();
    }
    void MakeRequest(std::string& url, std::string& body) override
    {
        url = m_url.toStdString();
        body = "{}";
    }
    bool ParseConfig(const std::string& body) override
    {
        m_startTime = int32_t(QDateTime::currentSecsSinceEpoch());
        return body == kCredentialAnswer;
    }

private:
    QString m_url;
};

// S3's URI encoding: all but A-Z a-z 0-9 - . _ ~ as %XX.
QByteArray uriEncode(const QByteArray& text) { return text.toPercentEncoding(); }

QByteArray hmac(const QByteArray& key, const QByteArray& message)
{
    return QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha256);
}

// A Signature Version 4 GET of a bucket listing (the upload itself is signed by
// the network library).
QNetworkRequest signedGet(const QUrl& bucketUrl, const QList<QPair<QByteArray, QByteArray>>& query,
                          const Credentials& c)
{
    QList<QPair<QByteArray, QByteArray>> sorted = query;
    std::sort(sorted.begin(), sorted.end());
    QByteArray canonicalQuery;
    for (const auto& q : sorted) {
        if (!canonicalQuery.isEmpty())
            canonicalQuery += '&';
        canonicalQuery += uriEncode(q.first) + '=' + uriEncode(q.second);
    }
    QByteArray path = bucketUrl.path(QUrl::FullyEncoded).toLatin1();
    if (path.isEmpty())
        path = "/";
    QUrl url = bucketUrl;
    url.setQuery(QString::fromLatin1(canonicalQuery), QUrl::StrictMode);

    QByteArray host = bucketUrl.host().toLatin1();
    const int defaultPort = bucketUrl.scheme() == QLatin1String("https") ? 443 : 80;
    if (bucketUrl.port(defaultPort) != defaultPort)
        host += ':' + QByteArray::number(bucketUrl.port());
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QByteArray date = now.toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")).toLatin1();
    const QByteArray day = date.left(8);
    const QByteArray payload = QCryptographicHash::hash(QByteArray(), QCryptographicHash::Sha256).toHex();

    QList<QPair<QByteArray, QByteArray>> headers = {
        {"host", host}, {"x-amz-content-sha256", payload}, {"x-amz-date", date}};
    if (!c.token.isEmpty())
        headers.append({"x-amz-security-token", c.token});
    QByteArray canonicalHeaders, signedNames;
    for (const auto& h : headers) {
        canonicalHeaders += h.first + ':' + h.second + '\n';
        signedNames += (signedNames.isEmpty() ? "" : ";") + h.first;
    }
    const QByteArray canonical = "GET\n" + path + '\n' + canonicalQuery + '\n' + canonicalHeaders + '\n' +
                                 signedNames + '\n' + payload;
    const QByteArray scope = day + '/' + c.region + "/s3/aws4_request";
    const QByteArray toSign = "AWS4-HMAC-SHA256\n" + date + '\n' + scope + '\n' +
                              QCryptographicHash::hash(canonical, QCryptographicHash::Sha256).toHex();
    const QByteArray key = hmac(hmac(hmac(hmac("AWS4" + c.secretKey, day), c.region), "s3"), "aws4_request");
    const QByteArray signature = hmac(key, toSign).toHex();

    QNetworkRequest req(url);
    for (const auto& h : headers) {
        if (h.first != "host")
            req.setRawHeader(h.first, h.second);
    }
    req.setRawHeader("Authorization", "AWS4-HMAC-SHA256 Credential=" + c.accessKey + '/' + scope +
                                          ", SignedHeaders=" + signedNames + ", Signature=" + signature);
    req.setTransferTimeout(kUploadTimeoutSeconds * 1000);
    return req;
}

struct Remote {
    qint64 size = -1;
    QByteArray etag;  // without quotes
};

// Every object under prefix, by key (ListObjectsV2, page by page).
bool listRemote(const QUrl& bucketUrl, const QString& prefix, const Credentials& c, QHash<QString, Remote>& out)
{
    QNetworkAccessManager nam;
    QByteArray token;
    for (;;) {
        QList<QPair<QByteArray, QByteArray>> query = {{"list-type", "2"}};
        if (!prefix.isEmpty())
            query.append({"prefix", prefix.toUtf8() + '/'});
        if (!token.isEmpty())
            query.append({"continuation-token", token});
        QNetworkReply* reply = nam.get(signedGet(bucketUrl, query, c));
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QByteArray body = reply->readAll();
        const QString transport = reply->errorString();
        const bool failed = reply->error() != QNetworkReply::NoError && status == 0;
        reply->deleteLater();
        if (failed || status != 200) {
            complain(QStringLiteral("cannot list %1: %2").arg(bucketUrl.toString(),
                                                               failed ? transport : QStringLiteral("HTTP %1 %2").arg(status).arg(QString::fromUtf8(body.left(300)))));
            return false;
        }
        QXmlStreamReader xml(body);
        bool truncated = false;
        token.clear();
        QString key;
        Remote r;
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isStartElement()) {
                const auto name = xml.name();
                if (name == QLatin1String("Contents")) {
                    key.clear();
                    r = Remote();
                } else if (name == QLatin1String("Key")) {
                    key = xml.readElementText();
                } else if (name == QLatin1String("Size")) {
                    r.size = xml.readElementText().toLongLong();
                } else if (name == QLatin1String("ETag")) {
                    r.etag = xml.readElementText().toLatin1().replace("\"", "").replace("&quot;", "");
                } else if (name == QLatin1String("IsTruncated")) {
                    truncated = xml.readElementText() == QLatin1String("true");
                } else if (name == QLatin1String("NextContinuationToken")) {
                    token = xml.readElementText().toUtf8();
                }
            } else if (xml.isEndElement() && xml.name() == QLatin1String("Contents") && !key.isEmpty()) {
                out.insert(key, r);
            }
        }
        if (xml.hasError()) {
            complain(QStringLiteral("unreadable listing: %1").arg(xml.errorString()));
            return false;
        }
        if (!truncated)
            return true;
        if (token.isEmpty()) {
            complain(QStringLiteral("truncated listing without a continuation token"));
            return false;
        }
    }
}

QByteArray fileMd5(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash h(QCryptographicHash::Md5);
    h.addData(&f);
    return h.result().toHex();
}

// Present: the same key with the same size, and the same MD5 where the store's
// ETag is a plain MD5 (single-part uploads).
bool present(const QHash<QString, Remote>& remote, const QString& key, const QString& path)
{
    const auto it = remote.constFind(key);
    if (it == remote.constEnd() || it->size != QFileInfo(path).size())
        return false;
    const QByteArray& etag = it->etag;
    const bool plainMd5 = etag.size() == 32 && !etag.contains('-');
    return !plainMd5 || etag.toLower() == fileMd5(path);
}

struct Job {
    QString path;
    QString prefix;  // the object's key without the file name
};

// Runs the jobs through the network library, kParallel at a time; true when
// every one succeeded.
bool runUploads(OrbNetwork& net, const OrbNetConfig& config, const std::vector<Job>& jobs)
{
    std::deque<Job> queue(jobs.begin(), jobs.end());
    int running = 0;
    int failures = 0;
    QEventLoop loop;
    std::function<void()> next;
    auto ended = [&](const std::shared_ptr<OrbNetUpload>& up) {
        --running;
        if (up->Error() != 0) {
            ++failures;
            complain(QStringLiteral("upload of %1 failed: %2 (%3)")
                         .arg(QString::fromStdString(up->LocalPath()), QString::fromStdString(up->ErrorMsg()))
                         .arg(int(up->Error())));
        } else {
            std::printf("uploaded %s\n", up->RemotePath().c_str());
        }
        next();
    };
    next = [&]() {
        while (running < kParallel && !queue.empty() && failures == 0) {
            const Job job = queue.front();
            queue.pop_front();
            OrbNetUploadReq req(job.prefix.toStdString(), job.path.toStdString(), config);
            req.SetTimeout(kUploadTimeoutSeconds);
            std::shared_ptr<OrbNetUpload> up = net.Upload(req);
            ++running;
            QPointer<QEventLoop> target(&loop);
            const bool waiting = up->Async(
                [target, &ended](const std::shared_ptr<OrbNetUpload>& u) {
                    // Finish callbacks run on the library's thread; the bookkeeping stays on ours.
                    if (target)
                        QMetaObject::invokeMethod(target, [u, &ended] { ended(u); }, Qt::QueuedConnection);
                },
                nullptr);
            if (!waiting)
                QMetaObject::invokeMethod(&loop, [up, &ended] { ended(up); }, Qt::QueuedConnection);
        }
        if (running == 0)
            loop.quit();
    };
    QMetaObject::invokeMethod(&loop, [&] { next(); }, Qt::QueuedConnection);
    loop.exec();
    return failures == 0 && queue.empty();
}

} // namespace

int OrbPublishUpload(const OrbPublishUploadOptions& o)
{
    Credentials c;
    c.accessKey = qgetenv("AWS_ACCESS_KEY_ID");
    c.secretKey = qgetenv("AWS_SECRET_ACCESS_KEY");
    c.token = qgetenv("AWS_SESSION_TOKEN");
    c.region = qgetenv("AWS_REGION");
    if (c.region.isEmpty())
        c.region = "us-east-1";
    if (c.accessKey.isEmpty() || c.secretKey.isEmpty()) {
        complain(QStringLiteral("AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY must be set"));
        return 2;
    }
    const QString storeRoot = QDir(o.storeFolder).absolutePath();
    if (!QFileInfo(storeRoot + QStringLiteral("/manifests")).isDir()) {
        complain(QStringLiteral("%1 is not a store (no manifests folder)").arg(storeRoot));
        return 1;
    }
    const QString bucket = o.bucketPrefix.section(QLatin1Char('/'), 0, 0);
    QString prefix = o.bucketPrefix.section(QLatin1Char('/'), 1);
    while (prefix.endsWith(QLatin1Char('/')))
        prefix.chop(1);
    QString endpoint = o.endpoint;
    while (endpoint.endsWith(QLatin1Char('/')))
        endpoint.chop(1);
    const QUrl bucketUrl(endpoint + QLatin1Char('/') + bucket);
    if (bucket.isEmpty() || !bucketUrl.isValid() || bucketUrl.host().isEmpty() ||
        (bucketUrl.scheme() != QLatin1String("http") && bucketUrl.scheme() != QLatin1String("https"))) {
        complain(QStringLiteral("bad endpoint or bucket: %1 %2").arg(o.endpoint, o.bucketPrefix));
        return 2;
    }

    QHash<QString, Remote> remote;
    if (!listRemote(bucketUrl, prefix, c, remote))
        return 1;

    // Chunks and packs first, manifests after them.
    std::vector<Job> chunks, manifests;
    int skipped = 0;
    const QString keyBase = prefix.isEmpty() ? QString() : prefix + QLatin1Char('/');
    auto consider = [&](const QString& path, std::vector<Job>& into) {
        const QString rel = QDir(storeRoot).relativeFilePath(path);
        const QString key = keyBase + rel;
        if (present(remote, key, path)) {
            ++skipped;
            return;
        }
        into.push_back({path, key.section(QLatin1Char('/'), 0, -2)});
    };
    QStringList chunkFiles;
    QDirIterator it(storeRoot + QStringLiteral("/chunks"), {QStringLiteral("*.zst")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        chunkFiles.append(it.next());
    chunkFiles.sort();
    for (const QString& path : chunkFiles)
        consider(path, chunks);
    // Packs go with the chunks, before any manifest that would lead a launcher to them.
    const QDir pdir(storeRoot + QStringLiteral("/packs"));
    for (const QString& name : pdir.entryList({QStringLiteral("*.pack")}, QDir::Files, QDir::Name))
        consider(pdir.filePath(name), chunks);
    QStringList manifestFiles;
    const QDir mdir(storeRoot + QStringLiteral("/manifests"));
    for (const QString& name : mdir.entryList({QStringLiteral("*.manifest")}, QDir::Files, QDir::Name)) {
        manifestFiles.append(mdir.filePath(name));
        if (QFileInfo::exists(mdir.filePath(name + QStringLiteral(".sig"))))
            manifestFiles.append(mdir.filePath(name + QStringLiteral(".sig")));
    }
    for (const QString& path : manifestFiles)
        consider(path, manifests);

    if (chunks.empty() && manifests.empty()) {
        std::printf("nothing to upload: %d objects already present\n", skipped);
        return 0;
    }

    OrbNetConfig config;
    config.SetUserAgent("orbpublish");
    const QByteArray resolvers = qgetenv("ORBPUBLISH_RESOLVERS");
    if (!resolvers.isEmpty()) {
        const QList<QByteArray> two = resolvers.split(',');
        config.SetResolvers(two.value(0).trimmed().toStdString(), two.value(two.size() > 1 ? 1 : 0).trimmed().toStdString());
    }
    CredentialService service;
    if (!service.Start()) {
        complain(QStringLiteral("cannot listen on loopback for the credential hand-over"));
        return 1;
    }
    OrbNetwork net;
    net.Init(config);
    net.SetCosConfig(std::make_shared<EnvironmentCredentials>(service.Url(), c, bucketUrl.toString()));
    if (!runUploads(net, config, chunks) || !runUploads(net, config, manifests)) {
        complain(QStringLiteral("upload incomplete"));
        return 1;
    }
    std::printf("uploaded %d objects, %d already present\n", int(chunks.size() + manifests.size()), skipped);
    return 0;
}
