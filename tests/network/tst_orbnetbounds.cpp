// Size caps and whole-transfer deadlines of downloads and plain requests: a server that
// trickles a byte now and then, one that never stops sending, one that announces too much,
// a request that never gets its address; bounded transfers that fit run as before.
#include "OrbNetTestUtil.h"
#include "OrbNetDownload.h"
#include "OrbNetDownloadWatcher.h"
#include "OrbTestFiles.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QtTest>

#include <atomic>

using namespace orbtest;

namespace {

const qint64 kMiB = 1024 * 1024;

// Never answers: the request waits for its address until the lookup times out.
class HangingDns : public IOrbDnsResolver {
public:
    std::atomic<int> calls{0};
    void Lookup(const QString&, int, QObject*, Done) override { ++calls; }
};

} // namespace

class tst_OrbNetBounds : public QObject {
    Q_OBJECT

    TestHttpServer m_srv;
    std::unique_ptr<OrbNetwork> m_net;
    const QByteArray m_small = randomBytes(600 * 1024 + 7, 21);
    const QByteArray m_package = randomBytes(int(kMiB + kMiB / 2), 22);

    struct Outcome {
        int error = -1;
        qint64 elapsedMs = 0;
    };

    // Runs one download to its end (bounded by the test, not by the download).
    Outcome download(OrbNetwork* net, const QString& url, const QString& path, long long maxSize, long long deadline,
                     bool resume)
    {
        OrbNetDownloadReq req(url.toStdString(), path.toStdString(), orbtest::loopbackConfig());
        req.SetMaxSize(maxSize).SetDeadline(deadline);
        QElapsedTimer clock;
        clock.start();
        auto dl = net->Download(req, resume);
        auto error = std::make_shared<std::atomic<int>>(-1);
        const bool ok = OrbNetDownloadWatcher::Watch(
            dl, QCoreApplication::instance(), [error](const std::shared_ptr<OrbNetDownload>& d) { *error = d->Error(); },
            nullptr);
        Outcome out;
        if (!ok)
            return out;
        if (!QTest::qWaitFor([&] { return *error != -1; }, 40000))
            return out;  // error -1: never ended
        out.error = *error;
        out.elapsedMs = clock.elapsed();
        return out;
    }

private slots:
    void initTestCase()
    {
        clearProxyEnv();
        const QByteArray small = m_small, package = m_package;
        QVERIFY(m_srv.start(orbtest::withProbes([small, package](const HttpRequest& r) {
            HttpReply rep;
            if (r.path == "/drip") {  // declares a megabyte, then a byte every 2 s
                rep.headers.append(qMakePair(QByteArray("Content-Length"), QByteArray("1000000")));
                rep.omitLength = true;
                rep.body = QByteArray(12, 'd');
                rep.chunkSize = 1;
                rep.chunkDelayMs = 2000;
            } else if (r.path == "/flood") {  // chunked, no end in sight for a 1 MiB cap
                rep.chunked = true;
                rep.body = QByteArray(int(24 * kMiB), 'f');
                rep.chunkSize = 64 * 1024;
            } else if (r.path == "/announced") {  // says at once that it is too big
                rep.body = QByteArray(int(2 * kMiB), 'a');
                rep.chunkSize = 64 * 1024;
                rep.chunkDelayMs = 20;
            } else if (r.path == "/silent") {
                rep.noResponse = true;
            } else if (r.path == "/package") {
                rep = HttpReply::ranged(r, package);
                rep.chunkSize = 64 * 1024;
            } else {
                rep = HttpReply::ranged(r, small);
                rep.chunkSize = 64 * 1024;
            }
            return rep;
        })));
        m_net = orbtest::makeEngine();
    }
    void cleanupTestCase()
    {
        m_net.reset();
        m_srv.stop();
    }

    // The download's error, whether the file is kept, and that it never holds more than the cap.
    void downloadBounds_data()
    {
        QTest::addColumn<QString>("urlPath");
        QTest::addColumn<qlonglong>("maxSize");
        QTest::addColumn<qlonglong>("deadline");
        QTest::addColumn<int>("existing");  // bytes of the package already on disk (resumed)
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("kept");
        QTest::newRow("drip, deadline") << "/drip" << qlonglong(-1) << qlonglong(3000) << -1 << int(NetDeadline) << true;
        QTest::newRow("no answer, deadline") << "/silent" << qlonglong(-1) << qlonglong(1500) << -1 << int(NetDeadline)
                                             << true;
        QTest::newRow("flood, cap") << "/flood" << qlonglong(kMiB) << qlonglong(-1) << -1 << int(NetTooLarge) << false;
        QTest::newRow("announced beyond the cap") << "/announced" << qlonglong(kMiB) << qlonglong(-1) << -1
                                                  << int(NetTooLarge) << false;
        QTest::newRow("resumed file counts whole") << "/package" << qlonglong(kMiB) << qlonglong(-1) << 800 * 1024
                                                   << int(NetTooLarge) << false;
        QTest::newRow("fits both") << "/small" << qlonglong(kMiB) << qlonglong(30000) << -1 << 0 << true;
        QTest::newRow("resumed, fits") << "/package" << qlonglong(2 * kMiB) << qlonglong(30000) << 800 * 1024 << 0
                                       << true;
        QTest::newRow("cap equals the size") << "/small" << qlonglong(600 * 1024 + 7) << qlonglong(-1) << -1 << 0
                                             << true;
    }
    void downloadBounds()
    {
        QFETCH(QString, urlPath);
        QFETCH(qlonglong, maxSize);
        QFETCH(qlonglong, deadline);
        QFETCH(int, existing);
        QFETCH(int, error);
        QFETCH(bool, kept);
        QTemporaryDir dir;
        const QString path = dir.filePath("pkg.zip");
        if (existing >= 0)
            writeFile(path, m_package.left(existing));
        const Outcome out = download(m_net.get(), m_srv.url(urlPath), path, maxSize, deadline, existing >= 0);
        QCOMPARE(out.error, error);
        QCOMPARE(QFileInfo::exists(path), kept);
        if (maxSize >= 0)
            QVERIFY(QFileInfo(path).size() <= maxSize);
        if (error == NetDeadline)
            QVERIFY2(out.elapsedMs >= deadline - 50, qPrintable(QString::number(out.elapsedMs)));  // never early
        if (error == 0)
            QVERIFY(readAll(path) == (urlPath == "/package" ? m_package : m_small));
        if (error == NetDeadline && urlPath == "/drip")
            QVERIFY(readAll(path) == QByteArray(int(QFileInfo(path).size()), 'd'));  // what came is kept
    }

