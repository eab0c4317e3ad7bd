#include "TestHttpServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QMetaObject>
#include <QPointer>
#include <QSemaphore>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <unistd.h>

namespace orbtest {

namespace {

QByteArray reasonFor(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

} // namespace

HttpReply HttpReply::ranged(const HttpRequest& req, const QByteArray& full)
{
    HttpReply rep;
    rep.headers.append(qMakePair(QByteArray("Accept-Ranges"), QByteArray("bytes")));
    const QByteArray range = req.header("range");
    if (!range.startsWith("bytes=")) {
        rep.body = full;
        return rep;
    }
    const QByteArray rangeSpec = range.mid(6);
    const int dash = rangeSpec.indexOf('-');
    bool okA = false;
    const qint64 a = rangeSpec.left(dash).toLongLong(&okA);
    qint64 b = full.size() - 1;
    if (dash >= 0 && dash + 1 < rangeSpec.size())
        b = qMin<qint64>(rangeSpec.mid(dash + 1).toLongLong(), full.size() - 1);
    if (!okA || dash < 0 || a >= full.size() || a > b) {
        rep.status = 416;
        rep.headers.append(qMakePair(QByteArray("Content-Range"), "bytes */" + QByteArray::number(full.size())));
        return rep;
    }
    rep.status = 206;
    rep.body = full.mid(a, b - a + 1);
    rep.headers.append(qMakePair(QByteArray("Content-Range"), "bytes " + QByteArray::number(a) + "-" + QByteArray::number(b) + "/" +
                                             QByteArray::number(full.size())));
    return rep;
}

// One client connection: parses requests one after another and plays the handler's replies.
class Connection : public QObject {
public:
    Connection(ServerCore* core, QTcpSocket* sock, int index);
    void onRead();
    void sendNextPiece();

    ServerCore* core;
    QTcpSocket* sock;
    int index;
    QByteArray buf;
    bool busy = false;
    // reply being played
    QList<QByteArray> pieces;
    int pieceDelay = 0;
    bool chunked = false;
    qint64 bodySent = 0;
    qint64 dropAfter = -1;
    qint64 stallAfter = -1;
    bool dropCleanly = false;
    bool closeAfter = false;
};

class ServerCore : public QTcpServer {
public:
    HttpHandler handler;
    bool tls = false;
    QSslConfiguration sslConf;
    mutable QMutex lock;
    QList<HttpRequest> log;
    int conns = 0;

