#pragma once
// Shared test support: a loopback HTTP/1.1 server driven by a handler, free-port
// lookup and a runner for outside daemons (tinyproxy, microsocks, nginx).
//
// Usage:
//   orbtest::TestHttpServer srv;
//   srv.start([](const orbtest::HttpRequest& r) {
//       orbtest::HttpReply rep;                       // 200, empty body
//       if (r.path == "/slow") { rep.body = QByteArray(4096, 'x'); rep.chunkSize = 512; rep.chunkDelayMs = 50; }
//       if (r.path == "/drop") { rep.body = QByteArray(4096, 'x'); rep.dropAfter = 100; }
//       if (r.path == "/range") return orbtest::HttpReply::ranged(r, QByteArray(1000, 'r'));
//       return rep;
//   });
//   QString url = srv.url("/slow");                   // http://127.0.0.1:<port>/slow
//   ... srv.requests(), srv.count("GET") ...
//
// The server runs on its own thread, so a test may block its main thread (for
// example in a synchronous network call) while the server keeps answering. The
// handler runs on that server thread; protect anything it shares with the test.
// Keep-alive is supported; every accepted connection and every request is logged.
//
// TLS: startTls(certPem, keyPem, handler) serves HTTPS; makeSelfSignedCert() writes a
// throw-away certificate for 127.0.0.1 with the openssl command-line tool.
//
// Refused connections: freePort() returns a loopback port nobody listens on.
//
// Daemons: ExternalDaemon starts a program with a config written into a temp folder
// and waits until its port accepts connections; startTinyproxy/startMicrosocks/
// startNginx wrap the three Debian servers the network tests use.
//
// Nothing here ever binds or connects outside 127.0.0.0/8.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>

class QThread;

namespace orbtest {

struct HttpRequest {
    QByteArray method;                    // "GET", "OPTIONS", ...
    QByteArray target;                    // request target as sent (may be absolute through a proxy)
    QByteArray path;                      // target without the query
    QByteArray query;                     // raw query, without "?"
    QMap<QByteArray, QByteArray> headers; // names lower-cased
    QByteArray body;
    QString peerAddress;                  // e.g. "127.0.0.1"
    int connection = 0;                   // 1-based index of the connection it came on
    QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
};

struct HttpReply {
    int status = 200;
    QByteArray reason;                                  // empty: a standard phrase
    QList<QPair<QByteArray, QByteArray>> headers;       // extra headers
    QByteArray body;
    bool chunked = false;      // Transfer-Encoding: chunked instead of Content-Length
    int chunkSize = 0;         // split the body into pieces of this size (0: one piece)
    int chunkDelayMs = 0;      // pause before each piece after the first (slow body)
    qint64 dropAfter = -1;     // abort the connection after this many body bytes
    bool dropCleanly = false;  // with dropAfter: an orderly close (FIN) instead of a reset
    qint64 stallAfter = -1;    // stop sending after this many body bytes, keep the connection open
    bool noResponse = false;   // read the request, never answer
    bool closeAfter = false;   // "Connection: close" and close once sent
    bool omitLength = false;   // neither Content-Length nor chunked: body ends at close

    // A reply honouring a "Range: bytes=a-b" header of the request against the full content.
    static HttpReply ranged(const HttpRequest& req, const QByteArray& full);
};

using HttpHandler = std::function<HttpReply(const HttpRequest&)>;

class ServerCore;

class TestHttpServer {
public:
    TestHttpServer();
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    // Listens on 127.0.0.1 (or the given loopback address) on a free port; false on failure.
    bool start(HttpHandler handler, const QString& address = QStringLiteral("127.0.0.1"));
    bool startTls(const QByteArray& certPem, const QByteArray& keyPem, HttpHandler handler);
    void stop();

    quint16 port() const;
    QString host() const;
    // "http://127.0.0.1:<port><path>" (https for a TLS server)
    QString url(const QString& path = QStringLiteral("/")) const;

    QList<HttpRequest> requests() const;
    int count(const QByteArray& method = QByteArray()) const;  // requests seen, optionally by method
    int connections() const;                                   // connections accepted
    void clearLog();

private:
    std::unique_ptr<ServerCore> m_core;
    QThread* m_thread = nullptr;
    bool m_tls = false;
};

// A loopback TCP port that was free a moment ago (nothing listens on it).
quint16 freePort();

// Drops every proxy variable from this process's environment, so that the
// transport never sees a system proxy unless a test sets one on purpose.
void clearProxyEnv();

// Writes a self-signed certificate and key for 127.0.0.1 into dir; false on failure.
bool makeSelfSignedCert(const QString& dir, QByteArray* certPem, QByteArray* keyPem);

class ExternalDaemon {
public:
    ExternalDaemon() = default;
    ~ExternalDaemon();
    ExternalDaemon(const ExternalDaemon&) = delete;
    ExternalDaemon& operator=(const ExternalDaemon&) = delete;

    // Starts program (absolute path or name on PATH) and waits until 127.0.0.1:port accepts.
    bool start(const QString& program, const QStringList& args, quint16 port, int timeoutMs = 5000);
    void stop();
    bool running() const;
    quint16 port() const { return m_port; }
    QString workDir() const { return m_dir.path(); }
    QByteArray output() const;   // what the daemon wrote so far (stdout and stderr)

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_proc;
    quint16 m_port = 0;
};

// microsocks on 127.0.0.1:<port>; outgoing connections leave from bindAddress when given.
bool startMicrosocks(ExternalDaemon& d, quint16 port, const QString& bindAddress = QString());
// tinyproxy on 127.0.0.1:<port> allowing loopback clients; outgoing connections from bindAddress when given.
bool startTinyproxy(ExternalDaemon& d, quint16 port, const QString& bindAddress = QString());
// nginx serving root on 127.0.0.1:<port>; limitRate (e.g. "200k") throttles each reply.
bool startNginx(ExternalDaemon& d, quint16 port, const QString& root, const QByteArray& limitRate = QByteArray(),
                const QString& accessLog = QString());

} // namespace orbtest