    // The deadline also covers the wait for the host's address; the lookup's late end neither
    // overwrites the outcome nor upsets the engine.
    void deadlineBeforeTheAddress()
    {
        auto dns = std::make_shared<HangingDns>();
        OrbNetConfig config = orbtest::loopbackConfig();
        config.SetLookupTimeout(1500);
        auto net = orbtest::makeEngine(config, dns);
        QTemporaryDir dir;
        const QString url = QStringLiteral("http://bounds.invalid:%1/small").arg(m_srv.port());
        const Outcome out = download(net.get(), url, dir.filePath("a.zip"), -1, 300, false);
        QCOMPARE(out.error, int(NetDeadline));
        QVERIFY(out.elapsedMs < 1500);  // ended by the deadline, not by the lookup's timeout
        QVERIFY(dns->calls > 0);

        OrbNetRequest req(config);
        req.SetUrl(url.toStdString(), false);
        req.SetDeadline(300);
        auto resp = net->Do(req);
        QVERIFY(!resp->Sync(nullptr));
        QCOMPARE(int(resp->Error()), int(NetDeadline));
        QTest::qWait(2500);  // the lookups time out and the selector comes to send them
        QCOMPARE(int(resp->Error()), int(NetDeadline));
        // The engine goes on serving.
        const Outcome after = download(net.get(), m_srv.url("/small"), dir.filePath("b.zip"), -1, 30000, false);
        QCOMPARE(after.error, 0);
    }

    // Plain requests share the bounds: the body in memory never grows beyond the cap.
    void requestBounds_data()
    {
        QTest::addColumn<QString>("urlPath");
        QTest::addColumn<qlonglong>("maxSize");
        QTest::addColumn<qlonglong>("deadline");
        QTest::addColumn<int>("error");
        QTest::newRow("drip, deadline") << "/drip" << qlonglong(-1) << qlonglong(2500) << int(NetDeadline);
        QTest::newRow("flood, cap") << "/flood" << qlonglong(kMiB) << qlonglong(-1) << int(NetTooLarge);
        QTest::newRow("announced beyond the cap") << "/announced" << qlonglong(kMiB) << qlonglong(-1)
                                                  << int(NetTooLarge);
        QTest::newRow("fits both") << "/small" << qlonglong(kMiB) << qlonglong(30000) << 0;
    }
    void requestBounds()
    {
        QFETCH(QString, urlPath);
        QFETCH(qlonglong, maxSize);
        QFETCH(qlonglong, deadline);
        QFETCH(int, error);
        OrbNetRequest req(orbtest::loopbackConfig());
        req.SetUrl(m_srv.url(urlPath).toStdString(), false);
        req.SetMaxSize(maxSize).SetDeadline(deadline);
        QCOMPARE(req.MaxSize(), maxSize);
        QCOMPARE(req.Deadline(), deadline);
        auto resp = m_net->Do(req);
        QCOMPARE(resp->Sync(nullptr), error == 0);
        QCOMPARE(int(resp->Error()), error);
        if (maxSize >= 0)
            QVERIFY(resp->GetBodyLen() <= maxSize);
        if (error == 0)
            QVERIFY(QByteArray::fromStdString(resp->GetBody()) == m_small);
    }

    void setters()
    {
        OrbNetDownloadReq req;
        QCOMPARE(req.MaxSize(), -1LL);
        QCOMPARE(req.Deadline(), -1LL);
        req.SetMaxSize(10).SetDeadline(20);
        QCOMPARE(req.MaxSize(), 10LL);
        QCOMPARE(req.Deadline(), 20LL);
        QCOMPARE(req.GetRuquest().MaxSize(), 10LL);
        QCOMPARE(req.GetRuquest().Deadline(), 20LL);
        req.SetMaxSize(-5).SetDeadline(-5);
        QCOMPARE(req.MaxSize(), -1LL);
        QCOMPARE(req.Deadline(), -1LL);
        OrbNetDownloadReq copy(req.SetMaxSize(7));
        QCOMPARE(copy.MaxSize(), 7LL);
        OrbNetDownloadReq moved(std::move(copy));
        QCOMPARE(copy.MaxSize(), -1LL);
        QCOMPARE(copy.SetDeadline(3).Deadline(), -1LL);
    }
};

QTEST_GUILESS_MAIN(tst_OrbNetBounds)
#include "tst_orbnetbounds.moc"