    void incomingConnection(qintptr fd) override
    {
        QTcpSocket* sock = nullptr;
        if (tls) {
            auto* s = new QSslSocket(this);
            s->setSslConfiguration(sslConf);
            if (!s->setSocketDescriptor(fd)) {
                delete s;
                return;
            }
            s->startServerEncryption();
            sock = s;
        } else {
            sock = new QTcpSocket(this);
            if (!sock->setSocketDescriptor(fd)) {
                delete sock;
                return;
            }
        }
        int idx;
        {
            QMutexLocker l(&lock);
            idx = ++conns;
        }
        auto* c = new Connection(this, sock, idx);
        c->setParent(sock);
        connect(sock, &QTcpSocket::readyRead, c, [c] { c->onRead(); });
        connect(sock, &QTcpSocket::disconnected, sock, &QObject::deleteLater);
        if (sock->bytesAvailable() > 0)
            c->onRead();
    }
};

Connection::Connection(ServerCore* c, QTcpSocket* s, int i) : core(c), sock(s), index(i) {}

void Connection::onRead()
{
    buf += sock->readAll();
    while (!busy) {
        const int end = buf.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> lines = buf.left(end).split('\n');
        HttpRequest req;
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        req.method = first.value(0);
        req.target = first.value(1);
        for (int i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const int colon = line.indexOf(':');
            if (colon > 0)
                req.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
        }
        const qint64 len = req.headers.value("content-length").toLongLong();
        if (buf.size() < end + 4 + len)
            return;
        req.body = buf.mid(end + 4, len);
        buf.remove(0, end + 4 + len);
        QByteArray t = req.target;
        if (t.startsWith("http://") || t.startsWith("https://")) {
            const int slash = t.indexOf('/', t.indexOf("//") + 2);
            t = slash < 0 ? QByteArray("/") : t.mid(slash);
        }
        const int q = t.indexOf('?');
        req.path = q < 0 ? t : t.left(q);
        req.query = q < 0 ? QByteArray() : t.mid(q + 1);
        req.peerAddress = QHostAddress(sock->peerAddress().toIPv4Address()).toString();
        req.connection = index;
        {
            QMutexLocker l(&core->lock);
            core->log.append(req);
        }
        const HttpReply rep = core->handler ? core->handler(req) : HttpReply();
        busy = true;
        if (rep.noResponse)
            return;  // stays busy: the connection hangs until the client gives up

        QByteArray head = "HTTP/1.1 " + QByteArray::number(rep.status) + " " +
                          (rep.reason.isEmpty() ? reasonFor(rep.status) : rep.reason) + "\r\n";
        bool hasType = false;
        for (const auto& h : rep.headers) {
            head += h.first + ": " + h.second + "\r\n";
            if (h.first.toLower() == "content-type")
                hasType = true;
        }
        if (!hasType && !rep.body.isEmpty())
            head += "Content-Type: application/octet-stream\r\n";
        const bool noBody = req.method == "HEAD" || rep.status == 204 || rep.status == 304;
        if (rep.chunked)
            head += "Transfer-Encoding: chunked\r\n";
        else if (!rep.omitLength)
            head += "Content-Length: " + QByteArray::number(rep.body.size()) + "\r\n";
        closeAfter = rep.closeAfter || rep.omitLength;
        if (closeAfter)
            head += "Connection: close\r\n";
        head += "\r\n";
        sock->write(head);

        pieces.clear();
        if (!noBody) {
            const int step = rep.chunkSize > 0 ? rep.chunkSize : qMax(1, int(rep.body.size()));
            for (int off = 0; off < rep.body.size(); off += step)
                pieces.append(rep.body.mid(off, step));
        }
        chunked = rep.chunked && !noBody;
        pieceDelay = rep.chunkDelayMs;
        bodySent = 0;
        dropAfter = rep.dropAfter;
        stallAfter = rep.stallAfter;
        dropCleanly = rep.dropCleanly;
        sendNextPiece();
    }
}

void Connection::sendNextPiece()
{
    QPointer<QTcpSocket> guard(sock);
    while (guard) {
        if ((dropAfter >= 0 && bodySent >= dropAfter)) {
            sock->flush();
            if (dropCleanly)
                sock->disconnectFromHost();
            else
                sock->abort();
            return;
        }
        if (stallAfter >= 0 && bodySent >= stallAfter) {
            sock->flush();
            return;  // busy forever
        }
        if (pieces.isEmpty()) {
            if (chunked)
                sock->write("0\r\n\r\n");
            if (closeAfter) {
                sock->disconnectFromHost();
                return;
            }
            busy = false;
            if (!buf.isEmpty())
                QTimer::singleShot(0, this, [this] { onRead(); });
            return;
        }
        QByteArray piece = pieces.takeFirst();
        qint64 limit = -1;
        if (dropAfter >= 0)
            limit = dropAfter - bodySent;
        if (stallAfter >= 0)
            limit = limit < 0 ? stallAfter - bodySent : qMin(limit, stallAfter - bodySent);
        if (limit >= 0 && piece.size() > limit) {
            pieces.prepend(piece.mid(limit));
            piece = piece.left(limit);
        }
        if (chunked)
            sock->write(QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n");
        else
            sock->write(piece);
        bodySent += piece.size();
        if (pieceDelay > 0 && !pieces.isEmpty()) {
            sock->flush();
            QTimer::singleShot(pieceDelay, this, [this] { sendNextPiece(); });
            return;
        }
    }
}

TestHttpServer::TestHttpServer() = default;

TestHttpServer::~TestHttpServer() { stop(); }

static bool runOnThread(QObject* ctx, const std::function<void()>& fn)
{
    return QMetaObject::invokeMethod(ctx, fn, Qt::BlockingQueuedConnection);
}

bool TestHttpServer::start(HttpHandler handler, const QString& address)
{
    stop();
    m_tls = false;
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("TestHttpServer"));
    m_core = std::make_unique<ServerCore>();
    m_core->handler = std::move(handler);
    m_core->tls = m_tls;
    m_core->moveToThread(m_thread);
    m_thread->start();
    bool ok = false;
    ServerCore* core = m_core.get();
    runOnThread(core, [&] { ok = core->listen(QHostAddress(address), 0); });
    if (!ok)
        stop();
    return ok;
}

bool TestHttpServer::startTls(const QByteArray& certPem, const QByteArray& keyPem, HttpHandler handler)
{
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.setLocalCertificate(QSslCertificate(certPem, QSsl::Pem));
    conf.setPrivateKey(QSslKey(keyPem, QSsl::Rsa, QSsl::Pem));
    conf.setPeerVerifyMode(QSslSocket::VerifyNone);
    m_tls = true;
    stop();
    m_thread = new QThread;
    m_core = std::make_unique<ServerCore>();
    m_core->handler = std::move(handler);
    m_core->tls = true;
    m_core->sslConf = conf;
    m_core->moveToThread(m_thread);
    m_thread->start();
    bool ok = false;
    ServerCore* core = m_core.get();
    runOnThread(core, [&] { ok = core->listen(QHostAddress::LocalHost, 0); });
    if (!ok)
        stop();
    return ok;
}

void TestHttpServer::stop()
{
    if (!m_thread)
        return;
    ServerCore* core = m_core.get();
    runOnThread(core, [core] {
        core->close();
        const auto socks = core->findChildren<QTcpSocket*>(QString(), Qt::FindDirectChildrenOnly);
        for (QTcpSocket* s : socks) {
            s->abort();
            delete s;
        }
    });
    // The core must die on its own thread.
    ServerCore* raw = m_core.release();
    QMetaObject::invokeMethod(raw, [raw] { delete raw; }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}

quint16 TestHttpServer::port() const { return m_core ? m_core->serverPort() : 0; }

QString TestHttpServer::host() const
{
    return m_core ? m_core->serverAddress().toString() : QString();
}

QString TestHttpServer::url(const QString& path) const
{
    return QStringLiteral("%1://%2:%3%4")
        .arg(m_tls ? QStringLiteral("https") : QStringLiteral("http"), host())
        .arg(port())
        .arg(path);
}

QList<HttpRequest> TestHttpServer::requests() const
{
    if (!m_core)
        return {};
    QMutexLocker l(&m_core->lock);
    return m_core->log;
}

int TestHttpServer::count(const QByteArray& method) const
{
    if (!m_core)
        return 0;
    QMutexLocker l(&m_core->lock);
    int n = 0;
    for (const auto& r : m_core->log)
        if (method.isEmpty() || r.method == method)
            ++n;
    return n;
}

int TestHttpServer::connections() const
{
    if (!m_core)
        return 0;
    QMutexLocker l(&m_core->lock);
    return m_core->conns;
}

void TestHttpServer::clearLog()
{
    if (!m_core)
        return;
    QMutexLocker l(&m_core->lock);
    m_core->log.clear();
}

quint16 freePort()
{
    QTcpServer s;
    if (!s.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 p = s.serverPort();
    s.close();
    return p;
}

void clearProxyEnv()
{
    for (const char* v : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                          "ftp_proxy", "FTP_PROXY", "socks_proxy", "SOCKS_PROXY", "no_proxy", "NO_PROXY"})
        qunsetenv(v);
}

bool makeSelfSignedCert(const QString& dir, QByteArray* certPem, QByteArray* keyPem)
{
    const QString cert = dir + QStringLiteral("/cert.pem");
    const QString key = dir + QStringLiteral("/key.pem");
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("openssl"),
            {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj",
             "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return false;
    QFile c(cert), k(key);
    if (!c.open(QIODevice::ReadOnly) || !k.open(QIODevice::ReadOnly))
        return false;
    *certPem = c.readAll();
    *keyPem = k.readAll();
    return true;
}

ExternalDaemon::~ExternalDaemon() { stop(); }

bool ExternalDaemon::start(const QString& program, const QStringList& args, quint16 port, int timeoutMs)
{
    stop();
    m_port = port;
    m_proc = std::make_unique<QProcess>();
    m_proc->setProcessChannelMode(QProcess::MergedChannels);
    m_proc->setWorkingDirectory(m_dir.path());
    m_proc->start(program, args);
    if (!m_proc->waitForStarted(timeoutMs))
        return false;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        if (m_proc->state() != QProcess::Running)
            return false;
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port);
        if (s.waitForConnected(200)) {
            s.disconnectFromHost();
            return true;
        }
        QThread::msleep(20);
    }
    return false;
}

void ExternalDaemon::stop()
{
    if (!m_proc)
        return;
    if (m_proc->state() != QProcess::NotRunning) {
        m_proc->terminate();
        if (!m_proc->waitForFinished(3000)) {
            m_proc->kill();
            m_proc->waitForFinished(3000);
        }
    }
    m_proc.reset();
}

bool ExternalDaemon::running() const { return m_proc && m_proc->state() == QProcess::Running; }

QByteArray ExternalDaemon::output() const { return m_proc ? m_proc->readAll() : QByteArray(); }

bool startMicrosocks(ExternalDaemon& d, quint16 port, const QString& bindAddress)
{
    QStringList args{"-i", "127.0.0.1", "-p", QString::number(port)};
    if (!bindAddress.isEmpty())
        args << "-b" << bindAddress;
    return d.start(QStringLiteral("microsocks"), args, port);
}

bool startTinyproxy(ExternalDaemon& d, quint16 port, const QString& bindAddress)
{
    const QString conf = d.workDir() + QStringLiteral("/tinyproxy.conf");
    QFile f(conf);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray text = "Port " + QByteArray::number(port) + "\nListen 127.0.0.1\nTimeout 30\nMaxClients 50\n"
                      "Allow 127.0.0.1\nLogLevel Error\nDisableViaHeader Yes\n";
    if (!bindAddress.isEmpty())
        text += "Bind " + bindAddress.toLatin1() + "\n";
    if (::getuid() == 0)
        text += "User nobody\nGroup nogroup\n";
    f.write(text);
    f.close();
    return d.start(QStringLiteral("tinyproxy"), {"-d", "-c", conf}, port);
}

bool startNginx(ExternalDaemon& d, quint16 port, const QString& root, const QByteArray& limitRate,
                const QString& accessLog)
{
    const QString dir = d.workDir();
    QDir().mkpath(dir + QStringLiteral("/logs"));
    const QString conf = dir + QStringLiteral("/nginx.conf");
    QFile f(conf);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray p = QByteArray::number(port);
    const QByteArray tmp = dir.toUtf8();
    QByteArray text = "daemon off;\nworker_processes 1;\npid " + tmp + "/nginx.pid;\nerror_log " + tmp +
                      "/logs/error.log;\nevents { worker_connections 64; }\nhttp {\n  access_log " +
                      (accessLog.isEmpty() ? QByteArray("off") : accessLog.toUtf8()) + ";\n" +
                      (limitRate.isEmpty() ? QByteArray() : "  limit_rate " + limitRate + ";\n") +
                      "  client_body_temp_path " + tmp + "/body;\n  proxy_temp_path " + tmp + "/proxy;\n"
                      "  fastcgi_temp_path " + tmp + "/fcgi;\n  uwsgi_temp_path " + tmp + "/uwsgi;\n"
                      "  scgi_temp_path " + tmp + "/scgi;\n  server {\n    listen 127.0.0.1:" + p +
                      ";\n    root " + root.toUtf8() + ";\n  }\n}\n";
    if (::getuid() == 0)
        text = "user root;\n" + text;
    f.write(text);
    f.close();
    return d.start(QStringLiteral("nginx"), {"-p", dir, "-c", conf, "-e", dir + "/logs/error.log"}, port);
}

} // namespace orbtest
