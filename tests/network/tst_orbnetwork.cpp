// The engine against a real loopback server: dispatch, completion, close, sync/async,
// retries, header rules, TLS verification, concurrency and teardown.
#include "OrbNetResponseWatcher.h"
#include "OrbNetTestUtil.h"
#include "OrbNetwork_p.h"

#include <QtTest>
#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

using namespace orbtest;
using orbtest::loopbackConfig;
using orbtest::makeEngine;
using orbtest::withProbes;

namespace {

// Counts the transport attempts of one engine per request id.
struct AttemptLog {
    std::mutex lock;
    std::map<int, int> attempts;
    OrbNetworkPrivate* engine;
    explicit AttemptLog(OrbNetwork& net) : engine(OrbNetworkPrivate::get(&net))
    {
        engine->SetDispatchObserver([this](int id, ProxyMode, const std::string&) {
            std::lock_guard<std::mutex> l(lock);
            ++attempts[id];
        });
    }
    ~AttemptLog() { engine->SetDispatchObserver(nullptr); }
    int of(int id)
    {
        std::lock_guard<std::mutex> l(lock);
        return attempts[id];
    }
};

HttpReply okBody(const QByteArray& body)
{
    HttpReply r;
    r.body = body;
    r.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("text/plain")));
    r.headers.append(qMakePair(QByteArray("X-Orb"), QByteArray("1")));
    return r;
}

HttpReply slowBody()
{
    HttpReply r;
    r.body = "slow";
    r.chunkSize = 2;
    r.chunkDelayMs = 20;
    return r;
}

HttpReply stalled()
{
    HttpReply r;
    r.body = QByteArray(10000, 's');
    r.stallAfter = 10;
    return r;
}

} // namespace

