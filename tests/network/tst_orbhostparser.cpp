// The host parser's system-proxy question answered by a real HTTP proxy (tinyproxy)
// that this process reports as its system proxy: type-2 routes appear and carry
// ProxySystem traffic; ProxyAuto picks one of the two routes.
#include "OrbNetTestUtil.h"
#include "OrbNetwork_p.h"

#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QtTest>
#include <mutex>
#include <set>

using namespace orbtest;
using orbtest::loopbackConfig;
using orbtest::makeEngine;
using orbtest::withProbes;

class tst_OrbHostParser : public QObject {
    Q_OBJECT

    const QString proxySource = QStringLiteral("127.0.0.3");
    ExternalDaemon proxy;

private slots:
    void initTestCase()
    {
        clearProxyEnv();
        QVERIFY2(startTinyproxy(proxy, freePort(), proxySource), proxy.output().constData());
        // Set before any engine starts; nothing excludes loopback from the proxy.
        const QByteArray url = "http://127.0.0.1:" + QByteArray::number(proxy.port());
        qputenv("http_proxy", url);
        qputenv("https_proxy", url);
        const auto list = QNetworkProxyFactory::systemProxyForQuery(
            QNetworkProxyQuery(QUrl("http://127.0.0.1/"), QNetworkProxyQuery::UrlRequest));
        QVERIFY(!list.isEmpty());
        QCOMPARE(int(list.first().type()), int(QNetworkProxy::HttpProxy));
    }
    void cleanupTestCase() { clearProxyEnv(); }

    void systemProxyRoutes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("selectMode");  // 0: either route
        QTest::newRow("system") << int(ProxySystem) << int(ProxySystem);
        QTest::newRow("direct") << int(ProxyDirect) << int(ProxyDirect);
        QTest::newRow("auto") << int(ProxyAuto) << 0;
    }
    void systemProxyRoutes()
    {
        QFETCH(int, mode);
        QFETCH(int, selectMode);
        TestHttpServer srv;
        QVERIFY(srv.start(withProbes([](const HttpRequest&) {
            HttpReply r;
            r.body = "ok";
            return r;
        })));
        std::mutex lock;
        std::set<int> probeModes;
        auto net = makeEngine();
        OrbNetworkPrivate::get(net.get())->SetDispatchObserver([&](int, ProxyMode m, const std::string&) {
            std::lock_guard<std::mutex> l(lock);
            probeModes.insert(m);
        });
        OrbNetRequest req(loopbackConfig());
        req.SetUrl(srv.url("/p").toStdString(), false).SetProxy(ProxyMode(mode), std::string(), 0);
        auto r = net->Do(req);
        QVERIFY(r->Sync(nullptr));
        OrbNetworkPrivate::get(net.get())->SetDispatchObserver(nullptr);
        QCOMPARE(r->GetBody(), std::string("ok"));
        // Both the direct and the system-proxy route of the address were probed.
        QVERIFY(probeModes.count(ProxyDirect));
        QVERIFY(probeModes.count(ProxySystem));
        const int used = r->SelectMode();
        if (selectMode)
            QCOMPARE(used, selectMode);
        else
            QVERIFY(used == ProxyDirect || used == ProxySystem);
        HttpRequest seen;
        int options = 0;
        for (const auto& x : srv.requests()) {
            if (x.path == "/p")
                seen = x;
            options += x.method == "OPTIONS";
        }
        QCOMPARE(options, 2);
        QCOMPARE(seen.peerAddress, used == ProxySystem ? proxySource : QString("127.0.0.1"));
    }
};

QTEST_GUILESS_MAIN(tst_OrbHostParser)
#include "tst_orbhostparser.moc"
