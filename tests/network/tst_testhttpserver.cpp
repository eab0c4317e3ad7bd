// Checks the shared loopback server and daemon helpers the network tests stand on.
#include "TestHttpServer.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QtTest>

using namespace orbtest;

class tst_TestHttpServer : public QObject {
    Q_OBJECT

    QNetworkReply* fetch(QNetworkAccessManager& nam, const QString& url, const QByteArray& range = {})
    {
        QNetworkRequest req{QUrl(url)};
        if (!range.isEmpty())
            req.setRawHeader("Range", range);
        req.setTransferTimeout(5000);
        QNetworkReply* r = nam.get(req);
        QEventLoop loop;
        connect(r, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        return r;
    }

private slots:
    void initTestCase() { clearProxyEnv(); }

    void replies_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("error");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("plain") << "/plain" << 0 << QByteArray("hello");
        QTest::newRow("chunked-slow") << "/chunked" << 0 << QByteArray(3000, 'c');
        // Qt does not always flag a connection cut short of its Content-Length
        // (-1: either outcome); what the server promises is the cut itself.
        QTest::newRow("dropped") << "/drop" << -1 << QByteArray(100, 'd');
        QTest::newRow("404") << "/missing" << int(QNetworkReply::ContentNotFoundError) << QByteArray("nf");
    }
    void replies()
    {
        QFETCH(QString, path);
        QFETCH(int, error);
        QFETCH(QByteArray, body);
        TestHttpServer srv;
        QVERIFY(srv.start([](const HttpRequest& r) {
            HttpReply rep;
            if (r.path == "/plain")
                rep.body = "hello";
            else if (r.path == "/chunked") {
                rep.body = QByteArray(3000, 'c');
                rep.chunked = true;
                rep.chunkSize = 1000;
                rep.chunkDelayMs = 20;
            } else if (r.path == "/drop") {
                rep.body = QByteArray(1000, 'd');
                rep.chunkSize = 100;
                rep.chunkDelayMs = 20;
                rep.dropAfter = 100;
            } else {
                rep.status = 404;
                rep.body = "nf";
            }
            return rep;
        }));
        QNetworkAccessManager nam;
        std::unique_ptr<QNetworkReply> r(fetch(nam, srv.url(path)));
        if (error >= 0)
            QCOMPARE(int(r->error()), error);
        else
            QVERIFY(r->error() == QNetworkReply::NoError || r->error() == QNetworkReply::RemoteHostClosedError);
        QCOMPARE(r->readAll(), body);
        // Qt may resend a GET once when its connection drops.
        if (error >= 0)
            QCOMPARE(srv.count("GET"), 1);
        else
            QVERIFY(srv.count("GET") >= 1 && srv.count("GET") <= 2);
    }

    void rangeAndRefused()
    {
        TestHttpServer srv;
        const QByteArray full(1000, 'r');
        QVERIFY(srv.start([&](const HttpRequest& r) { return HttpReply::ranged(r, full); }));
        QNetworkAccessManager nam;
        std::unique_ptr<QNetworkReply> r(fetch(nam, srv.url("/f"), "bytes=900-"));
        QCOMPARE(r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 206);
        QCOMPARE(r->readAll().size(), 100);
        std::unique_ptr<QNetworkReply> refused(
            fetch(nam, QStringLiteral("http://127.0.0.1:%1/").arg(freePort())));
        QCOMPARE(refused->error(), QNetworkReply::ConnectionRefusedError);
    }

    void tls()
    {
        QTemporaryDir dir;
        QByteArray cert, key;
        QVERIFY(makeSelfSignedCert(dir.path(), &cert, &key));
        TestHttpServer srv;
        QVERIFY(srv.startTls(cert, key, [](const HttpRequest&) { HttpReply r; r.body = "tls"; return r; }));
        QNetworkAccessManager nam;
        QNetworkRequest req{QUrl(srv.url("/t"))};
        QSslConfiguration c = req.sslConfiguration();
        c.setPeerVerifyMode(QSslSocket::VerifyNone);
        req.setSslConfiguration(c);
        std::unique_ptr<QNetworkReply> r(nam.get(req));
        QEventLoop loop;
        connect(r.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        QCOMPARE(r->error(), QNetworkReply::NoError);
        QCOMPARE(r->readAll(), QByteArray("tls"));
    }

    void nginxServesAFolder()
    {
        QTemporaryDir root;
        QFile f(root.path() + "/pkg.bin");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(2048, 'n'));
        f.close();
        ExternalDaemon web;
        QVERIFY2(startNginx(web, freePort(), root.path()), web.output().constData());
        QNetworkAccessManager nam;
        std::unique_ptr<QNetworkReply> r(
            fetch(nam, QStringLiteral("http://127.0.0.1:%1/pkg.bin").arg(web.port()), "bytes=2000-"));
        QCOMPARE(r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 206);
        QCOMPARE(r->readAll(), QByteArray(48, 'n'));
    }

    void proxies()
    {
        TestHttpServer srv;
        QVERIFY(srv.start([](const HttpRequest&) { return HttpReply(); }));
        ExternalDaemon socks, http;
        QVERIFY(startMicrosocks(socks, freePort(), "127.0.0.2"));
        QVERIFY2(startTinyproxy(http, freePort(), "127.0.0.3"), http.output().constData());
        QNetworkAccessManager nam;
        nam.setProxy(QNetworkProxy(QNetworkProxy::Socks5Proxy, "127.0.0.1", socks.port()));
        std::unique_ptr<QNetworkReply>(fetch(nam, srv.url("/s")));
        nam.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", http.port()));
        std::unique_ptr<QNetworkReply> r(fetch(nam, srv.url("/h")));
        QCOMPARE(r->error(), QNetworkReply::NoError);
        const auto reqs = srv.requests();
        QCOMPARE(reqs.size(), 2);
        QCOMPARE(reqs[0].peerAddress, QString("127.0.0.2"));
        QCOMPARE(reqs[1].peerAddress, QString("127.0.0.3"));
    }
};

QTEST_GUILESS_MAIN(tst_TestHttpServer)
#include "tst_testhttpserver.moc"