class tst_OrbNetwork : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { clearProxyEnv(); }

    void getCompletesWithResultFields()
    {
        TestHttpServer srv;
        QVERIFY(srv.start(withProbes([](const HttpRequest&) { return okBody("hello"); })));
        auto dns = std::make_shared<orbtest::NoDns>();
        auto net = makeEngine(loopbackConfig(), dns);
        auto r = net->Get(srv.url("/a?x=1").toStdString());
        QCOMPARE(r->Id(), 1);
        std::atomic<int> progressCalls{0};
        QVERIFY(r->Sync([&](const std::shared_ptr<OrbNetResponse>&, long long, long long) { ++progressCalls; }));
        QVERIFY(r->IsStart());
        QVERIFY(r->IsFinish());
        QCOMPARE(int(r->Error()), 0);
        QCOMPARE(r->StatusCode(), 200);
        QCOMPARE(r->GetBody(), std::string("hello"));
        QCOMPARE(r->GetBodyLen(), 5);
        QCOMPARE(r->ContentType(), std::string("text/plain"));
        QCOMPARE(r->GetHeaders().at("X-Orb"), std::string("1"));
        QCOMPARE(r->IPv4(), std::string("127.0.0.1"));
        QCOMPARE(int(r->SelectMode()), int(ProxyDirect));
        QVERIFY(r->Cost() >= 0);
        QVERIFY(progressCalls.load() > 0);
        QCOMPARE(dns->calls.load(), 0);  // an IPv4 literal is never looked up
        // The route was probed with OPTIONS and the probe's own user agent before the GET.
        const auto reqs = srv.requests();
        QCOMPARE(reqs.size(), 2);
        QCOMPARE(reqs[0].method, QByteArray("OPTIONS"));
        QCOMPARE(reqs[0].header("user-agent"), QByteArray("OrbClient_PC"));
        QCOMPARE(reqs[1].method, QByteArray("GET"));
        QCOMPARE(reqs[1].header("user-agent"), QByteArray("OrbTest"));
        QCOMPARE(reqs[1].query, QByteArray("x=1"));
        // Ids keep increasing across requests and the selector's probes.
        auto r2 = net->Get(srv.url("/b").toStdString());
        QVERIFY(r2->Id() > r->Id() + 1);
        QVERIFY(r2->Sync(nullptr));
    }

    void submissionRoutingInfo_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("no-scheme-no-port") << "//h.test/x" << "" << "h.test" << 443;
        QTest::newRow("https-default") << "https://h.test/" << "https" << "h.test" << 443;
        QTest::newRow("http-default") << "http://h.test/" << "http" << "h.test" << 80;
        QTest::newRow("explicit-port") << "http://h.test:8080/" << "http" << "h.test" << 8080;
    }
    void submissionRoutingInfo()
    {
        QFETCH(QString, url);
        QFETCH(QString, scheme);
        QFETCH(QString, host);
        QFETCH(int, port);
        // An engine that was never started: submission only, nothing is dispatched.
        OrbNetworkPrivate eng{OrbNetConfig()};
        QSignalSpy spy(&eng, &OrbNetworkPrivate::sigHttpDo);
        OrbNetRequest req(OrbNetConfig{});
        req.SetUrl(url.toStdString(), false).SetRetryCount(4).SetProxy(ProxySystem, std::string(), 0);
        auto r = eng.Submit(eng.NextId(), req);
        QCOMPARE(spy.count(), 1);
        const auto info = spy.first().first().value<HttpInfoForSelector>();
        QCOMPARE(info.id, r->Id());
        QCOMPARE(info.scheme, scheme);
        QCOMPARE(info.host, host);
        QCOMPARE(info.port, port);
        QCOMPARE(info.retry, 4);
        QCOMPARE(int(info.mode), int(ProxySystem));
        QVERIFY(info.status == nullptr);
        QVERIFY(!r->IsStart());
        QCOMPARE(int(r->SelectMode()), int(ProxyDirect));  // until dispatched
    }

    void headerRules_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("extraName");
        QTest::addColumn<QByteArray>("extraValue");
        QTest::addColumn<QByteArray>("checkName");
        QTest::addColumn<QByteArray>("expected");  // "<none>" when the header must be absent
        QTest::newRow("post-empty-body-no-type") << int(HttpPost) << QByteArray() << QByteArray() << QByteArray()
                                                 << QByteArray("content-type") << QByteArray("<none>");
        QTest::newRow("post-body-type") << int(HttpPost) << QByteArray("{}") << QByteArray() << QByteArray()
                                        << QByteArray("content-type") << QByteArray("application/json");
        QTest::newRow("host-override") << int(HttpGet) << QByteArray() << QByteArray("Host")
                                       << QByteArray("orb.example") << QByteArray("host") << QByteArray("orb.example");
        QTest::newRow("ua-override") << int(HttpGet) << QByteArray() << QByteArray("User-Agent")
                                     << QByteArray("Mine") << QByteArray("user-agent") << QByteArray("Mine");
        QTest::newRow("options-verb") << int(HttpOptions) << QByteArray() << QByteArray("X-A") << QByteArray("b")
                                      << QByteArray("x-a") << QByteArray("b");
    }
    void headerRules()
    {
        QFETCH(int, method);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, extraName);
        QFETCH(QByteArray, extraValue);
        QFETCH(QByteArray, checkName);
        QFETCH(QByteArray, expected);
        TestHttpServer srv;
        QVERIFY(srv.start([](const HttpRequest&) { return HttpReply(); }));
        auto net = makeEngine();
        OrbNetRequest req(loopbackConfig());
        req.SetUrl(srv.url("/h").toStdString(), false).SetMethod(OrbHttpMethod(method));
        req.SetBody(body.toStdString(), "application/json");
        if (!extraName.isEmpty())
            req.AddHeader(extraName.toStdString(), extraValue.toStdString());
        auto r = net->Do(req);
        QVERIFY(r->Sync(nullptr));
        HttpRequest seen;
        for (const auto& x : srv.requests())
            if (x.path == "/h")
                seen = x;
        const QByteArray verb = method == HttpPost ? "POST" : method == HttpOptions ? "OPTIONS" : "GET";
        QCOMPARE(seen.method, verb);
        QCOMPARE(seen.body, body);
        if (expected == "<none>")
            QVERIFY2(!seen.headers.contains(checkName), seen.header(checkName).constData());
        else
            QCOMPARE(seen.header(checkName), expected);
    }

    void closeBeforeDispatch()
    {
        TestHttpServer srv;
        QVERIFY(srv.start(withProbes([](const HttpRequest&) { return okBody("x"); })));
        auto net = makeEngine();
        std::atomic<int> finished{0};
        auto r = net->Get(srv.url("/never").toStdString());
        QVERIFY(r->Async([&](const std::shared_ptr<OrbNetResponse>&) { ++finished; }, nullptr));
        r->Close();
        // Whenever the handle reads as finished, its results are final.
        if (r->IsFinish()) {
            QCOMPARE(int(r->Error()), int(NetClosed));
            QVERIFY(r->Cost() >= 0);
        }
        QTRY_VERIFY(r->IsFinish());
        QTRY_COMPARE(finished.load(), 1);
        QCOMPARE(int(r->Error()), int(NetClosed));
        QVERIFY(r->Cost() >= 0 && r->Cost() < 60000);
        QCOMPARE(r->StatusCode(), 0);
        QVERIFY(!r->Sync(nullptr));
        // Closing again, and registering after the end, change nothing.
        r->Close();
        QVERIFY(!r->Async([&](const std::shared_ptr<OrbNetResponse>&) { ++finished; }, nullptr));
        QTest::qWait(50);
        QCOMPARE(finished.load(), 1);
        QCOMPARE(srv.count("GET"), 0);
    }

    void closeWhileRunningIsNeverRetried()
    {
        TestHttpServer srv;
        QVERIFY(srv.start(withProbes([](const HttpRequest&) { return stalled(); })));
        auto net = makeEngine();
        OrbNetRequest req(loopbackConfig());
        req.SetUrl(srv.url("/stall").toStdString(), false).SetRetryCount(3);
        std::atomic<int> finished{0};
        auto r = net->Do(req);
        r->Async([&](const std::shared_ptr<OrbNetResponse>&) { ++finished; }, nullptr);
        QTRY_COMPARE(srv.count("GET"), 1);
        QVERIFY(!r->IsFinish());  // in flight: the server holds the reply open
        r->Close();
        QTRY_COMPARE(finished.load(), 1);
        QCOMPARE(int(r->Error()), int(NetClosed));
        QVERIFY(!r->Sync(nullptr));
        QTest::qWait(100);
        QCOMPARE(srv.count("GET"), 1);
    }

    void asyncAfterCompletion_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("result");
        QTest::newRow("ok") << "/ok" << true;
        QTest::newRow("404") << "/missing" << false;
    }
    void asyncAfterCompletion()
    {
        QFETCH(QString, path);
        QFETCH(bool, result);
        TestHttpServer srv;
        QVERIFY(srv.start(withProbes([](const HttpRequest& r) {
            HttpReply rep;
            if (r.path != "/ok")
                rep.status = 404;
            return rep;
        })));
        auto net = makeEngine();
        auto r = net->Get(srv.url(path).toStdString());
        QCOMPARE(r->Sync(nullptr), result);
        std::atomic<int> calls{0};
        QCOMPARE(r->Async([&](const std::shared_ptr<OrbNetResponse>&) { ++calls; },
                          [&](const std::shared_ptr<OrbNetResponse>&, long long, long long) { ++calls; }),
                 result);
        QTest::qWait(50);
        QCOMPARE(calls.load(), 0);
        if (!result) {
            QCOMPARE(int(r->Error()), int(QNetworkReply::ContentNotFoundError));
            QCOMPARE(r->StatusCode(), 404);
        }
    }

    // The watcher delivers the finish exactly once on the context's thread, whether the
    // response ended before or after the registration, and never after the context is gone.
    void watcherDeliversOnce_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("endedFirst");
        QTest::addColumn<bool>("dropContext");
        QTest::newRow("registered before the end") << "/slow" << false << false;
        QTest::newRow("ended before the registration") << "/ok" << true << false;
        QTest::newRow("failed before the registration") << "/missing" << true << false;
        QTest::newRow("context destroyed first") << "/slow" << false << true;
    }
    void watcherDeliversOnce()
    {
        QFETCH(QString, path);
        QFETCH(bool, endedFirst);
        QFETCH(bool, dropContext);
        TestHttpServer srv;
        QVERIFY(srv.start(withProbes([](const HttpRequest& r) {
            if (r.path == "/slow")
                return slowBody();
            HttpReply rep = okBody("ok");
            if (r.path != "/ok")
                rep.status = 404;
            return rep;
        })));
        auto net = makeEngine();
        auto r = net->Get(srv.url(path).toStdString());
        if (endedFirst)
            QVERIFY(r->Sync(nullptr) == (path == "/ok"));
        auto context = std::make_unique<QObject>();
        std::atomic<int> calls{0};
        std::atomic<bool> onCallerThread{false};
        QThread* const caller = QThread::currentThread();
        QVERIFY(OrbNetResponseWatcher::Watch(r, context.get(), [&](const std::shared_ptr<OrbNetResponse>&) {
            ++calls;
            onCallerThread = QThread::currentThread() == caller;
        }));
        QCOMPARE(calls.load(), 0);  // never from inside the registration
        if (dropContext) {
            context.reset();
            QTRY_VERIFY_WITH_TIMEOUT(r->IsFinish(), 10000);
            QTest::qWait(100);
            QCOMPARE(calls.load(), 0);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(calls.load(), 1, 10000);
        QVERIFY(onCallerThread.load());
        QTest::qWait(100);
        QCOMPARE(calls.load(), 1);
        QVERIFY(!OrbNetResponseWatcher::Watch(r, nullptr, [&](const std::shared_ptr<OrbNetResponse>&) { ++calls; }));
    }

    void syncOnWorkerInsideCallback()
    {
        TestHttpServer srv;
        QVERIFY(srv.start(withProbes([](const HttpRequest& r) { return okBody(r.path); })));
        auto net = makeEngine();
        std::atomic<int> inner{-1};
        std::string innerBody;
        OrbNetwork* n = net.get();
        const std::string second = srv.url("/second").toStdString();
        auto r = net->Get(srv.url("/first").toStdString());
        r->Async(
            [&, n, second](const std::shared_ptr<OrbNetResponse>&) {
                auto r2 = n->Get(second);
                inner = r2->Sync(nullptr) ? 1 : 0;
                innerBody = r2->GetBody();
            },
            nullptr);
        QTRY_COMPARE(inner.load(), 1);
        QCOMPARE(innerBody, std::string("/second"));
    }

    void syncFromManyThreads()
    {
        TestHttpServer srv;
        QVERIFY(srv.start(withProbes([](const HttpRequest& r) {
            HttpReply rep = slowBody();
            rep.body = r.query;
            rep.chunkSize = 2;
            return rep;
        })));
        auto net = makeEngine();
        std::mutex lock;
        std::set<int> ids;
        std::atomic<int> okCount{0}, closedCount{0}, callbacks{0};
        std::vector<std::thread> threads;
        const std::string base = srv.url("/m").toStdString();
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < 25; ++i) {
                    auto r = net->Get(base + "?k=" + std::to_string(t * 100 + i));
                    {
                        std::lock_guard<std::mutex> l(lock);
                        ids.insert(r->Id());
                    }
                    const int pick = (t + i) % 4;
                    if (pick == 0) {
                        // Closed at once, racing dispatch; dropped without waiting.
                        r->Async([&](const std::shared_ptr<OrbNetResponse>& x) {
                            ++callbacks;
                            if (x->Error() == NetClosed)
                                ++closedCount;
                            else if (x->Error() == 0)
                                ++okCount;
                            else
                                qWarning("closed request ended with %d", int(x->Error()));
                        }, nullptr);
                        r->Close();
                    } else if (pick == 1) {
                        // Dropped right after Do with a callback: must still run.
                        r->Async([&, t, i](const std::shared_ptr<OrbNetResponse>& x) {
                            ++callbacks;
                            if (x->Error() == 0 && x->GetBody() == "k=" + std::to_string(t * 100 + i))
                                ++okCount;
                            else
                                qWarning("dropped request ended with %d '%s'", int(x->Error()), x->GetBody().c_str());
                        }, nullptr);
                    } else {
                        if (r->Sync(nullptr) && r->GetBody() == "k=" + std::to_string(t * 100 + i))
                            ++okCount;
                    }
                }
            });
        }
        for (auto& th : threads)
            th.join();
        QCOMPARE(int(ids.size()), 100);
        QTRY_COMPARE(callbacks.load(), 50);
        QCOMPARE(okCount.load() + closedCount.load(), 100);
    }

    void closeRacesCompletion()
    {
        TestHttpServer srv;
        // A short pause mid-body keeps completion behind the caller's Async.
        QVERIFY(srv.start(withProbes([](const HttpRequest&) { return slowBody(); })));
        auto net = makeEngine();
        QVERIFY(net->Get(srv.url("/warm").toStdString())->Sync(nullptr));
        for (int i = 0; i < 40; ++i) {
            std::atomic<int> callbacks{0};
            auto r = net->Get(srv.url("/race").toStdString());
            r->Async([&](const std::shared_ptr<OrbNetResponse>&) { ++callbacks; }, nullptr);
            std::thread closer([r, i] {
                std::this_thread::sleep_for(std::chrono::microseconds(i * 50));
                r->Close();
            });
            // The first moment the handle reads as finished, its results are already final.
            while (!r->IsFinish())
                std::this_thread::yield();
            const int errorSeen = r->Error();
            const int costSeen = r->Cost();
            const std::string bodySeen = r->GetBody();
            const int statusSeen = r->StatusCode();
            closer.join();
            QTRY_COMPARE(callbacks.load(), 1);
            QVERIFY(r->IsFinish());
            QCOMPARE(int(r->Error()), errorSeen);
            QCOMPARE(r->Cost(), costSeen);
            QVERIFY(costSeen >= 0);
            QCOMPARE(r->GetBody(), bodySeen);
            QCOMPARE(r->StatusCode(), statusSeen);
            if (errorSeen == 0)
                QCOMPARE(bodySeen, std::string("slow"));
            QVERIFY2(r->Error() == 0 || r->Error() == NetClosed, QByteArray::number(int(r->Error())));
            QCOMPARE(r->Sync(nullptr), r->Error() == 0);
            QTest::qWait(5);
            QCOMPARE(callbacks.load(), 1);
        }
    }

    void retries_data()
    {
        QTest::addColumn<QString>("mode");  // refused | 503 | 503-then-ok | drop-mid-body
        QTest::addColumn<int>("retry");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<int>("error");
        QTest::newRow("refused-3") << "refused" << 3 << 3 << int(QNetworkReply::ConnectionRefusedError);
        QTest::newRow("refused-1") << "refused" << 1 << 1 << int(QNetworkReply::ConnectionRefusedError);
        QTest::newRow("refused-0") << "refused" << 0 << 1 << int(QNetworkReply::ConnectionRefusedError);
        QTest::newRow("503-3") << "503" << 3 << 3 << int(QNetworkReply::ServiceUnavailableError);
        QTest::newRow("503-then-ok") << "503-then-ok" << 2 << 2 << 0;
        QTest::newRow("drop-after-data") << "drop" << 3 << 1 << int(QNetworkReply::RemoteHostClosedError);
    }
    void retries()
    {
        QFETCH(QString, mode);
        QFETCH(int, retry);
        QFETCH(int, attempts);
        QFETCH(int, error);
        TestHttpServer srv;
        std::atomic<int> gets{0};
        QVERIFY(srv.start(withProbes([&](const HttpRequest&) {
            HttpReply rep;
            const int n = ++gets;
            if (mode == "503" || (mode == "503-then-ok" && n == 1))
                rep.status = 503;
            else if (mode == "drop") {
                rep.body = QByteArray(5000, 'd');
                rep.chunkSize = 100;
                rep.chunkDelayMs = 20;
                rep.dropAfter = 200;
            } else
                rep.body = "fine";
            return rep;
        })));
        const QString url = mode == "refused" ? QStringLiteral("http://127.0.0.1:%1/r").arg(freePort())
                                              : srv.url("/r");
        auto net = makeEngine();
        AttemptLog log(*net);
        OrbNetRequest req(loopbackConfig());
        req.SetUrl(url.toStdString(), false).SetRetryCount(retry);
        auto r = net->Do(req);
        QCOMPARE(r->Sync(nullptr), error == 0);
        QCOMPARE(int(r->Error()), error);
        QCOMPARE(log.of(r->Id()), attempts);
        if (mode != "refused")
            QCOMPARE(gets.load(), attempts);
        if (error == 0)
            QCOMPARE(r->GetBody(), std::string("fine"));
    }

    // A request with retries closed from another thread while attempts fail and are
    // dispatched again must end once, closed or refused, and never touch a finished reply.
    void closeDuringRetries_data()
    {
        QTest::addColumn<int>("retry");
        QTest::addColumn<int>("delayMs");
        for (int retry : {2, 3, 8})
            for (int delay = 0; delay <= 4; ++delay)
                QTest::addRow("retry-%d-close-after-%dms", retry, delay) << retry << delay;
    }
    void closeDuringRetries()
    {
        QFETCH(int, retry);
        QFETCH(int, delayMs);
        const QString url = QStringLiteral("http://127.0.0.1:%1/r").arg(freePort());
        auto net = makeEngine();
        // The host's first probe pass, so that the attempts below follow each other at once.
        OrbNetRequest warm(loopbackConfig());
        warm.SetUrl(url.toStdString(), false);
        net->Do(warm)->Sync(nullptr);
        for (int round = 0; round < 8; ++round) {
            OrbNetRequest req(loopbackConfig());
            req.SetUrl(url.toStdString(), false).SetRetryCount(retry);
            std::atomic<int> finishes{0};
            auto r = net->Do(req);
            // The attempts may all be refused before the callback is registered; Async then
            // releases it uncalled and reports the error, which is that one finish.
            if (!r->Async([&](const std::shared_ptr<OrbNetResponse>&) { ++finishes; }, nullptr))
                ++finishes;
            std::thread closer([r, delayMs, round] {
                std::this_thread::sleep_for(std::chrono::microseconds(delayMs * 1000 + round * 125));
                r->Close();
            });
            closer.join();
            QTRY_COMPARE(finishes.load(), 1);
            QVERIFY2(r->Error() == NetClosed || int(r->Error()) == int(QNetworkReply::ConnectionRefusedError),
                     QByteArray::number(int(r->Error())));
            QVERIFY(r->IsFinish());
        }
        QTest::qWait(20);  // let deferred deletions of the replies run under the sanitizer
    }

    // An empty POST carries Content-Length: 0 (servers refuse a POST without a length), and an
    // empty user agent sends no User-Agent header at all.
    void emptyPostAndEmptyUserAgent()
    {
        TestHttpServer srv;
        QVERIFY(srv.start([](const HttpRequest& r) {
            HttpReply rep;
            if (r.method == "POST" && !r.headers.contains("content-length"))
                rep.status = 411;
            return rep;
        }));
        OrbNetConfig cfg = loopbackConfig();
        cfg.SetUserAgent(std::string());
        auto net = makeEngine(cfg);
        auto r = net->Post(srv.url("/empty").toStdString(), std::string(), "application/json");
        QVERIFY(r->Sync(nullptr));
        QCOMPARE(r->StatusCode(), 200);
        HttpRequest seen;
        for (const auto& x : srv.requests())
            if (x.path == "/empty")
                seen = x;
        QCOMPARE(seen.method, QByteArray("POST"));
        QCOMPARE(seen.header("content-length"), QByteArray("0"));
        QVERIFY(!seen.headers.contains("content-type"));
        // The engine sets none; Qt 6.4's HTTP/1 transport fills a missing User-Agent with its
        // own "Mozilla/5.0" and has no way to leave it out.
        QCOMPARE(seen.header("user-agent"), QByteArray("Mozilla/5.0"));
        QEXPECT_FAIL("", "Qt 6.4 always sends a User-Agent", Continue);
        QVERIFY(!seen.headers.contains("user-agent"));
    }

    // A body whose connection closes before its announced length is never a success, also for
    // a plain request (Qt 6.4 finishes such a reply without error when the close wins the race).
    void bodyShortOfItsLength_data()
    {
        QTest::addColumn<int>("cutAt");
        QTest::addColumn<bool>("clean");
        for (bool clean : {false, true}) {
            QTest::addRow("mid-body, %s", clean ? "closed" : "reset") << 50000 << clean;
            QTest::addRow("one byte short, %s", clean ? "closed" : "reset") << 99999 << clean;
        }
    }
    void bodyShortOfItsLength()
    {
        QFETCH(int, cutAt);
        QFETCH(bool, clean);
        TestHttpServer srv;
        QVERIFY(srv.start(withProbes([cutAt, clean](const HttpRequest&) {
            HttpReply rep;
            rep.body = QByteArray(100000, 'b');
            rep.chunkSize = 8192;
            rep.dropAfter = cutAt;
            rep.dropCleanly = clean;
            return rep;
        })));
        auto net = makeEngine();
        for (int round = 0; round < 10; ++round) {
            auto r = net->Get(srv.url("/cut").toStdString());
            QVERIFY(!r->Sync(nullptr));
            QVERIFY2(r->Error() == NetIncomplete || int(r->Error()) == int(QNetworkReply::RemoteHostClosedError),
                     QByteArray::number(int(r->Error())));
            QVERIFY(r->GetBodyLen() <= cutAt);
        }
    }

    // Probes are built with the engine's TLS settings: an engine that does not verify peers
    // reaches a self-signed publisher with its probes too.
    void probesUseEngineTlsSettings_data()
    {
        QTest::addColumn<bool>("verify");
        QTest::newRow("verification off") << false;
        QTest::newRow("verification on") << true;
    }
    void probesUseEngineTlsSettings()
    {
        QFETCH(bool, verify);
        QTemporaryDir dir;
        QByteArray cert, key;
        QVERIFY(makeSelfSignedCert(dir.path(), &cert, &key));
        TestHttpServer srv;
        QVERIFY(srv.startTls(cert, key, [](const HttpRequest&) { return okBody("tls"); }));
        OrbNetConfig cfg = loopbackConfig();
        cfg.SetVerifyPeer(verify);
        auto net = makeEngine(cfg);
        auto r = net->Get(srv.url("/p").toStdString());
        QCOMPARE(r->Sync(nullptr), !verify);
        int probes = 0;
        for (const auto& x : srv.requests())
            probes += x.method == "OPTIONS" && x.header("user-agent") == "OrbClient_PC";
        // A probe that passed the handshake is seen by the server; a verified one cannot pass.
        QCOMPARE(probes, verify ? 0 : 1);
    }

    void transferTimeout_data()
    {
        QTest::addColumn<int>("timeout");
        QTest::addColumn<bool>("endsByItself");
        QTest::newRow("one-second") << 1 << true;
        QTest::newRow("negative-means-none") << -5 << false;
    }
    void transferTimeout()
    {
        QFETCH(int, timeout);
        QFETCH(bool, endsByItself);
        TestHttpServer srv;
        QVERIFY(srv.start(withProbes([](const HttpRequest&) { return stalled(); })));
        auto net = makeEngine();
        OrbNetRequest req(loopbackConfig());
        req.SetUrl(srv.url("/t").toStdString(), false).SetTimeout(timeout);
        auto r = net->Do(req);
        std::atomic<bool> done{false};
        r->Async([&](const std::shared_ptr<OrbNetResponse>&) { done = true; }, nullptr);
        if (endsByItself) {
            QTRY_VERIFY_WITH_TIMEOUT(done.load(), 8000);
            QVERIFY(r->Error() != 0);
            QVERIFY(r->Cost() >= 900);
        } else {
            QTest::qWait(1500);
            QVERIFY(!done.load());
            r->Close();
            QTRY_VERIFY(done.load());
            QCOMPARE(int(r->Error()), int(NetClosed));
        }
    }

    void silentProbeHoldsFirstRequestOnlyForItsTimeout()
    {
        TestHttpServer srv;
        QVERIFY(srv.start([](const HttpRequest& r) {
            HttpReply rep;
            rep.noResponse = r.method == "OPTIONS";  // the route's probe never gets an answer
            rep.body = "late";
            return rep;
        }));
        auto net = makeEngine();
        QElapsedTimer t;
        t.start();
        auto r = net->Get(srv.url("/first").toStdString());
        QVERIFY(r->Sync(nullptr));
        QVERIFY(t.elapsed() >= 1500);  // held until the first probe pass ended...
        QVERIFY(t.elapsed() < 6000);   // ...which the probe's 2 s timeout bounds
        QCOMPARE(r->GetBody(), std::string("late"));
        const auto reqs = srv.requests();
        QCOMPARE(reqs.first().method, QByteArray("OPTIONS"));
        QCOMPARE(reqs.last().method, QByteArray("GET"));
    }

    void requestBeforeInitStartsTheEngine()
    {
        TestHttpServer srv;
        QVERIFY(srv.start(withProbes([](const HttpRequest&) { return okBody("auto"); })));
        OrbNetwork net;
        net.SetDnsResolver(std::make_shared<orbtest::NoDns>());
        auto r = net.Get(srv.url("/x").toStdString());
        QVERIFY(r->Sync(nullptr));
        QCOMPARE(r->GetBody(), std::string("auto"));
        QCOMPARE(srv.requests().last().header("user-agent"), QByteArray("OrbLauncher"));  // DefaultNetConfig
    }

    void tlsVerification_data()
    {
        QTest::addColumn<bool>("verify");
        QTest::addColumn<int>("error");
        QTest::newRow("verified-by-default") << true << int(QNetworkReply::SslHandshakeFailedError);
        QTest::newRow("switched-off") << false << 0;
    }
    void tlsVerification()
    {
        QFETCH(bool, verify);
        QFETCH(int, error);
        QTemporaryDir dir;
        QByteArray cert, key;
        QVERIFY(makeSelfSignedCert(dir.path(), &cert, &key));
        TestHttpServer srv;
        QVERIFY(srv.startTls(cert, key, [](const HttpRequest&) { return okBody("secret"); }));
        OrbNetConfig cfg = loopbackConfig();
        QVERIFY(cfg.VerifyPeer());
        cfg.SetVerifyPeer(verify);
        auto net = makeEngine(cfg);
        auto r = net->Get(srv.url("/tls").toStdString());
        const bool ok = r->Sync(nullptr);
        QCOMPARE(int(r->Error()), error);
        QCOMPARE(ok, error == 0);
        QCOMPARE(r->GetBody(), std::string(error == 0 ? "secret" : ""));
    }

    void destructionAbandonsLiveRequests()
    {
        TestHttpServer srv;
        QVERIFY(srv.start(withProbes([](const HttpRequest&) { return stalled(); })));
        auto sentinel = std::make_shared<int>(0);
        std::atomic<int> calls{0};
        std::shared_ptr<OrbNetResponse> kept;
        {
            auto net = makeEngine();
            for (int i = 0; i < 5; ++i) {
                auto r = net->Get(srv.url("/stall").toStdString());
                r->Async([&calls, sentinel](const std::shared_ptr<OrbNetResponse>&) { ++calls; },
                         [&calls, sentinel](const std::shared_ptr<OrbNetResponse>&, long long, long long) {});
                if (i == 0)
                    kept = r;
            }
            QTRY_COMPARE(srv.count("GET"), 5);
        }
        QCOMPARE(calls.load(), 0);
        QCOMPARE(sentinel.use_count(), 1L);  // every callback was released
        // A handle outliving its engine stays usable and never blocks.
        QVERIFY(kept->IsFinish());
        QVERIFY(!kept->Sync(nullptr));
        kept->Close();
    }
};

QTEST_GUILESS_MAIN(tst_OrbNetwork)
#include "tst_orbnetwork.moc"
