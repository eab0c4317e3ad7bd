// The parts built on top of the engine and the selector, each driven through the narrow
// interface it is handed and nothing else: a host parser with a fake owner in place of
// the selector, and a download and the upload credential fetch with a fake in place of
// the engine.
#include "OrbHostParser_p.h"
#include "OrbNetDownload.h"
#include "OrbNetDownloadReq.h"
#include "OrbNetDownload_p.h"
#include "OrbNetResponse_p.h"
#include "OrbNetUploader_p.h"

#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <map>
#include <vector>

namespace {

class FakeOwner : public IOrbHostParserOwner {
public:
    qint64 now = 5000;
    bool systemProxy = false;
    OrbNetRouteStatus socks;
    std::vector<std::pair<OrbNetReqStatus*, std::function<void(OrbNetReqStatus*)>>> probes;
    std::vector<std::pair<const OrbNetRouteStatus*, int>> chosen;
    std::map<int, std::list<OrbIPStatus>> answered;

    FakeOwner() { socks.type = OrbRouteSocks5; }
    qint64 Now() const override { return now; }
    IOrbDnsResolver* Resolver() const override { return nullptr; }
    int LookupTimeout() const override { return 50; }
    bool HasSystemProxy(const QString&, const QString&, int) const override { return systemProxy; }
    OrbNetRouteStatus* Socks5Route() override { return &socks; }
    void SendProbe(OrbNetReqStatus* status, std::function<void(OrbNetReqStatus*)> callback) override
    {
        probes.emplace_back(status, std::move(callback));
    }
    void RouteChosen(const OrbNetRouteStatus* route, int id) override { chosen.emplace_back(route, id); }
    void ProbeAnswered(int id, std::list<OrbIPStatus> routes) override { answered[id] = std::move(routes); }

    void finishProbes()
    {
        auto pending = std::move(probes);
        probes.clear();
        for (auto& p : pending) {
            p.first->route->probeOk = true;
            p.second(p.first);
        }
    }
};

struct Submitted {
    int id;
    OrbNetRequest request;
};

class FakeTransferEngine : public IOrbTransferEngine {
public:
    int counter = 100;
    OrbNetConfig config;
    std::vector<Submitted> submitted;
    int NextId() override { return ++counter; }
    OrbNetConfig RequestConfig() const override { return config; }
    std::shared_ptr<OrbNetResponse> Submit(int id, const OrbNetRequest& request, const Prepare&) override
    {
        submitted.push_back({id, request});
        return nullptr;
    }
};

class FixedProvider : public IOrbCosGetConfig {
public:
    void MakeRequest(std::string& url, std::string& body) override
    {
        url = "http://127.0.0.1:9/credentials";
        body = "{\"scope\":\"upload\"}";
    }
    bool ParseConfig(const std::string&) override { return false; }
};

} // namespace

