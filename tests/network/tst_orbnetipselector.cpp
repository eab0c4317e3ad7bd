// The address selector driven by a fake engine, a fake resolver, a fake clock and
// probe outcomes chosen by each case: resolution, routes, scoring, comparison,
// pruning, the SOCKS5 route, retries and the sliding windows.
#include "OrbDnsResolver.h"
#include "OrbHostParser_p.h"
#include "OrbNetIPSelector_p.h"
#include "OrbNetRequest.h"

#include <QtTest>
#include <functional>
#include <map>
#include <vector>

namespace {

struct Answer {
    bool ok = true;
    QStringList addrs;
    bool never = false;
};

class FakeResolver : public IOrbDnsResolver {
public:
    std::map<QString, Answer> answers[2];
    int calls = 0;
    void Lookup(const QString& host, int index, QObject*, Done done) override
    {
        ++calls;
        auto it = answers[index].find(host);
        if (it == answers[index].end()) {
            done(false, {});
            return;
        }
        if (!it->second.never)
            done(it->second.ok, it->second.addrs);
    }
};

struct Dispatch {
    int mode;
    std::string ip;
    int id;
};

class FakeEngine : public IOrbSelectorEngine {
public:
    int counter = 0;
    std::vector<Dispatch> sent;
    std::map<int, std::function<void()>> probes;  // outstanding, by id
    std::map<int, OrbNetRequest> probeRequests;
    std::map<int, std::list<OrbIPStatus>> answers;
    OrbNetConfig probeConfig;
    int NextId() override { return ++counter; }
    OrbNetConfig ProbeConfig() const override { return probeConfig; }
    void ProcessHttp(ProxyMode mode, const std::string& ip, int id, int) override { sent.push_back({mode, ip, id}); }
    void SubmitProbe(int id, const OrbNetRequest& r, std::function<void()> done) override
    {
        probes[id] = std::move(done);
        probeRequests.emplace(id, r);
    }
    void ProbeDone(int id, std::list<OrbIPStatus> list) override { answers[id] = std::move(list); }
    const Dispatch* lastFor(int id) const
    {
        for (auto it = sent.rbegin(); it != sent.rend(); ++it)
            if (it->id == id)
                return &*it;
        return nullptr;
    }
};

// A route outcome for a probe: latency in ms, or -1 for a failure.
using Outcome = std::function<int(const std::string& ip, int type)>;

struct Rig {
    FakeEngine engine;
    std::shared_ptr<FakeResolver> resolver = std::make_shared<FakeResolver>();
    qint64 now = 1000000;
    bool systemProxy = false;
    OrbNetIPSelector sel{&engine, resolver, 100};
    Rig()
    {
        sel.SetClock([this] { return now; });
        sel.SetSystemProxyProbe([this](const QString&, const QString&, int) { return systemProxy; });
    }

    // Runs every outstanding probe to its outcome, the way the engine reports it.
    void finishProbes(const Outcome& outcome)
    {
        auto pending = std::move(engine.probes);
        engine.probes.clear();
        for (auto& p : pending) {
            const int id = p.first;
            HttpInfoForSelector info;
            info.id = id;
            sel.onHttpDo(info);  // a known id: routed straight to its route
            const Dispatch* d = engine.lastFor(id);
            QVERIFY(d);
            const int latency = outcome(d->ip, d->mode);
            const qint64 start = now;
            if (latency >= 0) {
                now += latency;
                sel.ReportData(id);
            } else {
                sel.ReportError(id, 1);
            }
            QVERIFY(sel.ReportFinished(id));
            now = start;
            p.second();
        }
    }

    int request(const QString& host, int port, ProxyMode mode, int retry = 0)
    {
        HttpInfoForSelector info;
        info.mode = mode;
        info.port = port;
        info.id = engine.NextId();
        info.retry = retry;
        info.scheme = "https";
        info.host = host;
        sel.onHttpDo(info);
        return info.id;
    }

