// The download service against a loopback server: its signals and units as the GUI
// thread receives them, the held game download and its rules, pause and resume, and
// the log lines of every completion and progress report.
#include "core/ComponentRegister.h"
#include "OrbTestLog.h"
#include "core/ComponentRegistry.h"
#include "core/IOrbLog.h"
#include "services/download/OrbBackend.h"

#include "TestHttpServer.h"

#include <OrbNetConfig.h>

#include <QRandomGenerator>
#include <QtTest>

#include <cstdarg>
#include <mutex>
#include "OrbTestFiles.h"

using namespace orbtest;


using orbtest::readAll;
namespace {

QList<OrbTestLog::Line> logLines(const QString& containing)
{
    return OrbTestLog::Lines(containing);
}

int logCount()
{
    return OrbTestLog::Count();
}

QByteArray content(int size)
{
    return orbtest::randomBytes(size, 3);
}


const int kMiB = 1048576;

} // namespace

class tst_OrbBackend : public QObject {
    Q_OBJECT

    const QByteArray m_game = content(3 * kMiB + 1000);
    const QByteArray m_small = "[Game]\nVersion=1.2.3\n";
    TestHttpServer m_srv;
    std::unique_ptr<ComponentRegister> m_registry;
    OrbBackend* m_backend = nullptr;

    // What the GUI thread received, through queued connections like the controller's.
    QList<QPair<qint32, qint32>> m_progress;
    QList<QPair<qint32, QString>> m_launcherProgress;
    int m_stops = 0, m_finishes = 0, m_settings = 0, m_launcherDone = 0;

    QString url(const char* name) const { return m_srv.url(QStringLiteral("/") + name); }

private slots:
    void initTestCase()
    {
        clearProxyEnv();
        DefaultNetConfig.SetResolvers("127.0.0.1", "127.0.0.1").SetLookupTimeout(1000);
        const QByteArray game = m_game, small = m_small;
        QVERIFY(m_srv.start([game, small](const HttpRequest& r) {
            if (r.method == "OPTIONS")
                return HttpReply();
            QThread::msleep(20);  // the service registers its callbacks before the answer
            if (r.path == "/game.zip" || r.path == "/slow/game.zip") {
                HttpReply rep = HttpReply::ranged(r, game);
                if (r.path.startsWith("/slow")) {
                    rep.chunkSize = 128 * 1024;
                    rep.chunkDelayMs = 40;
                }
                return rep;
            }
            if (r.path == "/launcher.zip") {
                HttpReply rep = HttpReply::ranged(r, game);
                rep.chunkSize = 256 * 1024;
                rep.chunkDelayMs = 30;
                return rep;
            }
            if (r.path == "/cut/game.zip" || r.path == "/cutclean/game.zip") {
                // The first attempt loses its connection mid-body; a resume is served in full.
                HttpReply rep = HttpReply::ranged(r, game);
                rep.chunkSize = 128 * 1024;
                if (r.header("Range").isEmpty()) {
                    rep.dropAfter = 2 * kMiB + kMiB / 2;
                    rep.dropCleanly = r.path.startsWith("/cutclean");
                }
                return rep;
            }
            if (r.path == "/flood") {  // chunked, far beyond any cap the tests set
                HttpReply rep;
                rep.chunked = true;
                rep.body = QByteArray(16 * kMiB, 'f');
                rep.chunkSize = 64 * 1024;
                return rep;
            }
            if (r.path == "/drip") {  // declares a megabyte, then a byte every 2 s
                HttpReply rep;
                rep.headers.append(qMakePair(QByteArray("Content-Length"), QByteArray("1000000")));
                rep.omitLength = true;
                rep.body = QByteArray(8, 'd');
                rep.chunkSize = 1;
                rep.chunkDelayMs = 2000;
                return rep;
            }
            if (r.path == "/game_settings.ini")
                return HttpReply::ranged(r, small);
            if (r.path == "/empty")
                return HttpReply();
            if (r.path == "/three.zip") {  // one byte at a time, slower than the progress choke
                HttpReply rep;
                rep.body = "abc";
                rep.chunkSize = 1;
                rep.chunkDelayMs = 250;
                return rep;
            }
            HttpReply rep;
            rep.status = 404;
            rep.body = "<html>missing</html>";
            return rep;
        }));
        m_registry = std::make_unique<ComponentRegister>();
        m_registry->RegisterLog<OrbTestLog>("OrbLogImpl");
        m_registry->Register<OrbBackend>("OrbBackend");
        m_registry->InitAll();
        IOrbNetwork* service = GetComponent<IOrbNetwork>("OrbBackend");
        QVERIFY(service);
        QCOMPARE(service->GetName(), std::string("OrbBackend"));
        m_backend = dynamic_cast<OrbBackend*>(service);
        QVERIFY(m_backend);
        QCOMPARE(qobject_cast<IOrbNetwork*>(m_backend), service);

        connect(m_backend, &OrbBackend::sigDownloadProgress, this,
                [this](qint32 off, qint32 tot) { m_progress.append({off, tot}); });
        connect(m_backend, &OrbBackend::sigDownloadStop, this, [this] { ++m_stops; });
        connect(m_backend, &OrbBackend::sigDownloadFinish, this, [this] { ++m_finishes; });
        connect(m_backend, &OrbBackend::sigGameSettingDownloadFinish, this, [this] { ++m_settings; });
        connect(m_backend, &OrbBackend::sigLauncherUpdateProgress, this,
                [this](qint32 v, const QString& t) { m_launcherProgress.append({v, t}); });
        connect(m_backend, &OrbBackend::sigLauncherUpdateDownloadFinish, this, [this] { ++m_launcherDone; });
    }