class tst_OrbNetInterfaces : public QObject {
    Q_OBJECT
private slots:
    // A parser binds a request only once its first probe pass is over, then reports the
    // route to its owner; a probe question waiting on the pass is answered the same way.
    void parserReportsToItsOwner_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("systemProxy");
        QTest::addColumn<int>("routeType");
        QTest::addColumn<int>("probeCount");
        QTest::newRow("direct") << int(ProxyDirect) << false << int(OrbRouteDirect) << 1;
        QTest::newRow("auto") << int(ProxyAuto) << false << int(OrbRouteDirect) << 1;
        QTest::newRow("system proxy") << int(ProxySystem) << true << int(OrbRouteSystemProxy) << 2;
        QTest::newRow("system without one") << int(ProxySystem) << false << int(OrbRouteDirect) << 1;
        QTest::newRow("socks5") << int(ProxySocks5) << false << int(OrbRouteSocks5) << 1;
    }
    void parserReportsToItsOwner()
    {
        QFETCH(int, mode);
        QFETCH(bool, systemProxy);
        QFETCH(int, routeType);
        QFETCH(int, probeCount);

        FakeOwner owner;
        owner.systemProxy = systemProxy;
        OrbHostParser parser(&owner, "https", "127.0.0.1", 443);
        parser.Start();
        QCOMPARE(int(owner.probes.size()), probeCount);

        parser.DispatchHttp(ProxyMode(mode), 7);
        parser.AddPendingProbe(9);
        QVERIFY(owner.chosen.empty());
        QVERIFY(owner.answered.empty());

        owner.finishProbes();
        QVERIFY(parser.IsReady());
        QCOMPARE(int(owner.chosen.size()), 1);
        QCOMPARE(owner.chosen[0].second, 7);
        QCOMPARE(int(owner.chosen[0].first->type), routeType);
        QCOMPARE(owner.chosen[0].first->ip, std::string("127.0.0.1"));
        if (routeType == OrbRouteSocks5)
            QCOMPARE(owner.chosen[0].first, &owner.socks);
        QCOMPARE(int(owner.answered.count(9)), 1);
        QCOMPARE(int(owner.answered[9].size()), probeCount);

        // Once ready, a request is bound at once.
        parser.DispatchHttp(ProxyMode(mode), 8);
        QCOMPARE(int(owner.chosen.size()), 2);
        QCOMPARE(owner.chosen[1].second, 8);
        QCOMPARE(int(owner.chosen[1].first->type), routeType);
    }

    // A host no lookup can resolve still gets a route: the fallback address.
    void parserWithoutResolverFallsBack()
    {
        FakeOwner owner;
        OrbHostParser parser(&owner, "https", "nowhere.test", 443);
        parser.Start();
        QCOMPARE(int(owner.probes.size()), 1);
        owner.finishProbes();
        parser.DispatchHttp(ProxyDirect, 3);
        QCOMPARE(int(owner.chosen.size()), 1);
        QCOMPARE(owner.chosen[0].first->ip, OrbHostParser::FallbackAddress("nowhere.test"));
    }

    // A download opens its file and hands the engine one transfer under its own id, asking
    // for the file's bytes untransformed; a file that cannot be opened sends nothing.
    void downloadSubmitsThroughTheEngine_data()
    {
        QTest::addColumn<bool>("openable");
        QTest::newRow("file opens") << true;
        QTest::newRow("file cannot open") << false;
    }
    void downloadSubmitsThroughTheEngine()
    {
        QFETCH(bool, openable);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString path = dir.filePath("package.zip");
        if (!openable) {
            QFile blocker(dir.filePath("plain"));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            blocker.close();
            path = dir.filePath("plain/package.zip");  // below a regular file
        }
        FakeTransferEngine engine;
        OrbNetDownloadReq req("http://127.0.0.1:9/package.zip", path.toStdString(), OrbNetConfig());
        auto h = OrbNetDownloadPrivate::Start(&engine, 42, req, false);
        QVERIFY(h);
        QCOMPARE(h->Id(), 42);
        if (!openable) {
            QVERIFY(engine.submitted.empty());
            QCOMPARE(h->Error(), NetFileOpenFailed);
            return;
        }
        QCOMPARE(int(engine.submitted.size()), 1);
        QCOMPARE(engine.submitted[0].id, 42);
        QCOMPARE(engine.submitted[0].request.Url(), std::string("http://127.0.0.1:9/package.zip"));
        std::string encoding;
        QVERIFY(engine.submitted[0].request.GetHeader("Accept-Encoding", encoding));
        QCOMPARE(encoding, std::string("identity"));
    }

    // The credential fetch is a POST of the provider's body to its URL, built from the
    // engine's settings and submitted under a fresh id of the engine.
    void uploaderFetchesThroughTheEngine()
    {
        FakeTransferEngine engine;
        engine.config.SetUserAgent("OrbInterfaceTest").SetTimeout(7);
        OrbNetUploader uploader(&engine);
        uploader.SetCosConfig(std::make_shared<FixedProvider>());
        QTRY_COMPARE(int(engine.submitted.size()), 1);
        const Submitted& s = engine.submitted[0];
        QCOMPARE(s.id, 101);
        QCOMPARE(s.request.Method(), HttpPost);
        QCOMPARE(s.request.Url(), std::string("http://127.0.0.1:9/credentials"));
        std::string body;
        QVERIFY(s.request.GetBody(body));
        QCOMPARE(body, std::string("{\"scope\":\"upload\"}"));
        QCOMPARE(s.request.UserAgent(), std::string("OrbInterfaceTest"));
        QCOMPARE(s.request.Timeout(), 7);
    }
};

QTEST_GUILESS_MAIN(tst_OrbNetInterfaces)
#include "tst_orbnetinterfaces.moc"