    void answer(const QString& host, const QStringList& sys, const QStringList& pub = {})
    {
        resolver->answers[0][host] = Answer{!sys.isEmpty(), sys};
        resolver->answers[1][host] = Answer{!pub.isEmpty(), pub};
    }
};

Outcome allOk(int latency = 10)
{
    return [latency](const std::string&, int) { return latency; };
}

std::vector<std::pair<std::string, int>> routesOf(OrbHostParser* p)
{
    std::vector<std::pair<std::string, int>> out;
    for (auto* r : p->Routes())
        out.emplace_back(r->ip, r->source);
    return out;
}

} // namespace

using RouteList = std::vector<std::pair<std::string, int>>;
Q_DECLARE_METATYPE(RouteList)

class tst_OrbNetIPSelector : public QObject {
    Q_OBJECT

private slots:
    void resolution_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QStringList>("sys");
        QTest::addColumn<QStringList>("pub");
        QTest::addColumn<RouteList>("routes");
        QTest::addColumn<int>("lookups");
        QTest::newRow("five-records-three-kept")
            << "five.test" << QStringList{"127.0.0.5", "127.0.0.4", "127.0.0.3", "127.0.0.2", "127.0.0.1"}
            << QStringList{} << RouteList{{"127.0.0.3", 0}, {"127.0.0.4", 0}, {"127.0.0.5", 0}} << 2;
        QTest::newRow("shared-address-first-source")
            << "both.test" << QStringList{"127.0.0.7"} << QStringList{"127.0.0.7", "127.0.0.8"}
            << RouteList{{"127.0.0.7", 0}, {"127.0.0.8", 1}} << 2;
        QTest::newRow("non-ipv4-skipped") << "v6.test" << QStringList{"::1", "bogus", "127.0.0.9"} << QStringList{}
                                          << RouteList{{"127.0.0.9", 0}} << 2;
        QTest::newRow("both-fail-fallback") << "none.test" << QStringList{} << QStringList{}
                                            << RouteList{{"127.0.0.1", 0}} << 2;
        QTest::newRow("ipv4-literal-no-lookup") << "127.0.0.42" << QStringList{} << QStringList{}
                                                << RouteList{{"127.0.0.42", 0}} << 0;
    }
    void resolution()
    {
        QFETCH(QString, host);
        QFETCH(QStringList, sys);
        QFETCH(QStringList, pub);
        QFETCH(RouteList, routes);
        QFETCH(int, lookups);
        Rig rig;
        rig.answer(host, sys, pub);
        const int id = rig.request(host, 443, ProxyAuto);
        OrbHostParser* p = rig.sel.Parser(host, 443);
        QVERIFY(p);
        QCOMPARE(rig.resolver->calls, lookups);
        QCOMPARE(routesOf(p), routes);
        QCOMPARE(int(rig.engine.probes.size()), int(routes.size()));
        QVERIFY(rig.engine.sent.empty());  // held until the first probe pass ends
        rig.finishProbes(allOk());
        QVERIFY(p->IsReady());
        const Dispatch* d = rig.engine.lastFor(id);
        QVERIFY(d);
        QCOMPARE(d->mode, int(ProxyDirect));
    }

    void resolverThatNeverAnswersIsBounded()
    {
        Rig rig;
        rig.resolver->answers[0]["silent.test"] = Answer{true, {}, true};
        rig.resolver->answers[1]["silent.test"] = Answer{true, {}, true};
        QElapsedTimer t;
        t.start();
        const int id = rig.request("silent.test", 80, ProxyAuto);
        QVERIFY(rig.engine.probes.empty());
        QTRY_VERIFY_WITH_TIMEOUT(!rig.engine.probes.empty(), 3000);
        QVERIFY(t.elapsed() < 2000);
        rig.finishProbes(allOk());
        QCOMPARE(rig.engine.lastFor(id)->ip, std::string("127.0.0.1"));
    }

    void probeRequestForm_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("url");
        QTest::newRow("https") << "https" << "https://127.0.0.1:8443";
        QTest::newRow("no-scheme") << "" << "https://127.0.0.1:443";
    }
    void probeRequestForm()
    {
        QFETCH(QString, scheme);
        QFETCH(QString, url);
        Rig rig;
        HttpInfoForSelector info;
        info.id = rig.engine.NextId();
        info.scheme = scheme;
        info.host = "127.0.0.1";
        info.port = scheme.isEmpty() ? 443 : 8443;
        rig.sel.onHttpDo(info);
        QCOMPARE(int(rig.engine.probeRequests.size()), 1);
        const OrbNetRequest& r = rig.engine.probeRequests.begin()->second;
        QCOMPARE(QString::fromStdString(r.Url()), url);
        QCOMPARE(int(r.Method()), int(HttpOptions));
        QCOMPARE(r.UserAgent(), std::string("OrbClient_PC"));
        QCOMPARE(r.Timeout(), 2);
        QVERIFY(rig.engine.probeRequests.begin()->first > info.id);  // ids from the engine's counter
    }

    void routeChoice_data()
    {
        QTest::addColumn<bool>("systemProxy");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("slowIp");  // its probes take 50 ms, the others 10
        QTest::addColumn<QString>("failIp");  // its probes fail
        QTest::addColumn<QString>("ip");
        QTest::addColumn<int>("type");
        QTest::newRow("faster-wins") << false << int(ProxyAuto) << "127.0.0.3" << "" << "127.0.0.2" << 1;
        QTest::newRow("tie-later-wins") << false << int(ProxyAuto) << "" << "" << "127.0.0.3" << 1;
        QTest::newRow("failed-probe-loses") << false << int(ProxyAuto) << "" << "127.0.0.3" << "127.0.0.2" << 1;
        QTest::newRow("system-without-proxy-direct") << false << int(ProxySystem) << "" << "" << "127.0.0.3" << 1;
        QTest::newRow("system-with-proxy") << true << int(ProxySystem) << "" << "" << "127.0.0.3" << 2;
        QTest::newRow("direct-with-proxy") << true << int(ProxyDirect) << "" << "" << "127.0.0.3" << 1;
        QTest::newRow("auto-tie-proxy-after-direct") << true << int(ProxyAuto) << "" << "" << "127.0.0.3" << 2;
        QTest::newRow("socks5-reports-best") << false << int(ProxySocks5) << "127.0.0.3" << "" << "127.0.0.2" << 4;
        QTest::newRow("invalid-mode-direct") << true << 7 << "" << "" << "127.0.0.3" << 1;
    }
    void routeChoice()
    {
        QFETCH(bool, systemProxy);
        QFETCH(int, mode);
        QFETCH(QString, slowIp);
        QFETCH(QString, failIp);
        QFETCH(QString, ip);
        QFETCH(int, type);
        Rig rig;
        rig.systemProxy = systemProxy;
        rig.answer("two.test", {"127.0.0.2", "127.0.0.3"});
        const int id = rig.request("two.test", 443, ProxyMode(mode));
        rig.finishProbes([&](const std::string& a, int) {
            if (a == failIp.toStdString())
                return -1;
            return a == slowIp.toStdString() ? 50 : 10;
        });
        const Dispatch* d = rig.engine.lastFor(id);
        QVERIFY(d);
        QCOMPARE(QString::fromStdString(d->ip), ip);
        QCOMPARE(d->mode, type);
        OrbHostParser* p = rig.sel.Parser("two.test", 443);
        QCOMPARE(int(p->Routes().size()), systemProxy ? 4 : 2);
        if (mode == ProxySocks5) {
            QCOMPARE(rig.sel.Socks5Route()->ip, ip.toStdString());
            QCOMPARE(int(rig.sel.Socks5Route()->requestRecords.size()), 1);
        }
    }

    void selectedRouteKeepsWinningWhileItSucceeds()
    {
        Rig rig;
        rig.answer("sticky.test", {"127.0.0.2", "127.0.0.3"});
        const int first = rig.request("sticky.test", 443, ProxyAuto);
        rig.finishProbes(allOk());
        QCOMPARE(rig.engine.lastFor(first)->ip, std::string("127.0.0.3"));
        rig.sel.ReportData(first);
        QVERIFY(rig.sel.ReportFinished(first));
        // The other route now looks better on paper: more successful probes...
        OrbHostParser* p = rig.sel.Parser("sticky.test", 443);
        OrbNetRouteStatus* other = p->Route("127.0.0.2", OrbRouteDirect);
        OrbNetRouteStatus* chosen = p->Route("127.0.0.3", OrbRouteDirect);
        chosen->probeFailuresTotal = 3;
        chosen->probeSamplesTotal += 3;
        QVERIFY(other->Score() > chosen->Score());
        const int second = rig.request("sticky.test", 443, ProxyAuto);
        QCOMPARE(rig.engine.lastFor(second)->ip, std::string("127.0.0.3"));
        // ...and once its last request fails it loses.
        rig.sel.ReportError(second, 1);
        QVERIFY(rig.sel.ReportFinished(second));
        const int third = rig.request("sticky.test", 443, ProxyAuto);
        QCOMPARE(rig.engine.lastFor(third)->ip, std::string("127.0.0.2"));
        QVERIFY(other->selected);
        QVERIFY(!chosen->selected);
    }

    void score_data()
    {
        QTest::addColumn<int>("reqFail");
        QTest::addColumn<int>("reqSamples");
        QTest::addColumn<int>("probeFailTotal");
        QTest::addColumn<int>("probeSamplesTotal");
        QTest::addColumn<int>("reqFailTotal");
        QTest::addColumn<int>("reqSamplesTotal");
        QTest::addColumn<int>("score");
        QTest::newRow("fresh") << 0 << 0 << 0 << 0 << 0 << 0 << 10000;
        QTest::newRow("window-20pc-zero") << 1 << 5 << 0 << 10 << 1 << 5 << 0;
        QTest::newRow("window-19pc") << 19 << 100 << 0 << 0 << 19 << 100 << 8100;
        QTest::newRow("totals-only") << 0 << 0 << 1 << 3 << 0 << 0 << 6667;
        QTest::newRow("mixed-totals") << 0 << 4 << 1 << 4 << 1 << 4 << 7500;
    }
    void score()
    {
        QFETCH(int, reqFail);
        QFETCH(int, reqSamples);
        QFETCH(int, probeFailTotal);
        QFETCH(int, probeSamplesTotal);
        QFETCH(int, reqFailTotal);
        QFETCH(int, reqSamplesTotal);
        QFETCH(int, score);
        OrbNetRouteStatus r;
        r.requestFailures = reqFail;
        r.requestSamples = reqSamples;
        r.probeFailuresTotal = probeFailTotal;
        r.probeSamplesTotal = probeSamplesTotal;
        r.requestFailuresTotal = reqFailTotal;
        r.requestSamplesTotal = reqSamplesTotal;
        QCOMPARE(r.Score(), score);
    }

    void comparison_data()
    {
        // a and b described as: excluded, selected, requestOk, probe failures total, latency sum (1 sample)
        QTest::addColumn<QVariantList>("a");
        QTest::addColumn<QVariantList>("b");
        QTest::addColumn<bool>("bBeatsA");
        auto R = [](bool ex, bool sel, bool ok, int fail, int lat) { return QVariantList{ex, sel, ok, fail, lat}; };
        QTest::newRow("a-excluded") << R(true, false, false, 0, 10) << R(false, false, false, 5, 900) << true;
        QTest::newRow("both-excluded") << R(true, false, false, 0, 10) << R(true, false, false, 0, 10) << false;
        QTest::newRow("b-excluded") << R(false, false, false, 5, 900) << R(true, true, true, 0, 1) << false;
        QTest::newRow("b-selected-ok") << R(false, false, false, 0, 1) << R(false, true, true, 3, 900) << true;
        QTest::newRow("a-selected-ok") << R(false, true, true, 3, 900) << R(false, false, false, 0, 1) << false;
        QTest::newRow("higher-score") << R(false, false, false, 1, 1) << R(false, false, false, 0, 900) << true;
        QTest::newRow("latency-equal-b-wins") << R(false, false, false, 0, 10) << R(false, false, false, 0, 10)
                                              << true;
        QTest::newRow("latency-higher-b-loses") << R(false, false, false, 0, 10) << R(false, false, false, 0, 11)
                                                << false;
    }
    void comparison()
    {
        QFETCH(QVariantList, a);
        QFETCH(QVariantList, b);
        QFETCH(bool, bBeatsA);
        auto make = [](const QVariantList& v, OrbNetRouteStatus& r) {
            r.excluded = v[0].toBool();
            r.selected = v[1].toBool();
            r.requestOk = v[2].toBool();
            r.probeFailuresTotal = v[3].toInt();
            r.probeSamplesTotal = 4;
            r.probeLatencySum = v[4].toInt();
            r.probeSamples = 1;
        };
        OrbNetRouteStatus ra, rb;
        make(a, ra);
        make(b, rb);
        QCOMPARE(OrbRouteBeats(rb, ra), bBeatsA);
    }

    void fewerRequestFailuresBreakScoreTies()
    {
        OrbNetRouteStatus a, b;
        // Same score (one failure in four samples each), a from a request, b from a probe.
        a.requestFailuresTotal = 1;
        a.requestSamplesTotal = 4;
        b.probeFailuresTotal = 1;
        b.probeSamplesTotal = 4;
        b.probeLatencySum = 5000;
        b.probeSamples = 1;
        QCOMPARE(a.Score(), b.Score());
        QVERIFY(OrbRouteBeats(b, a));
        QVERIFY(!OrbRouteBeats(a, b));
    }

    void pruning_data()
    {
        QTest::addColumn<int>("addresses");
        QTest::addColumn<int>("healthy");  // how many answer their probes
        QTest::addColumn<int>("remaining");
        QTest::newRow("six-one-healthy") << 6 << 1 << 3;
        QTest::newRow("three-nothing-excluded") << 3 << 1 << 3;
        QTest::newRow("four-none-healthy-kept") << 4 << 0 << 4;
    }
    void pruning()
    {
        QFETCH(int, addresses);
        QFETCH(int, healthy);
        QFETCH(int, remaining);
        Rig rig;
        QStringList sys, pub;
        for (int i = 0; i < addresses; ++i)
            (i < 3 ? sys : pub) << QStringLiteral("127.0.1.%1").arg(i + 1);
        rig.answer("many.test", sys, pub);
        const int id = rig.request("many.test", 443, ProxyAuto);
        // The last address is the healthy one, so pruning has to move it forward.
        auto outcome = [&](const std::string& ip, int) {
            const int n = QString::fromStdString(ip).section('.', 3).toInt();
            return n > addresses - healthy ? 10 : -1;
        };
        rig.finishProbes(outcome);
        OrbHostParser* p = rig.sel.Parser("many.test", 443);
        QCOMPARE(int(p->RouteList().size()), remaining);
        if (healthy) {
            const std::string best = QStringLiteral("127.0.1.%1").arg(addresses).toStdString();
            QVERIFY(!p->Route(best, OrbRouteDirect)->excluded);
            QCOMPARE(rig.engine.lastFor(id)->ip, best);
        }
        // Exclusion is permanent: the next pass probes only the survivors and keeps them.
        p->ProbeAllRoutes();
        QCOMPARE(int(rig.engine.probes.size()), remaining);
        rig.finishProbes([](const std::string&, int) { return -1; });
        QCOMPARE(int(p->RouteList().size()), remaining);
    }

    void socks5RouteIsSharedAcrossHosts()
    {
        Rig rig;
        rig.answer("a.test", {"127.0.0.2"});
        rig.answer("b.test", {"127.0.0.3"});
        const int a = rig.request("a.test", 443, ProxySocks5);
        rig.finishProbes(allOk());
        const int b = rig.request("b.test", 443, ProxySocks5);
        rig.finishProbes(allOk());
        QCOMPARE(rig.engine.lastFor(a)->mode, int(ProxySocks5));
        QCOMPARE(rig.engine.lastFor(a)->ip, std::string("127.0.0.2"));
        QCOMPARE(rig.engine.lastFor(b)->ip, std::string("127.0.0.3"));
        rig.sel.ReportError(a, 1);
        QVERIFY(rig.sel.ReportFinished(a));
        rig.sel.ReportData(b);
        QVERIFY(rig.sel.ReportFinished(b));
        OrbNetRouteStatus* s = rig.sel.Socks5Route();
        QCOMPARE(s->requestSamplesTotal, 2);
        QCOMPARE(s->requestFailuresTotal, 1);
        QCOMPARE(s->ip, std::string("127.0.0.3"));
        QVERIFY(s->parser == nullptr);
        // The direct routes were never charged for the SOCKS5 traffic.
        QCOMPARE(rig.sel.Parser("a.test", 443)->Route("127.0.0.2", OrbRouteDirect)->requestSamplesTotal, 0);
    }

    void portsHaveSeparateParsers()
    {
        Rig rig;
        rig.answer("p.test", {"127.0.0.2"});
        const int a = rig.request("p.test", 443, ProxyAuto);
        const int b = rig.request("p.test", 8443, ProxyAuto);
        QVERIFY(rig.sel.Parser("p.test", 443) != rig.sel.Parser("p.test", 8443));
        QCOMPARE(int(rig.engine.probes.size()), 2);
        rig.finishProbes(allOk());
        QVERIFY(rig.engine.lastFor(a) && rig.engine.lastFor(b));
        // A second request to a ready parser goes out at once, without a new pass.
        const int c = rig.request("p.test", 443, ProxyAuto);
        QVERIFY(rig.engine.lastFor(c));
        QVERIFY(rig.engine.probes.empty());
    }

    void pendingRequestsGoOutInOrder()
    {
        Rig rig;
        rig.answer("q.test", {"127.0.0.2"});
        std::vector<int> ids;
        for (int i = 0; i < 4; ++i)
            ids.push_back(rig.request("q.test", 443, ProxyAuto));
        QVERIFY(rig.engine.sent.empty());
        rig.finishProbes(allOk());
        std::vector<int> order;
        for (const auto& d : rig.engine.sent)
            if (std::find(ids.begin(), ids.end(), d.id) != ids.end())
                order.push_back(d.id);
        QCOMPARE(order, ids);
    }

    void retries_data()
    {
        QTest::addColumn<int>("retry");
        QTest::addColumn<QString>("failure");  // error | data-then-error | closed
        QTest::addColumn<int>("attempts");
        QTest::newRow("error-retry-3") << 3 << "error" << 3;
        QTest::newRow("error-retry-1") << 1 << "error" << 1;
        QTest::newRow("error-retry-0") << 0 << "error" << 1;
        QTest::newRow("after-data") << 3 << "data-then-error" << 1;
        QTest::newRow("closed") << 3 << "closed" << 1;
    }
    void retries()
    {
        QFETCH(int, retry);
        QFETCH(QString, failure);
        QFETCH(int, attempts);
        Rig rig;
        rig.answer("r.test", {"127.0.0.2"});
        const int id = rig.request("r.test", 443, ProxyAuto, retry);
        rig.finishProbes(allOk());
        int sent = 0;
        bool final = false;
        while (!final) {
            ++sent;
            if (failure == "data-then-error")
                rig.sel.ReportData(id);
            rig.sel.ReportError(id, failure == "closed" ? 98 : 1);
            final = rig.sel.ReportFinished(id);
            QVERIFY(sent <= 5);
        }
        int dispatched = 0;
        for (const auto& d : rig.engine.sent)
            dispatched += d.id == id;
        QCOMPARE(sent, attempts);
        QCOMPARE(dispatched, attempts);
        QVERIFY(!rig.sel.HasRouting(id));
        OrbNetRouteStatus* r = rig.sel.Parser("r.test", 443)->Route("127.0.0.2", OrbRouteDirect);
        // A close is not counted; data counts as a success; each plain failure counts.
        QCOMPARE(r->requestSamplesTotal, failure == "closed" ? 0 : attempts);
        QCOMPARE(r->requestFailuresTotal, failure == "error" ? attempts : 0);
    }

    void windowsExpire()
    {
        Rig rig;
        rig.answer("w.test", {"127.0.0.2"});
        const int a = rig.request("w.test", 443, ProxyAuto);
        rig.finishProbes(allOk());
        rig.sel.ReportError(a, 1);
        QVERIFY(rig.sel.ReportFinished(a));
        const int stuck = rig.request("w.test", 443, ProxyAuto);  // never finishes
        OrbNetRouteStatus* r = rig.sel.Parser("w.test", 443)->Route("127.0.0.2", OrbRouteDirect);
        QCOMPARE(r->requestFailures, 1);
        QCOMPARE(r->Score(), 0);
        rig.now += OrbNetIPSelector::kRequestWindowMs;
        const int b = rig.request("w.test", 443, ProxyAuto);
        QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("[OrbNetwork]: http have not been freed, id=%1").arg(stuck)));
        rig.sel.ReportData(b);
        QVERIFY(rig.sel.ReportFinished(b));
        // The old failure left the 60 s window; the totals keep it.
        QCOMPARE(r->requestFailures, 0);
        QCOMPARE(r->requestSamples, 1);
        QCOMPARE(r->requestFailuresTotal, 1);
        QVERIFY(r->Score() > 0);
        QCOMPARE(int(r->requestRecords.size()), 2);  // the unfinished one is kept
        QCOMPARE(r->probeSamples, 1);
        rig.now += OrbNetIPSelector::kProbeWindowMs;
        QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("[OrbNetwork]: http have not been freed, id=%1").arg(stuck)));
        rig.sel.ReportError(stuck, 1);
        QCOMPARE(r->probeSamples, 0);
        QCOMPARE(r->probeLatencySum, 0);
    }

    void refreshAddsAddressesAndKeepsStatistics()
    {
        Rig rig;
        rig.answer("re.test", {"127.0.0.2"});
        const int first = rig.request("re.test", 443, ProxyAuto);
        rig.finishProbes(allOk());
        rig.sel.ReportData(first);
        QVERIFY(rig.sel.ReportFinished(first));
        OrbHostParser* p = rig.sel.Parser("re.test", 443);
        OrbNetRouteStatus* known = p->Route("127.0.0.2", OrbRouteDirect);
        QCOMPARE(known->requestSamplesTotal, 1);
        QCOMPARE(rig.resolver->calls, 2);
        // The name now has a second address; the periodic refresh resolves and probes again.
        rig.answer("re.test", {"127.0.0.3", "127.0.0.2"});
        p->onUpdate();
        QCOMPARE(rig.resolver->calls, 4);
        QCOMPARE(int(p->Routes().size()), 2);
        QCOMPARE(p->Route("127.0.0.2", OrbRouteDirect), known);
        QCOMPARE(known->requestSamplesTotal, 1);
        QCOMPARE(int(rig.engine.probes.size()), 2);
        // Probes of that pass that never end are reported once they leave their window.
        rig.now += OrbNetIPSelector::kProbeWindowMs;
        const int later = rig.request("re.test", 443, ProxyAuto);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^\\[OrbNetwork\\]: probe have not been freed, id=\\d+$"));
        rig.sel.ReportData(later);
        QVERIFY(rig.sel.ReportFinished(later));
        QCOMPARE(int(known->probeRecords.size()), 1);  // the finished one expired, the open one is kept
        QCOMPARE(known->probeSamples, 0);
    }

    void overlappingPassesEndByTheirOwnProbes()
    {
        Rig rig;
        rig.answer("ov.test", {"127.0.0.2", "127.0.0.3"});
        rig.sel.onProbe("https", "ov.test", 443, 700);
        rig.finishProbes(allOk());
        QVERIFY(rig.engine.answers.count(700));
        OrbHostParser* p = rig.sel.Parser("ov.test", 443);
        // A probe asks for a pass; a refresh starts another before the first ends.
        rig.sel.onProbe("https", "ov.test", 443, 701);
        auto firstPass = std::move(rig.engine.probes);
        rig.engine.probes.clear();
        p->ProbeAllRoutes();
        QCOMPARE(int(rig.engine.probes.size()), 2);
        // Late results of the first pass do not end the second one.
        auto secondPass = std::move(rig.engine.probes);
        rig.engine.probes = std::move(firstPass);
        rig.finishProbes(allOk());
        QVERIFY(p->PassRunning());
        QVERIFY(!rig.engine.answers.count(701));
        rig.engine.probes = std::move(secondPass);
        rig.finishProbes(allOk());
        QVERIFY(!p->PassRunning());
        QVERIFY(rig.engine.answers.count(701));
    }

    // Probe answers: one entry per route not excluded, in walk order (ip string, then route
    // type), with the outcome of its last probe (2000 ms when it failed) and the selected flag.
    void probeAnswerTable_data()
    {
        QTest::addColumn<QStringList>("addrs");
        QTest::addColumn<bool>("systemProxy");
        QTest::addColumn<QStringList>("failing");   // "ip/type"
        QTest::addColumn<int>("requestMode");       // 0: no request before the probe
        QTest::addColumn<QStringList>("expected");  // "ip/mode/reachable/selected/latency"
        QTest::newRow("walk order is by ip string")
            << QStringList{"127.0.0.9", "127.0.0.10", "127.0.0.2"} << false << QStringList{} << 0
            << QStringList{"127.0.0.10/1/1/0/10", "127.0.0.2/1/1/0/10", "127.0.0.9/1/1/0/10"};
        QTest::newRow("unreachable route, direct before system proxy")
            << QStringList{"127.0.0.2"} << true << QStringList{"127.0.0.2/1"} << 0
            << QStringList{"127.0.0.2/1/0/0/2000", "127.0.0.2/2/1/0/10"};
        QTest::newRow("nothing reachable")
            << QStringList{"127.0.0.2"} << false << QStringList{"127.0.0.2/1"} << 0
            << QStringList{"127.0.0.2/1/0/0/2000"};
        QTest::newRow("selected route after a request")
            << QStringList{"127.0.0.2", "127.0.0.3"} << false << QStringList{"127.0.0.2/1"} << int(ProxyDirect)
            << QStringList{"127.0.0.2/1/0/0/2000", "127.0.0.3/1/1/1/10"};
    }
    void probeAnswerTable()
    {
        QFETCH(QStringList, addrs);
        QFETCH(bool, systemProxy);
        QFETCH(QStringList, failing);
        QFETCH(int, requestMode);
        QFETCH(QStringList, expected);
        Rig rig;
        rig.systemProxy = systemProxy;
        rig.answer("t.test", addrs);
        const Outcome outcome = [failing](const std::string& ip, int type) {
            return failing.contains(QString::fromStdString(ip) + "/" + QString::number(type)) ? -1 : 10;
        };
        if (requestMode)
            rig.request("t.test", 443, ProxyMode(requestMode));
        rig.sel.onProbe("https", "t.test", 443, 500);
        rig.finishProbes(outcome);
        int answered = 500;
        if (requestMode) {
            // The request was bound after the first pass answered; a second probe shows it.
            rig.sel.onProbe("https", "t.test", 443, 501);
            rig.finishProbes(outcome);
            answered = 501;
        }
        QVERIFY(rig.engine.answers.count(answered));
        QStringList got;
        for (const OrbIPStatus& st : rig.engine.answers[answered])
            got << QStringLiteral("%1/%2/%3/%4/%5")
                       .arg(QString::fromStdString(st.ip))
                       .arg(int(st.mode))
                       .arg(int(st.reachable))
                       .arg(int(st.selected))
                       .arg(st.latency);
        QCOMPARE(got, expected);
        for (const OrbIPStatus& st : rig.engine.answers[answered])
            QCOMPARE(st.source, 0);
    }

    void probeAnswers()
    {
        Rig rig;
        rig.systemProxy = true;
        rig.answer("pr.test", {"127.0.0.2"});
        rig.sel.onProbe("https", "pr.test", 443, 500);
        QVERIFY(rig.engine.answers.empty());  // waits for the first pass
        rig.finishProbes([](const std::string&, int type) { return type == 1 ? 10 : -1; });
        QCOMPARE(int(rig.engine.answers.count(500)), 1);
        const auto& list = rig.engine.answers[500];
        QCOMPARE(int(list.size()), 2);
        QCOMPARE(int(list.front().mode), 1);
        QVERIFY(list.front().reachable);
        QCOMPARE(list.front().latency, 10);
        QCOMPARE(int(list.back().mode), 2);
        QVERIFY(!list.back().reachable);
        QCOMPARE(list.back().latency, 2000);
        // A ready parser runs a fresh pass for the next probe and answers after it.
        rig.sel.onProbe("https", "pr.test", 443, 501);
        QCOMPARE(int(rig.engine.probes.size()), 2);
        QVERIFY(!rig.engine.answers.count(501));
        rig.finishProbes(allOk());
        QVERIFY(rig.engine.answers.count(501));
        QVERIFY(rig.engine.answers[501].back().reachable);
    }
};

QTEST_GUILESS_MAIN(tst_OrbNetIPSelector)
#include "tst_orbnetipselector.moc"