    void cleanupTestCase()
    {
        m_registry.reset();
        m_srv.stop();
    }

    void init()
    {
        m_backend->StopDownLoad();
        QTest::qWait(50);  // let a stopped download's signals arrive before the counters reset
        m_progress.clear();
        m_launcherProgress.clear();
        m_stops = m_finishes = m_settings = m_launcherDone = 0;
        OrbTestLog::Clear();
    }

    // Progress in whole MiB (0 until the first MiB is in), one finish, the log lines, and
    // the held handle refusing new requests until StopDownLoad.
    void gameDownloadAndHeldHandle()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("game.zip");
        QVERIFY(m_backend->RequestAsnycDownLoadUrl(url("slow/game.zip"), path));
        const int gets = m_srv.count("GET");
        QVERIFY(!m_backend->RequestAsnycDownLoadUrl(url("game.zip"), dir.filePath("other.zip")));  // one at a time
        QCOMPARE(m_srv.count("GET"), gets);
        QTRY_COMPARE_WITH_TIMEOUT(m_finishes, 1, 30000);
        QCOMPARE(m_stops, 0);
        QVERIFY(readAll(path) == m_game);

        QVERIFY(m_progress.size() >= 2);
        QCOMPARE(m_progress.first().first, 0);
        QCOMPARE(m_progress.last(), qMakePair(qint32(3), qint32(3)));
        for (int i = 0; i < m_progress.size(); ++i) {
            QCOMPARE(m_progress[i].second, 3);
            QVERIFY(i == 0 || m_progress[i].first >= m_progress[i - 1].first);
        }
        const auto results = logLines("7--- result:");
        QCOMPARE(results.size(), 1);
        QCOMPARE(results[0].level, int(OrbLogInfo));
        QVERIFY(results[0].text.contains("OrbBackend.cpp:"));
        QVERIFY(results[0].text.contains("][OnGameDownloadFinish] ---> 7--- result:0, cost = "));
        QVERIFY(results[0].text.endsWith("ms, url:" + url("slow/game.zip")));
        const auto reports = logLines("7--- offset:");
        QVERIFY(reports.size() >= m_progress.size());
        QCOMPARE(reports[0].level, int(OrbLogInfo));
        QVERIFY(reports[0].text.contains("[OnGameDownloadProgress] ---> 7--- offset:"));
        QVERIFY(reports.last().text.endsWith(QStringLiteral("7--- offset:%1, total = %1").arg(m_game.size())));
        QVERIFY(logLines("Request Down load Url Error").isEmpty());

