// Probes through the engine against loopback servers: what a probe reports for reachable
// and unreachable routes, https by default, Sync from another thread and from the worker
// thread, callbacks registered before and after the answer.
#include "OrbNetTestUtil.h"
#include "OrbNetProbe.h"

#include <QtTest>
#include <atomic>
#include <thread>

using namespace orbtest;
using orbtest::loopbackConfig;
using orbtest::makeEngine;
using orbtest::withProbes;

class tst_OrbNetProbe : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { clearProxyEnv(); }

    void reachability_data()
    {
        QTest::addColumn<bool>("listening");
        QTest::newRow("reachable") << true;
        QTest::newRow("refused") << false;
    }
    void reachability()
    {
        QFETCH(bool, listening);
        TestHttpServer srv;
        QVERIFY(srv.start([](const HttpRequest&) { return HttpReply(); }));
        const QString url = listening ? srv.url("/x") : QStringLiteral("http://127.0.0.1:%1/x").arg(freePort());
        auto net = makeEngine();
        auto probe = net->Probe(url.toStdString());
        if (!probe->IsFinish())
            QVERIFY(probe->GetHostInfo().empty());
        probe->Sync();
        QVERIFY(probe->IsFinish());
        const auto list = probe->GetHostInfo();
        QCOMPARE(int(list.size()), 1);
        const OrbIPStatus& st = list.front();
        QCOMPARE(st.ip, std::string("127.0.0.1"));
        QCOMPARE(st.source, 0);
        QCOMPARE(int(st.mode), int(ProxyDirect));  // no system proxy here
        QCOMPARE(st.reachable, listening);
        if (listening)
            QVERIFY(st.latency >= 0 && st.latency < 2000);
        else
            QCOMPARE(st.latency, 2000);
        // Nothing but the probe reached the server.
        QCOMPARE(srv.count("GET"), 0);
        QCOMPARE(srv.count("OPTIONS"), listening ? 1 : 0);
    }

    // A URL without a scheme is probed as https; verification follows the engine's settings.
    void noSchemeIsHttps()
    {
        QTemporaryDir dir;
        QByteArray cert, key;
        QVERIFY(makeSelfSignedCert(dir.path(), &cert, &key));
        TestHttpServer srv;
        QVERIFY(srv.startTls(cert, key, [](const HttpRequest&) { return HttpReply(); }));
        OrbNetConfig cfg = loopbackConfig();
        cfg.SetVerifyPeer(false);
        auto net = makeEngine(cfg);
        auto probe = net->Probe(QStringLiteral("//127.0.0.1:%1/").arg(srv.port()).toStdString());
        probe->Sync();
        QCOMPARE(int(probe->GetHostInfo().size()), 1);
        QVERIFY(probe->GetHostInfo().front().reachable);
        QCOMPARE(srv.count("OPTIONS"), 1);
    }

    // A second probe of the same host reuses its parser and answers after a fresh pass.
    void secondProbeRunsAFreshPass()
    {
        TestHttpServer srv;
        QVERIFY(srv.start([](const HttpRequest&) { return HttpReply(); }));
        auto net = makeEngine();
        net->Probe(srv.url("/").toStdString())->Sync();
        QCOMPARE(srv.count("OPTIONS"), 1);
        auto again = net->Probe(srv.url("/other").toStdString());
        again->Sync();
        QCOMPARE(srv.count("OPTIONS"), 2);
        QCOMPARE(int(again->GetHostInfo().size()), 1);
    }

    void syncFromAnotherThread()
    {
        TestHttpServer srv;
        QVERIFY(srv.start([](const HttpRequest&) { return HttpReply(); }));
        auto net = makeEngine();
        std::atomic<int> entries{-1};
        std::thread t([&] {
            auto probe = net->Probe(srv.url("/").toStdString());
            probe->Sync();
            entries = int(probe->GetHostInfo().size());
        });
        t.join();
        QCOMPARE(entries.load(), 1);
    }

    void syncOnTheWorkerThread()
    {
        TestHttpServer srv;
        QVERIFY(srv.start(withProbes([](const HttpRequest&) { return HttpReply(); })));
        auto net = makeEngine();
        OrbNetwork* n = net.get();
        const std::string other = QStringLiteral("http://127.0.0.1:%1/").arg(freePort()).toStdString();
        std::atomic<int> entries{-1};
        std::atomic<bool> reachable{true};
        auto r = net->Get(srv.url("/first").toStdString());
        r->Async(
            [&, n, other](const std::shared_ptr<OrbNetResponse>&) {
                auto probe = n->Probe(other);  // a new host: lookups and a pass on this very thread
                probe->Sync();
                entries = int(probe->GetHostInfo().size());
                reachable = !probe->GetHostInfo().empty() && probe->GetHostInfo().front().reachable;
            },
            nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(entries.load(), 1, 10000);
        QVERIFY(!reachable.load());
    }

    void callbacksBeforeAndAfterTheAnswer()
    {
        TestHttpServer srv;
        QVERIFY(srv.start([](const HttpRequest&) { return HttpReply(); }));
        auto net = makeEngine();
        std::atomic<int> early{0}, late{0};
        std::atomic<int> seen{-1};
        {
            auto probe = net->Probe(srv.url("/").toStdString());
            probe->Async([&](const std::shared_ptr<OrbNetProbe>& p) {
                ++early;
                seen = int(p->GetHostInfo().size());
            });
        }  // dropped: the engine keeps it until the answer
        QTRY_COMPARE(early.load(), 1);
        QCOMPARE(seen.load(), 1);
        auto probe = net->Probe(srv.url("/").toStdString());
        probe->Sync();
        probe->Async([&](const std::shared_ptr<OrbNetProbe>&) { ++late; });
        probe->Sync();  // returns at once after the answer
        QTest::qWait(100);
        QCOMPARE(late.load(), 0);
        QCOMPARE(early.load(), 1);
    }

    void engineGoneWakesSync()
    {
        auto net = makeEngine();
        // A silent server: the pass waits for its probe's 2 s timeout.
        TestHttpServer srv;
        QVERIFY(srv.start([](const HttpRequest&) {
            HttpReply r;
            r.noResponse = true;
            return r;
        }));
        auto probe = net->Probe(srv.url("/").toStdString());
        std::atomic<bool> returned{false};
        std::thread t([&] {
            probe->Sync();
            returned = true;
        });
        QTest::qWait(100);
        net.reset();
        t.join();
        QVERIFY(returned.load());
        QVERIFY(probe->IsFinish());
    }
};

QTEST_GUILESS_MAIN(tst_OrbNetProbe)
#include "tst_orbnetprobe.moc"
