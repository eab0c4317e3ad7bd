// Proxy choice per route, a real SOCKS5 proxy (microsocks) on loopback, and the
// binding of each request to its own proxy when modes alternate back to back.
#include "OrbNetTestUtil.h"
#include "OrbNetProxyQuery_p.h"

#include <QNetworkProxy>
#include <QtTest>
#include <atomic>

using namespace orbtest;
using orbtest::loopbackConfig;
using orbtest::makeEngine;
using orbtest::withProbes;

class tst_OrbNetProxyQuery : public QObject {
    Q_OBJECT

    // Outgoing connections of the proxy leave from this address, so the server can
    // tell proxied requests from direct ones.
    const QString socksSource = QStringLiteral("127.0.0.2");
    ExternalDaemon socks;

private slots:
    void initTestCase()
    {
        clearProxyEnv();
        QVERIFY2(startMicrosocks(socks, freePort(), socksSource), socks.output().constData());
    }

    void factory_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("expectedPort");
        QTest::newRow("direct") << int(ProxyDirect) << 0 << int(QNetworkProxy::NoProxy) << 0;
        QTest::newRow("auto-is-no-proxy") << int(ProxyAuto) << 0 << int(QNetworkProxy::NoProxy) << 0;
        QTest::newRow("unknown-is-no-proxy") << 9 << 0 << int(QNetworkProxy::NoProxy) << 0;
        QTest::newRow("system-without-proxy") << int(ProxySystem) << 0 << int(QNetworkProxy::NoProxy) << 0;
        QTest::newRow("socks5") << int(ProxySocks5) << 1080 << int(QNetworkProxy::Socks5Proxy) << 1080;
        QTest::newRow("socks5-port-16-bit") << int(ProxySocks5) << 65536 + 1080 << int(QNetworkProxy::Socks5Proxy)
                                            << 1080;
    }
    void factory()
    {
        QFETCH(int, mode);
        QFETCH(int, port);
        QFETCH(int, type);
        QFETCH(int, expectedPort);
        OrbNetProxyQuery q(ProxyMode(mode), "127.0.0.1", port);
        const auto list = q.queryProxy(QNetworkProxyQuery(QUrl("http://127.0.0.1:1/")));
        QCOMPARE(list.size(), 1);
        QCOMPARE(int(list.first().type()), type);
        if (type == QNetworkProxy::Socks5Proxy) {
            QCOMPARE(list.first().hostName(), QString("127.0.0.1"));
            QCOMPARE(int(list.first().port()), expectedPort);
            QVERIFY(list.first().user().isEmpty());
        }
    }

    void socks5Request_data()
    {
        QTest::addColumn<int>("portOffset");
        QTest::newRow("plain-port") << 0;
        QTest::newRow("port-above-16-bit") << 65536;
    }
    void socks5Request()
    {
        QFETCH(int, portOffset);
        TestHttpServer srv;
        QVERIFY(srv.start(withProbes([](const HttpRequest&) {
            HttpReply r;
            r.body = "via";
            return r;
        })));
        auto net = makeEngine();
        OrbNetRequest req(loopbackConfig());
        req.SetUrl(srv.url("/s").toStdString(), false).SetProxy(ProxySocks5, "127.0.0.1", socks.port() + portOffset);
        auto r = net->Do(req);
        QVERIFY(r->Sync(nullptr));
        QCOMPARE(r->GetBody(), std::string("via"));
        QCOMPARE(int(r->SelectMode()), int(ProxySocks5));
        QCOMPARE(r->IPv4(), std::string("127.0.0.1"));
        const auto reqs = srv.requests();
        QCOMPARE(reqs.last().path, QByteArray("/s"));
        QCOMPARE(reqs.last().peerAddress, socksSource);
    }

    void systemModeWithoutSystemProxyGoesDirect()
    {
        TestHttpServer srv;
        QVERIFY(srv.start([](const HttpRequest&) { return HttpReply(); }));
        auto net = makeEngine();
        for (ProxyMode m : {ProxySystem, ProxyAuto, ProxyDirect}) {
            OrbNetRequest req(loopbackConfig());
            req.SetUrl(srv.url("/d").toStdString(), false).SetProxy(m, std::string(), 0);
            auto r = net->Do(req);
            QVERIFY(r->Sync(nullptr));
            QCOMPARE(int(r->SelectMode()), int(ProxyDirect));
        }
        for (const auto& x : srv.requests())
            QCOMPARE(x.peerAddress, QString("127.0.0.1"));
    }

    void eachRequestKeepsItsOwnProxy()
    {
        TestHttpServer srv;
        QVERIFY(srv.start(withProbes([](const HttpRequest&) { return HttpReply(); })));
        auto net = makeEngine();
        QVERIFY(net->Get(srv.url("/warm").toStdString())->Sync(nullptr));  // parser ready: dispatch is immediate
        const int n = 30;
        std::vector<std::shared_ptr<OrbNetResponse>> rs;
        for (int i = 0; i < n; ++i) {
            OrbNetRequest req(loopbackConfig());
            req.SetUrl(srv.url("/b").toStdString() + "?i=" + std::to_string(i), false);
            if (i % 2 == 0)
                req.SetProxy(ProxySocks5, "127.0.0.1", socks.port());
            else
                req.SetProxy(ProxyDirect, std::string(), 0);
            rs.push_back(net->Do(req));
        }
        for (int i = 0; i < n; ++i) {
            QVERIFY(rs[i]->Sync(nullptr));
            QCOMPARE(int(rs[i]->SelectMode()), i % 2 == 0 ? int(ProxySocks5) : int(ProxyDirect));
        }
        int seen = 0;
        for (const auto& x : srv.requests()) {
            if (x.path != "/b")
                continue;
            ++seen;
            const int i = x.query.mid(2).toInt();
            QCOMPARE(x.peerAddress, i % 2 == 0 ? socksSource : QString("127.0.0.1"));
        }
        QCOMPARE(seen, n);
    }
};

QTEST_GUILESS_MAIN(tst_OrbNetProxyQuery)
#include "tst_orbnetproxyquery.moc"