        // Finished and let go: downloading again is accepted at once (the complete file is
        // answered with 416 and counts as finished); StopDownLoad has nothing to stop.
        m_backend->StopDownLoad();
        QTest::qWait(100);
        QCOMPARE(m_stops, 0);
        QVERIFY(m_backend->RequestAsnycDownLoadUrl(url("game.zip"), path));
        QTRY_COMPARE_WITH_TIMEOUT(m_finishes, 2, 30000);
        QVERIFY(readAll(path) == m_game);
        QVERIFY(m_backend->RequestAsnycDownLoadUrl(url("game.zip"), path));
        QTRY_COMPARE_WITH_TIMEOUT(m_finishes, 3, 30000);
        QCOMPARE(m_stops, 0);
    }

    // The connection is lost mid-body: the service reports what is on disk and lets the
    // download go, and the player's resume continues the file with a byte range.
    void resumeAfterNetworkCut_data()
    {
        QTest::addColumn<QString>("urlPath");
        QTest::newRow("connection reset") << "cut/game.zip";
        QTest::newRow("orderly close") << "cutclean/game.zip";
    }
    void resumeAfterNetworkCut()
    {
        QFETCH(QString, urlPath);
        QTemporaryDir dir;
        const QString path = dir.filePath("game.zip");
        QStringList events;
        QMetaObject::Connection a = connect(m_backend, &OrbBackend::sigDownloadProgress, this,
                [&events](qint32 off, qint32 tot) { events << QStringLiteral("%1/%2").arg(off).arg(tot); });
        QMetaObject::Connection b =
            connect(m_backend, &OrbBackend::sigDownloadStop, this, [&events] { events << QStringLiteral("stop"); });
        m_srv.clearLog();
        QVERIFY(m_backend->RequestAsnycDownLoadUrl(url(urlPath.toUtf8().constData()), path));
        QTRY_COMPARE_WITH_TIMEOUT(m_stops, 1, 30000);
        disconnect(a);
        disconnect(b);
        QCOMPARE(m_finishes, 0);
        const QByteArray partial = readAll(path);
        QVERIFY(partial.size() > 0 && partial.size() < m_game.size());
        QVERIFY(partial == m_game.left(partial.size()));
        QVERIFY(events.size() >= 2);
        QCOMPARE(events.last(), QStringLiteral("stop"));
        QCOMPARE(events[events.size() - 2], QStringLiteral("%1/3").arg(partial.size() / kMiB));

        // The stop was heard, so the handle is already gone: the resume is accepted.
        QVERIFY(m_backend->RequestAsnycDownLoadUrl(url(urlPath.toUtf8().constData()), path));
        QTRY_COMPARE_WITH_TIMEOUT(m_finishes, 1, 30000);
        QCOMPARE(m_stops, 1);
        QVERIFY(readAll(path) == m_game);
        QList<QByteArray> ranges;
        for (const HttpRequest& r : m_srv.requests())
            if (r.method == "GET")
                ranges << r.header("Range");
        QCOMPARE(ranges.size(), 2);
        QVERIFY(ranges[0].isEmpty());
        QCOMPARE(ranges[1], "bytes=" + QByteArray::number(partial.size()) + "-");
    }

    // A package refused at its end is removed: the last report says nothing is held any more,
    // although the transfer itself had reached its whole size.
    void heldBytesAfterRefusal()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("game.zip");
        QStringList events;
        QMetaObject::Connection a = connect(m_backend, &OrbBackend::sigDownloadProgress, this,
                [&events](qint32 off, qint32 tot) { events << QStringLiteral("%1/%2").arg(off).arg(tot); });
        QMetaObject::Connection b =
            connect(m_backend, &OrbBackend::sigDownloadStop, this, [&events] { events << QStringLiteral("stop"); });
        OrbPackageCheck check;
        check.size = m_game.size() + 1;
        QVERIFY(m_backend->RequestAsnycDownLoadUrl(url("game.zip"), path, check));
        QTRY_COMPARE_WITH_TIMEOUT(m_stops, 1, 30000);
        disconnect(a);
        disconnect(b);
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY2(events.size() >= 3, qPrintable(events.join(' ')));
        QCOMPARE(events[events.size() - 3], QStringLiteral("3/3"));
        QCOMPARE(events[events.size() - 2], QStringLiteral("0/3"));
        QCOMPARE(events.last(), QStringLiteral("stop"));
    }

    // Bounded downloads: the settings file reports the bound's code, the game download stops,
    // reports what is on disk and is let go.
    void boundedDownloads_data()
    {
        QTest::addColumn<QString>("urlPath");
        QTest::addColumn<qint64>("maxSize");
        QTest::addColumn<qint64>("deadlineMs");
        QTest::addColumn<int>("error");
        QTest::newRow("flood, cap") << "flood" << qint64(kMiB) << qint64(-1) << int(NetTooLarge);
        QTest::newRow("drip, deadline") << "drip" << qint64(-1) << qint64(2500) << int(NetDeadline);
        QTest::newRow("within both") << "game_settings.ini" << qint64(kMiB) << qint64(30000) << 0;
    }
    void boundedDownloads()
    {
        QFETCH(QString, urlPath);
        QFETCH(qint64, maxSize);
        QFETCH(qint64, deadlineMs);
        QFETCH(int, error);
        QTemporaryDir dir;
        OrbPackageCheck check;
        check.maxSize = maxSize;
        check.deadlineMs = deadlineMs;
        const QString address = url(urlPath.toUtf8().constData());

        QSignalSpy failed(m_backend, &OrbBackend::sigGameSettingDownloadFailed);
        QVERIFY(m_backend->RequestAsnycGameSettingUrl(address, dir.filePath("game_settings.ini"), check));
        QTRY_COMPARE_WITH_TIMEOUT(m_settings + failed.size(), 1, 30000);
        if (error == 0) {
            QCOMPARE(m_settings, 1);
            QCOMPARE(readAll(dir.filePath("game_settings.ini")), m_small);
        } else {
            QCOMPARE(failed.first().first().toInt(), error);
        }
        QVERIFY(QFileInfo(dir.filePath("game_settings.ini")).size() <= qMax<qint64>(maxSize, kMiB));

        const QString path = dir.filePath("game.zip");
        QVERIFY(m_backend->RequestAsnycDownLoadUrl(address, path, check));
        QTRY_COMPARE_WITH_TIMEOUT(m_stops + m_finishes, 1, 30000);
        QCOMPARE(m_stops, error == 0 ? 0 : 1);
        if (error == NetTooLarge)
            QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(logLines(QStringLiteral("7--- result:%1,").arg(error)).size(), 2);
        // Let go: the next request is accepted without StopDownLoad.
        QVERIFY(m_backend->RequestAsnycDownLoadUrl(url("game.zip"), dir.filePath("other.zip")));
        QTRY_COMPARE_WITH_TIMEOUT(m_finishes, error == 0 ? 2 : 1, 30000);
    }

    // Pause is StopDownLoad, resume a new request for the same file.
    void pauseAndResume()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("game.zip");
        QVERIFY(m_backend->RequestAsnycDownLoadUrl(url("slow/game.zip"), path));
        QTRY_VERIFY_WITH_TIMEOUT(!logLines("7--- offset:").isEmpty(), 30000);
        m_backend->StopDownLoad();
        QTRY_COMPARE_WITH_TIMEOUT(m_stops, 1, 30000);
        QCOMPARE(m_finishes, 0);
        const auto results = logLines("7--- result:");
        QCOMPARE(results.size(), 1);
        QVERIFY(results[0].text.contains("7--- result:98, cost = "));
        const auto errors = logLines("[Backend] Request Down load Url Error... ");
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors[0].level, int(OrbLogError));
        QVERIFY(errors[0].text.endsWith("[Backend] Request Down load Url Error... 98"));
        const QByteArray partial = readAll(path);
        QVERIFY(partial.size() > 0 && partial.size() < m_game.size());
        QVERIFY(partial == m_game.left(partial.size()));

        m_progress.clear();
        QVERIFY(m_backend->RequestAsnycDownLoadUrl(url("slow/game.zip"), path));
        QTRY_COMPARE_WITH_TIMEOUT(m_finishes, 1, 30000);
        QCOMPARE(m_stops, 1);
        QVERIFY(readAll(path) == m_game);
        QVERIFY(!m_progress.isEmpty());
        QVERIFY(m_progress.first().first >= partial.size() / kMiB);  // counted over the whole file
        QCOMPARE(m_progress.last(), qMakePair(qint32(3), qint32(3)));
    }

    void stopWithNothingHeld()
    {
        m_backend->StopDownLoad();
        QTest::qWait(50);
        QCOMPARE(m_stops, 0);
        QCOMPARE(logCount(), 0);
    }

    // A file that cannot be opened: false, no signal, no log line, and nothing held: a
    // request for a file that can be opened is accepted right after.
    void unopenableGameFile()
    {
        QTemporaryDir dir;
        QVERIFY(!m_backend->RequestAsnycDownLoadUrl(url("game.zip"), dir.filePath("no/such/dir/game.zip")));
        QTest::qWait(100);
        QCOMPARE(m_stops + m_finishes, 0);
        QCOMPARE(logCount(), 0);
        QVERIFY(m_backend->RequestAsnycDownLoadUrl(url("game.zip"), dir.filePath("game.zip")));
        QTRY_COMPARE_WITH_TIMEOUT(m_finishes, 1, 30000);
    }

    // A download that ends at once (or before the service registered its callbacks)
    // still reports through the event loop, never inside the request: a caller that
    // records "downloading" after the call returns is not overwritten afterwards.
    void completionIsNeverSynchronous_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("unsupported scheme") << "ftp://127.0.0.1/game.zip";
        QTest::newRow("no address") << "";
        QTest::newRow("refused port") << "http://127.0.0.1:1/game.zip";
        QTest::newRow("served") << "served";
    }
    void completionIsNeverSynchronous()
    {
        QFETCH(QString, address);
        QTemporaryDir dir;
        const QString target = address == "served" ? url("game.zip") : address;
        int stopsBefore = m_stops, finishesBefore = m_finishes;
        QVERIFY(m_backend->RequestAsnycDownLoadUrl(target, dir.filePath("game.zip")));
        QCOMPARE(m_stops + m_finishes, stopsBefore + finishesBefore);
        QTRY_COMPARE_WITH_TIMEOUT(m_stops + m_finishes, stopsBefore + finishesBefore + 1, 30000);
        m_backend->StopDownLoad();

        const int settingsBefore = m_settings;
        QSignalSpy failed(m_backend, &OrbBackend::sigGameSettingDownloadFailed);
        QVERIFY(m_backend->RequestAsnycGameSettingUrl(target, dir.filePath("game_settings.ini")));
        QCOMPARE(m_settings + failed.size(), settingsBefore);
        QTRY_COMPARE_WITH_TIMEOUT(m_settings + failed.size(), settingsBefore + 1, 30000);
    }

    void gameSettingsRewritesFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("game_settings.ini");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("a much longer stale copy of the settings file");
        f.close();
        QVERIFY(m_backend->RequestAsnycGameSettingUrl(url("game_settings.ini"), path));
        QTRY_COMPARE_WITH_TIMEOUT(m_settings, 1, 30000);
        QCOMPARE(readAll(path), m_small);
        QVERIFY(logLines("][OnGameSettingFinish] ---> 7--- result:0").size() == 1);
        QVERIFY(m_progress.isEmpty() && m_launcherProgress.isEmpty());
        QCOMPARE(m_stops + m_finishes + m_launcherDone, 0);
    }

    // A failing settings download writes the two log lines and emits nothing.
    void gameSettingsFailure()
    {
        QTemporaryDir dir;
        QVERIFY(m_backend->RequestAsnycGameSettingUrl(url("missing.ini"), dir.filePath("game_settings.ini")));
        QTRY_COMPARE_WITH_TIMEOUT(logLines("Request Down load Url Error").size(), 1, 30000);
        const auto results = logLines("7--- result:");
        QCOMPARE(results.size(), 1);
        QVERIFY(results[0].text.contains("][OnGameSettingFinish] ---> 7--- result:203, cost = "));
        QVERIFY(logLines("Request Down load Url Error")[0].text.endsWith("Error... 203"));
        QTest::qWait(50);
        QCOMPARE(m_settings + m_stops + m_finishes + m_launcherDone, 0);
    }

    void launcherPackagePercent()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("launcher.zip");
        QVERIFY(m_backend->RequestAsnycLauncherUpdateUrl(url("launcher.zip"), path));
        QTRY_COMPARE_WITH_TIMEOUT(m_launcherDone, 1, 30000);
        QVERIFY(readAll(path) == m_game);
        QVERIFY(m_launcherProgress.size() >= 2);
        for (int i = 0; i < m_launcherProgress.size(); ++i) {
            QCOMPARE(m_launcherProgress[i].second, QStringLiteral("启动器下载进度"));
            QVERIFY(m_launcherProgress[i].first >= 0 && m_launcherProgress[i].first <= 100);
            QVERIFY(i == 0 || m_launcherProgress[i].first >= m_launcherProgress[i - 1].first);
        }
        QVERIFY(m_launcherProgress.first().first < 100);
        QCOMPARE(m_launcherProgress.last().first, 100);
        QVERIFY(logLines("][OnLauncherUpdateProgress] ---> 7--- offset:").size() >= m_launcherProgress.size());
        QCOMPARE(logLines("][OnLauncherUpdateFinish] ---> 7--- result:0").size(), 1);
        QVERIFY(m_progress.isEmpty());
    }

    // 1 of 3 bytes is 33 %, 2 of 3 is 66 %: truncated, never rounded. (The transport may
    // fold the first byte's report into a later one.)
    void launcherPercentTruncates()
    {
        QTemporaryDir dir;
        QVERIFY(m_backend->RequestAsnycLauncherUpdateUrl(url("three.zip"), dir.filePath("three.zip")));
        QTRY_COMPARE_WITH_TIMEOUT(m_launcherDone, 1, 30000);
        QString seen;
        for (const auto& p : m_launcherProgress) {
            seen += QString::number(p.first) + " ";
            QVERIFY2(p.first == 33 || p.first == 66 || p.first == 100, qPrintable(seen));
        }
        QVERIFY2(seen.contains("66 "), qPrintable(seen));
        QCOMPARE(m_launcherProgress.last().first, 100);
    }

    // Before Init (or after Uninit) there is no facade: every request is refused.
    void noFacadeRefuses()
    {
        OrbBackend idle;
        QTemporaryDir dir;
        QVERIFY(!idle.RequestAsnycGameSettingUrl(url("game_settings.ini"), dir.filePath("a")));
        QVERIFY(!idle.RequestAsnycLauncherUpdateUrl(url("game_settings.ini"), dir.filePath("b")));
        QVERIFY(!idle.RequestAsnycDownLoadUrl(url("game_settings.ini"), dir.filePath("c")));
        idle.StopDownLoad();
        QVERIFY(!QFile::exists(dir.filePath("a")));
    }

    // An empty body: the warning, and no progress signal of any kind.
    void zeroTotal_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("game") << 0;
        QTest::newRow("launcher") << 1;
        QTest::newRow("settings") << 2;
    }
    void zeroTotal()
    {
        QFETCH(int, kind);
        QTemporaryDir dir;
        const QString path = dir.filePath("empty.bin");
        if (kind == 0) {
            QVERIFY(m_backend->RequestAsnycDownLoadUrl(url("empty"), path));
            QTRY_COMPARE_WITH_TIMEOUT(m_finishes, 1, 30000);
        } else if (kind == 1) {
            QVERIFY(m_backend->RequestAsnycLauncherUpdateUrl(url("empty"), path));
            QTRY_COMPARE_WITH_TIMEOUT(m_launcherDone, 1, 30000);
        } else {
            QVERIFY(m_backend->RequestAsnycGameSettingUrl(url("empty"), path));
            QTRY_COMPARE_WITH_TIMEOUT(m_settings, 1, 30000);
        }
        const auto warnings = logLines("Total size is zero. Skipping progress calculation.");
        QVERIFY(!warnings.isEmpty());
        QCOMPARE(warnings[0].level, int(OrbLogWarning));
        QCOMPARE(warnings.size(), logLines("7--- offset:0, total = 0").size());
        QVERIFY(m_progress.isEmpty());
        QVERIFY(m_launcherProgress.isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_OrbBackend)
#include "tst_orbbackend.moc"
