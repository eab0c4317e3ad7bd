// Defaults, clamping and the empty (moved-from) state of the network configuration.
#include "OrbNetConfig.h"

#include <QtTest>

class tst_OrbNetConfig : public QObject {
    Q_OBJECT
private slots:
    void defaults()
    {
        OrbNetConfig c;
        std::string host = "keep";
        int port = 7;
        QCOMPARE(int(c.GetProxy(host, port)), int(ProxyAuto));
        QCOMPARE(host, std::string("keep"));
        QCOMPARE(port, 7);
        QCOMPARE(c.Timeout(), 0);
        QCOMPARE(c.RetryCount(), 0);
        QVERIFY(c.UserAgent().empty());
        QVERIFY(c.VerifyPeer());
        QCOMPARE(DefaultNetConfig.Timeout(), 8);
        QCOMPARE(DefaultNetConfig.UserAgent(), std::string("OrbLauncher"));
        QCOMPARE(int(DefaultNetConfig.GetProxy(host, port)), int(ProxyAuto));
        QVERIFY(DefaultNetConfig.VerifyPeer());
    }

    void setters_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("fills");
        QTest::newRow("socks5-fills") << int(ProxySocks5) << true;
        QTest::newRow("direct-keeps") << int(ProxyDirect) << false;
        QTest::newRow("system-keeps") << int(ProxySystem) << false;
    }
    void setters()
    {
        QFETCH(int, mode);
        QFETCH(bool, fills);
        OrbNetConfig c;
        c.SetProxy(ProxyMode(mode), "proxy.local", 1080).SetTimeout(-5).SetRetryCount(-5).SetUserAgent("UA");
        std::string host;
        int port = 0;
        QCOMPARE(int(c.GetProxy(host, port)), mode);
        QCOMPARE(host, std::string(fills ? "proxy.local" : ""));
        QCOMPARE(port, fills ? 1080 : 0);
        QCOMPARE(c.Timeout(), -5);
        QCOMPARE(c.RetryCount(), 0);
        QCOMPARE(c.SetRetryCount(4).RetryCount(), 4);
        QCOMPARE(c.UserAgent(), std::string("UA"));
    }

    void copyAndMove()
    {
        OrbNetConfig a;
        a.SetUserAgent("A").SetTimeout(3).SetVerifyPeer(false).SetResolvers("127.0.0.1", "127.0.0.2");
        OrbNetConfig b(a);
        a.SetUserAgent("changed");
        QCOMPARE(b.UserAgent(), std::string("A"));
        QVERIFY(!b.VerifyPeer());
        QCOMPARE(b.PublicResolver(), std::string("127.0.0.2"));
        OrbNetConfig c(std::move(b));
        QCOMPARE(c.Timeout(), 3);
        // The moved-from object is empty and stays empty.
        std::string host = "x";
        int port = 1;
        QCOMPARE(int(b.GetProxy(host, port)), int(ProxyDirect));
        QCOMPARE(host, std::string("x"));
        b.SetTimeout(9).SetUserAgent("y");
        QCOMPARE(b.Timeout(), 0);
        QVERIFY(b.UserAgent().empty());
        b = c;
        QVERIFY(b.IsEmpty());
        OrbNetConfig d;
        d = std::move(c);
        QCOMPARE(d.Timeout(), 3);
        QVERIFY(c.IsEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_OrbNetConfig)
#include "tst_orbnetconfig.moc"
