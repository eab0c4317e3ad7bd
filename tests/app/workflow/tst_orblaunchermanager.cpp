// The launcher controller with its real peers: the model over real INI files, the
// download service against nginx (a publisher folder built here) and the loopback
// test server for slow and silent replies, the ZIP installer, game clients built
// for the tests, and the real external updater.
#include "OrbTestFiles.h"
#include "OrbTestZip.h"
#include "OrbTestLog.h"
#include "TestHttpServer.h"
#include "core/ComponentRegister.h"
#include "core/ComponentRegistry.h"
#include "model/OrbModel.h"
#include "services/download/OrbBackend.h"
#include "services/installer/OrbInstaller.h"
#include "ui/OrbViewLauncher.h"
#include "workflow/OrbLauncherManager.h"
#include "workflow/update/OrbPublisherKey.h"
#include "OrbDeliveryTestStore.h"
#include "workflow/update/OrbSelfUpdate.h"
#include "workflow/game/OrbInstallManifest.h"

#include "OrbSignature.h"
#include "OrbSignedSettings.h"

#include <OrbNetConfig.h>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <memory>

using namespace orbtest;

namespace {

const QString kGame = QStringLiteral("valdane");
const char kLauncherHint1[] = "启动器有新版本";
const char kLauncherHint2[] = "，        是否马上更新？";

} // namespace

class tst_OrbLauncherManager : public QObject {
    Q_OBJECT

    QTemporaryDir m_pub;    // nginx's root: the publisher's files
    QTemporaryDir m_disk;   // the player's disk: install folders
    ExternalDaemon m_nginx;
    TestHttpServer m_srv;
    QByteArray m_gameZip, m_launcherZip, m_slowBody;
    std::unique_ptr<ComponentRegister> m_registry;
    IOrbModel* m_model = nullptr;
    OrbLauncherManager* m_manager = nullptr;
    OrbViewLauncher* m_view = nullptr;

    // Every signal the view passes to the scene, in order, with the flags the scene
    // would read at that moment: the controller's real sequences, kept as the
    // scene tests' fixtures.
    QJsonArray m_trace;
    QVariantMap flags()
    {
        QVariantMap map;
        for (const char* key : {"IsDownloadStart", "IsDownloadFinish", "IsInstallGmae", "IsUpdateGmaeHint"})
            map.insert(QString::fromLatin1(key), flag(key));
        return map;
    }
    void record(const char* name, const QVariantList& args)
    {
        QJsonObject entry;
        entry.insert("name", QString::fromLatin1(name));
        entry.insert("args", QJsonArray::fromVariantList(args));
        entry.insert("flags", QJsonObject::fromVariantMap(flags()));
        m_trace.append(entry);
    }
    void traceView()
    {
#define ORB_TRACE0(sig) connect(m_view, &OrbViewLauncher::sig, this, [this] { record(#sig, {}); })
#define ORB_TRACE1(sig, T) connect(m_view, &OrbViewLauncher::sig, this, [this](T a) { record(#sig, {a}); })
#define ORB_TRACE2(sig, T, U) connect(m_view, &OrbViewLauncher::sig, this, [this](T a, U b) { record(#sig, {a, b}); })
        ORB_TRACE1(sigDownloadBtnClickedCallback, bool);
        ORB_TRACE2(sigDownloadProgress, qint32, qint32);
        ORB_TRACE0(sigDownloadStop);
        ORB_TRACE0(sigDownloadFinish);
        ORB_TRACE2(sigProgressValue, int, QString);
        ORB_TRACE0(sigExtractGameFinished);
        ORB_TRACE0(sigExtractLauncherFinish);
        ORB_TRACE1(sigStartPlayGameCallback, bool);
        ORB_TRACE0(sigNotFoundExecutable);
        ORB_TRACE1(sigUpdateCheckCallback, bool);
        ORB_TRACE1(sigUpdateCheckFinish, bool);
        ORB_TRACE1(sigHintUpdate, QString);
        ORB_TRACE1(sigUpdateGameHint, QString);
        ORB_TRACE1(sigUpdateCheckFailed, QString);
        ORB_TRACE1(sigInstallFailed, QString);
        ORB_TRACE1(sigDownloadVerifyFailed, QString);
        ORB_TRACE1(sigDownloadFailed, QString);
#undef ORB_TRACE0
#undef ORB_TRACE1
#undef ORB_TRACE2
    }
    // Runs of progress steps become their last step; what is left is compared.
    static QJsonArray condensed(const QJsonArray& trace)
    {
        QJsonArray out;
        for (const QJsonValue& v : trace) {
            const QString name = v.toObject().value("name").toString();
            const bool progress = name == "sigProgressValue" || name == "sigDownloadProgress";
            if (progress && !out.isEmpty() && out.last().toObject().value("name").toString() == name)
                out.removeLast();
            out.append(v);
        }
        return out;
    }
    static QStringList shape(const QJsonArray& trace)
    {
        QStringList lines;
        for (const QJsonValue& v : trace) {
            const QJsonObject e = v.toObject();
            QString line = e.value("name").toString();
            for (const QJsonValue& a : e.value("args").toArray())
                if (a.isBool())
                    line += a.toBool() ? " true" : " false";
            const QJsonObject f = e.value("flags").toObject();
            for (auto it = f.begin(); it != f.end(); ++it)
                line += QStringLiteral(" %1=%2").arg(it.key(), it.value().toBool() ? "1" : "0");
            lines << line;
        }
        return lines;
    }

    QString appDir() const { return QCoreApplication::applicationDirPath(); }
    QString nginx(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(m_nginx.port()).arg(path);
    }
    QString local(const char* section, const char* key)
    {
        return QString::fromStdString(m_model->GetStringValue(OrbConfig::GameSettingConfig, section, key));
    }
    void setLocal(const char* section, const char* key, const QString& value)
    {
        m_model->SetString(OrbConfig::GameSettingConfig, section, key, value.toUtf8().constData());
    }
    QString app(const char* key)
    {
        return QString::fromStdString(m_model->GetStringValue(OrbConfig::AppConfig, "valdane", key));
    }
    void setApp(const char* key, const QString& value)
    {
        m_model->SetString(OrbConfig::AppConfig, "valdane", key, value.toUtf8().constData());
    }
    bool flag(const char* key) { return m_model->GetBoolValue(OrbConfig::AppConfig, "valdane", key); }
    void setFlag(const char* key, bool value) { m_model->SetBool(OrbConfig::AppConfig, "valdane", key, value); }

    void serve(const QString& name, const QByteArray& data)
    {
        QDir().mkpath(QFileInfo(m_pub.filePath(name)).absolutePath());
        writeFile(m_pub.filePath(name), data);
    }

    static QByteArray serverSettings(const QString& launcherVersion, int force, int hint, const QString& gameVersion,
                                     const QByteArray& extraLauncher = {}, const QByteArray& extraBasic = {},
                                     bool clearGame = false)
    {
        return "[launcher]\nVersion=" + launcherVersion.toUtf8() + "\nLauncherPackageUrl=@LAUNCHER@\n" +
               "GameSettingsUrl=@SETTINGS@\nIsForceUpdate=" + QByteArray::number(force) +
               "\nIsHintUpdate=" + QByteArray::number(hint) + "\nChannel=server\n" + extraLauncher +
               "[Basic]\nGameName=valdane\nGameNickName=ServerNick\nGameSize=30GB\nGamePackageUrl=@GAME@\n"
               "WebPageUrl=http://127.0.0.1:9/web\nVersion=" + gameVersion.toUtf8() +
               "\nIsClearGamePath=" + (clearGame ? "true" : "false") + "\nIsOpenMoreGames=true\n" + extraBasic;
    }
    void serveSettings(QByteArray text)
    {
        text.replace("@LAUNCHER@", nginx("launcher/launcher.zip").toUtf8());
        text.replace("@SETTINGS@", nginx("cfg/game_settings.ini").toUtf8());
        text.replace("@GAME@", nginx("packages/game.zip").toUtf8());
        serve("cfg/game_settings.ini", text);
    }

    // Runs one update check through the view and waits for its end.
    void runCheck(QSignalSpy& finish)
    {
        m_view->UpdateCheckStart();
        QTRY_VERIFY_WITH_TIMEOUT(finish.size() >= 1, 20000);
    }

    QString gameFolder() const { return m_disk.filePath("Games/valdane"); }

    // Downloads and installs the served game package into Games/.
    void downloadAndInstall()
    {
        QSignalSpy finished(m_view, &OrbViewLauncher::sigDownloadFinish);
        QSignalSpy extracted(m_view, &OrbViewLauncher::sigExtractGameFinished);
        m_view->DownLoadBtnClick(m_disk.filePath("Games"));
        m_view->SetInstallPath(m_disk.filePath("Games"));
        m_view->SetDownloadStatus(true);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        m_view->StartInstall();
        QTRY_COMPARE_WITH_TIMEOUT(extracted.size(), 1, 20000);
        QVERIFY(flag("IsInstallGmae"));
    }

    QStringList clientPids() const
    {
        return QDir(gameFolder() + "/bin/x64/pids").entryList(QDir::Files).filter(QRegularExpression("^\\d+$"));
    }
    void quitClient(const QString& pid) { writeFile(gameFolder() + "/bin/x64/pids/" + pid + ".quit", ""); }

private slots:
    void initTestCase()
    {
        clearProxyEnv();
        DefaultNetConfig.SetResolvers("127.0.0.1", "127.0.0.1").SetLookupTimeout(1000).SetTimeout(2);

        // Left-overs of an earlier run of the updater test in this folder.
        for (const char* stale : {"OrbLive", "OrbUpdate", "build-id.txt", "started.log"})
            QFile::remove(appDir() + "/" + stale);
        for (const char* stale : {"backup", "storage", "config", ".orbupdate-stage", ".orbupdate-old"})
            QDir(appDir() + "/" + stale).removeRecursively();

        QVERIFY(m_pub.isValid() && m_disk.isValid());
        QVERIFY(startNginx(m_nginx, freePort(), m_pub.path()));

        QFile client(QStringLiteral(ORB_GAME_CLIENT));
        QVERIFY(client.open(QIODevice::ReadOnly));
        const QByteArray clientBytes = client.readAll();
        const QString gameZip = m_pub.filePath("packages/game.zip");
        QDir().mkpath(m_pub.filePath("packages"));
        QVERIFY(writeZip(gameZip, {{"bin/x64/valdane", clientBytes, kFile | 0755},
                                   {"data/levels.txt", "level data", kFile | 0644},
                                   {"Valdane", "not the executable", kFile | 0644}}));
        m_gameZip = readAll(gameZip);
        serve("packages/broken.zip", QByteArray("PK\x03\x04 this is not a zip archive", 34));

        QFile fake(QStringLiteral(ORB_FAKE_LAUNCHER));
        QVERIFY(fake.open(QIODevice::ReadOnly));
        QDir().mkpath(m_pub.filePath("launcher"));
        QVERIFY(writeZip(m_pub.filePath("launcher/launcher.zip"),
                         {{"OrbLive", fake.readAll(), kFile | 0755}, {"build-id.txt", "new", kFile | 0644}}));
        m_launcherZip = readAll(m_pub.filePath("launcher/launcher.zip"));

        m_slowBody = randomBytes(2 * 1048576 + 77, 5);
        const QByteArray slow = m_slowBody;
        QVERIFY(m_srv.start([slow](const HttpRequest& r) {
            if (r.path == "/silent") {
                HttpReply rep;
                rep.noResponse = true;
                return rep;
            }
            if (r.path == "/drip/game_settings.ini") {
                // A megabyte announced, a byte every two seconds.
                HttpReply rep;
                rep.body = QByteArray(1 << 20, 'x');
                rep.chunkSize = 1;
                rep.chunkDelayMs = 2000;
                return rep;
            }
            if (r.path == "/drop/game.zip") {
                HttpReply rep = HttpReply::ranged(r, slow);
                rep.dropAfter = 300000;
                return rep;
            }
            if (r.path == "/slow/game.zip") {
                HttpReply rep = HttpReply::ranged(r, slow);
                rep.chunkSize = 64 * 1024;
                rep.chunkDelayMs = 30;
                return rep;
            }
            HttpReply rep;
            rep.status = 404;
            return rep;
        }));

        QDir().mkpath(appDir() + "/config");
        writeFile(appDir() + "/config/game_settings.ini",
                  "[launcher]\nVersion=1.0.2\n[Basic]\nGameName=valdane\nGameNickName=Valdane\nVersion=2.0\n");
        m_registry = std::make_unique<ComponentRegister>();
        m_registry->RegisterLog<OrbTestLog>("OrbLogImpl");
        m_registry->Register<OrbModel>("OrbModel");
        m_registry->Register<OrbBackend>("OrbBackend");
        m_registry->Register<OrbInstaller>("OrbInstaller");
        m_registry->Register<OrbLauncherManager>("OrbLauncherManager");
        m_registry->InitAll();
        m_model = GetComponent<IOrbModel>("OrbModel");
        QVERIFY(m_model);
        auto& map = OrbRegistry::components();
        m_manager = dynamic_cast<OrbLauncherManager*>(map.entries.at("OrbLauncherManager").get());
        QVERIFY(m_manager);
        m_view = m_manager->view();
        QVERIFY(m_view);
        traceView();
    }

    void cleanupTestCase()
    {
        m_registry.reset();
        m_srv.stop();
        m_nginx.stop();
    }

    void init()
    {
        GetComponent<IOrbNetwork>("OrbBackend")->StopDownLoad();
        m_manager->onSigCloseAllGames();
        QTest::qWait(50);
        setLocal("launcher", "Version", "1.0.2");
        setLocal("launcher", "GameSettingsUrl", nginx("cfg/game_settings.ini"));
        setLocal("launcher", "LauncherPackageUrl", "");
        setLocal("launcher", "IsForceUpdate", "0");
        setLocal("launcher", "IsHintUpdate", "0");
        setLocal("launcher", "LauncherPackageSha256", "");
        setLocal("launcher", "LauncherPackageSize", "");
        setLocal("Basic", "GameName", kGame);
        setLocal("Basic", "Version", "2.0");
        setLocal("Basic", "GameSize", "1GB");
        setLocal("Basic", "GamePackageUrl", nginx("packages/game.zip"));
        setLocal("Basic", "IsClearGamePath", "false");
        setLocal("Basic", "GamePackageSha256", "");
        setLocal("Basic", "GamePackageSize", "");
        setLocal("Basic", "GameManifestUrl", "");
        setLocal("Basic", "GameManifestSha256", "");
        for (const char* f : {"IsDownloadStart", "IsDownloadFinish", "IsInstallGmae", "IsUpdateGmaeHint"})
            setFlag(f, false);
        QDir(m_disk.filePath("Games")).removeRecursively();
        QFile::remove(OrbInstallManifest::PathForGame(kGame));
        QFile::remove(appDir() + "/config/publisher.pub");
        OrbTestLog::Clear();
    }

    void updateCheck_data()
    {
        QTest::addColumn<QString>("serverLauncher");
        QTest::addColumn<QString>("localLauncher");
        QTest::addColumn<int>("force");
        QTest::addColumn<int>("hint");
        QTest::addColumn<QString>("serverGame");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<bool>("pendingHint");
        QTest::addColumn<bool>("finish");
        QTest::addColumn<QString>("launcherHint");
        QTest::addColumn<bool>("launcherKeysCopied");
        QTest::addColumn<QString>("gameHint");
        QTest::addColumn<bool>("gameKeysCopied");

        const QString launcherHint = QString::fromUtf8(kLauncherHint1) + "1.0.3" + QString::fromUtf8(kLauncherHint2);
        const QString gameHint = QString::fromUtf8("新版本2.1已发布，请更新游戏");
        QTest::newRow("force") << "1.0.3" << "1.0.2" << 1 << 0 << "2.1" << true << false
                               << false << "" << true << "" << false;
        QTest::newRow("hint") << "1.0.3" << "1.0.2" << 0 << 1 << "2.0" << false << false
                              << true << launcherHint << true << "" << false;
        QTest::newRow("letter-prefixed server version") << "v1.0.3" << "1.0.2" << 1 << 1 << "2.0" << false << false
                                                        << true << "" << false << "" << false;
        QTest::newRow("empty local version") << "1.0.0" << "" << 0 << 0 << "2.0" << false << false
                                             << true << "" << true << "" << false;
        QTest::newRow("game update") << "1.0.2" << "1.0.2" << 0 << 0 << "2.1" << true << false
                                     << true << "" << false << gameHint << true;
        QTest::newRow("game update, not installed") << "1.0.2" << "1.0.2" << 0 << 0 << "2.1" << false << false
                                                    << true << "" << false << "" << true;
        QTest::newRow("equal versions, pending hint") << "1.0.2" << "1.0.2" << 0 << 0 << "2.0" << true << true
                                                      << true << "" << false
                                                      << QString::fromUtf8("新版本2.0已发布，请更新游戏") << false;
        QTest::newRow("equal versions") << "1.0.2" << "1.0.2" << 0 << 0 << "2.0" << true << false
                                        << true << "" << false << "" << false;
    }
    void updateCheck()
    {
        QFETCH(QString, serverLauncher);
        QFETCH(QString, localLauncher);
        QFETCH(int, force);
        QFETCH(int, hint);
        QFETCH(QString, serverGame);
        QFETCH(bool, installed);
        QFETCH(bool, pendingHint);
        QFETCH(bool, finish);
        QFETCH(QString, launcherHint);
        QFETCH(bool, launcherKeysCopied);
        QFETCH(QString, gameHint);
        QFETCH(bool, gameKeysCopied);

        setLocal("launcher", "Version", localLauncher);
        setFlag("IsInstallGmae", installed);
        setFlag("IsDownloadFinish", installed);
        setFlag("IsUpdateGmaeHint", pendingHint);
        serveSettings(serverSettings(serverLauncher, force, hint, serverGame));

        QSignalSpy callback(m_view, &OrbViewLauncher::sigUpdateCheckCallback);
        QSignalSpy finished(m_view, &OrbViewLauncher::sigUpdateCheckFinish);
        QSignalSpy hints(m_view, &OrbViewLauncher::sigHintUpdate);
        QSignalSpy gameHints(m_view, &OrbViewLauncher::sigUpdateGameHint);
        QSignalSpy failed(m_view, &OrbViewLauncher::sigUpdateCheckFailed);
        runCheck(finished);
        QCOMPARE(callback.size(), 1);
        QCOMPARE(callback[0][0].toBool(), true);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished[0][0].toBool(), finish);
        QCOMPARE(failed.size(), 0);
        QCOMPARE(hints.size(), launcherHint.isEmpty() ? 0 : 1);
        if (!launcherHint.isEmpty())
            QCOMPARE(hints[0][0].toString(), launcherHint);
        QCOMPARE(gameHints.size(), gameHint.isEmpty() ? 0 : 1);
        if (!gameHint.isEmpty())
            QCOMPARE(gameHints[0][0].toString(), gameHint);

        // The settings file's name, taken from its URL.
        QCOMPARE(QString::fromStdString(m_model->GetStringValue(OrbConfig::UserConfig, "Game", "GameSettingsPackage")),
                 QStringLiteral("game_settings.ini"));
        QCOMPARE(OrbTestLog::Lines("[onSigUpdateCheckStart] ---> Update Check Start").size(), 1);
        QCOMPARE(OrbTestLog::Lines("[UpdateCheckStart] ---> Update Check Start").size(), 1);
        QCOMPARE(OrbTestLog::Lines("GameSetting Download Finish").size(), 1);

        QCOMPARE(local("launcher", "LauncherPackageUrl") == nginx("launcher/launcher.zip"), launcherKeysCopied);
        QCOMPARE(local("launcher", "IsForceUpdate") == QString::number(force), launcherKeysCopied || force == 0);
        QCOMPARE(local("launcher", "Version"), localLauncher);  // advanced only by the installation
        QVERIFY(local("launcher", "Channel") != "server");

        QCOMPARE(local("Basic", "Version") == serverGame, gameKeysCopied || serverGame == "2.0");
        QCOMPARE(local("Basic", "GameSize") == "30GB", gameKeysCopied);
        QVERIFY(local("Basic", "GameNickName") != "ServerNick");
        if (gameKeysCopied) {
            QVERIFY(!flag("IsDownloadFinish"));
            QVERIFY(!flag("IsInstallGmae"));
            QCOMPARE(flag("IsUpdateGmaeHint"), installed);
        } else {
            QCOMPARE(flag("IsInstallGmae"), installed);
            QCOMPARE(flag("IsUpdateGmaeHint"), pendingHint);
        }
    }

    // Without the server's settings the check ends and the local ones stay.
    void offlineStart_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("unreachable") << "unreachable";
        QTest::newRow("error status") << "404";
        QTest::newRow("timeout") << "silent";
    }
    void offlineStart()
    {
        QFETCH(QString, where);
        QString url;
        if (where == "unreachable")
            url = QStringLiteral("http://127.0.0.1:%1/cfg/game_settings.ini").arg(freePort());
        else if (where == "404")
            url = nginx("cfg/missing.ini");
        else
            url = m_srv.url("/silent");
        setLocal("launcher", "GameSettingsUrl", url);
        setFlag("IsInstallGmae", true);
        QSignalSpy finished(m_view, &OrbViewLauncher::sigUpdateCheckFinish);
        QSignalSpy failed(m_view, &OrbViewLauncher::sigUpdateCheckFailed);
        m_view->UpdateCheckStart();
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 20000);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished[0][0].toBool(), true);
        QVERIFY(!failed[0][0].toString().isEmpty());
        QCOMPARE(local("launcher", "Version"), QStringLiteral("1.0.2"));
        QCOMPARE(local("Basic", "Version"), QStringLiteral("2.0"));
        QVERIFY(flag("IsInstallGmae"));
        QCOMPARE(OrbTestLog::Lines("GameSetting Download Finish").size(), 0);
    }

    void installFolderChoice()
    {
        const QString nested = m_disk.filePath("Games/a/b");
        m_view->DownLoadBtnClick(nested);
        QVERIFY(QFileInfo(nested).isDir());
        QCOMPARE(app("InstallDirectory"), nested);
        QCOMPARE(OrbTestLog::Lines("Directory created: " + nested).size(), 1);
        m_view->DownLoadBtnClick(nested);
        QCOMPARE(OrbTestLog::Lines("Directory already exists: " + nested).size(), 1);
        writeFile(m_disk.filePath("Games/file"), "x");
        m_view->DownLoadBtnClick(m_disk.filePath("Games/file/sub"));
        QCOMPARE(OrbTestLog::Lines("Failed to create directory: ").size(), 1);
        QCOMPARE(app("InstallDirectory"), nested);
    }

    // Download, install, record, play two clients, close them, and the signal order
    // the scene relies on.
    void downloadInstallAndPlay()
    {
        QSignalSpy callback(m_view, &OrbViewLauncher::sigDownloadBtnClickedCallback);
        bool finishSeenBeforeScene = false, installSeenBeforeScene = false;
        auto c1 = connect(m_view, &OrbViewLauncher::sigDownloadFinish, this,
                          [&] { finishSeenBeforeScene = m_view->IsDownloadFinish(); });
        auto c2 = connect(m_view, &OrbViewLauncher::sigExtractGameFinished, this,
                          [&] { installSeenBeforeScene = m_view->IsInstall(); });
        downloadAndInstall();
        disconnect(c1);
        disconnect(c2);
        QCOMPARE(callback.size(), 1);
        QCOMPARE(callback[0][0].toBool(), true);
        QVERIFY(finishSeenBeforeScene);
        QVERIFY(installSeenBeforeScene);
        QVERIFY(flag("IsDownloadStart"));
        QCOMPARE(app("DownLoadGamePackage"), QStringLiteral("game.zip"));
        // The download folder is emptied after the installation, the folder stays.
        QVERIFY(QFileInfo(m_disk.filePath("Games/Orbdownload")).isDir());
        QVERIFY(QDir(m_disk.filePath("Games/Orbdownload")).isEmpty());
        QCOMPARE(readAll(gameFolder() + "/data/levels.txt"), QByteArray("level data"));

        const OrbInstallManifest manifest = OrbInstallManifest::Load(OrbInstallManifest::PathForGame(kGame));
        QCOMPARE(manifest.root, gameFolder());
        QCOMPARE(QSet<QString>(manifest.entries.begin(), manifest.entries.end()),
                 (QSet<QString>{"bin/", "bin/x64/", "bin/x64/valdane", "data/", "data/levels.txt", "Valdane"}));

        // Two clients; the first one's end says nothing, the last one's end says false.
        QSignalSpy play(m_view, &OrbViewLauncher::sigStartPlayGameCallback);
        m_view->StartPlay();
        QTRY_COMPARE(play.size(), 1);
        QCOMPARE(play[0][0].toBool(), true);
        QTRY_COMPARE(clientPids().size(), 1);
        const QString first = clientPids().first();
        m_view->StartPlay();
        QTRY_COMPARE(play.size(), 2);
        QCOMPARE(play[1][0].toBool(), true);
        QTRY_COMPARE(clientPids().size(), 2);
        QCOMPARE(m_manager->gameCount(), 2);
        quitClient(first);
        QTRY_COMPARE(m_manager->gameCount(), 1);
        QTest::qWait(100);
        QCOMPARE(play.size(), 2);
        quitClient(clientPids().first());
        QTRY_COMPARE(play.size(), 3);
        QCOMPARE(play[2][0].toBool(), false);
        QCOMPARE(m_manager->gameCount(), 0);

        // Close all: both killed without waiting for them, one end-of-clients notice
        // once their ends have arrived.
        m_view->StartPlay();
        m_view->StartPlay();
        QTRY_COMPARE(m_manager->gameCount(), 2);
        play.clear();
        m_view->CloseAllGames();
        QCOMPARE(m_manager->gameCount(), 0);
        QCOMPARE(play.size(), 0);
        QTRY_COMPARE(play.size(), 1);
        QTest::qWait(200);
        QCOMPARE(play.size(), 1);
        QCOMPARE(play[0][0].toBool(), false);
        QCOMPARE(OrbTestLog::Lines("Close All Games Start").size(), 1);
        QCOMPARE(OrbTestLog::Lines("All games closed.").size(), 1);

        // With nothing running, closing only logs.
        play.clear();
        m_view->CloseAllGames();
        QTest::qWait(50);
        QCOMPARE(play.size(), 0);
        QCOMPARE(OrbTestLog::Lines("All games closed.").size(), 2);
    }

    void clientsThatCannotRun()
    {
        QSignalSpy play(m_view, &OrbViewLauncher::sigStartPlayGameCallback);
        QSignalSpy notFound(m_view, &OrbViewLauncher::sigNotFoundExecutable);
        setApp("InstallDirectory", m_disk.filePath("Games"));
        QDir().mkpath(gameFolder() + "/bin");
        m_view->StartPlay();
        QCOMPARE(notFound.size(), 1);
        QCOMPARE(play.size(), 0);
        QCOMPARE(OrbTestLog::Lines("Executable not found!").size(), 1);

        // A client of that name elsewhere than the installation recorded is not taken.
        writeFile(gameFolder() + "/bin/valdane", "#!/nonexistent/interpreter\n");
        QFile::setPermissions(gameFolder() + "/bin/valdane", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        setApp("GameExecutablePath", "");
        m_view->StartPlay();
        QCOMPARE(notFound.size(), 2);

        // Where the installation put it, but it cannot be executed.
        setApp("GameExecutablePath", "bin/valdane");
        m_view->StartPlay();
        QTRY_COMPARE(play.size(), 1);
        QCOMPARE(play[0][0].toBool(), false);
        QCOMPARE(OrbTestLog::Lines("Failed to start process!").size(), 1);
        QCOMPARE(m_manager->gameCount(), 0);
    }

    void pauseAndResume()
    {
        setLocal("Basic", "GamePackageUrl", m_srv.url("/slow/game.zip"));
        m_view->SetInstallPath(m_disk.filePath("Games"));
        QDir().mkpath(m_disk.filePath("Games/Orbdownload"));
        QSignalSpy callback(m_view, &OrbViewLauncher::sigDownloadBtnClickedCallback);
        QSignalSpy progress(m_view, &OrbViewLauncher::sigDownloadProgress);
        QSignalSpy stopped(m_view, &OrbViewLauncher::sigDownloadStop);
        QSignalSpy finished(m_view, &OrbViewLauncher::sigDownloadFinish);
        m_view->SetDownloadStatus(true);
        QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty(), 20000);
        m_view->SetDownloadStatus(false);
        QCOMPARE(callback.size(), 2);
        QCOMPARE(callback[1][0].toBool(), false);
        QTRY_COMPARE_WITH_TIMEOUT(stopped.size(), 1, 20000);
        QVERIFY(flag("IsDownloadStart"));
        QVERIFY(!flag("IsDownloadFinish"));
        QCOMPARE(finished.size(), 0);
        const QString path = m_disk.filePath("Games/Orbdownload/game.zip");
        QVERIFY(QFileInfo(path).size() < m_slowBody.size());

        m_view->SetDownloadStatus(true);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
        QVERIFY(readAll(path) == m_slowBody);
        QCOMPARE(progress.last()[1].toInt(), 2);
        QVERIFY(flag("IsDownloadFinish"));
    }

    // A package that cannot be unpacked is not installed and stays for a retry.
    void failedExtraction()
    {
        setLocal("Basic", "GamePackageUrl", nginx("packages/broken.zip"));
        QSignalSpy finished(m_view, &OrbViewLauncher::sigDownloadFinish);
        QSignalSpy failed(m_view, &OrbViewLauncher::sigInstallFailed);
        QSignalSpy extracted(m_view, &OrbViewLauncher::sigExtractGameFinished);
        m_view->SetInstallPath(m_disk.filePath("Games"));
        QDir().mkpath(m_disk.filePath("Games/Orbdownload"));
        m_view->SetDownloadStatus(true);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        m_view->StartInstall();
        // A failure and never a success for the same installation.
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 20000);
        QTest::qWait(100);
        QCOMPARE(extracted.size(), 0);
        QVERIFY(!flag("IsInstallGmae"));
        QVERIFY(flag("IsDownloadFinish"));
        QVERIFY(QFileInfo(m_disk.filePath("Games/Orbdownload/broken.zip")).isFile());
        QVERIFY(!QFileInfo::exists(OrbInstallManifest::PathForGame(kGame)));
    }

    // A game update with clearing removes what the installation wrote and the old
    // package, and nothing the player put there.
    void cleanUpRemovesOnlyWhatWasInstalled()
    {
        downloadAndInstall();
        writeFile(gameFolder() + "/data/savegame.dat", "the player's");
        writeFile(gameFolder() + "/screenshot.png", "the player's");
        writeFile(m_disk.filePath("Games/Orbdownload/notes.txt"), "the player's");
        writeFile(m_disk.filePath("Games/Orbdownload/game.zip"), "old partial package");
        serveSettings(serverSettings("1.0.2", 0, 0, "2.1", {}, {}, true));
        QSignalSpy finished(m_view, &OrbViewLauncher::sigUpdateCheckFinish);
        QSignalSpy gameHints(m_view, &OrbViewLauncher::sigUpdateGameHint);
        runCheck(finished);
        QCOMPARE(gameHints.size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(gameFolder() + "/bin"), 10000);
        QTRY_VERIFY(!QFileInfo::exists(m_disk.filePath("Games/Orbdownload/game.zip")));
        QVERIFY(!QFileInfo::exists(gameFolder() + "/Valdane"));
        QVERIFY(!QFileInfo::exists(gameFolder() + "/data/levels.txt"));
        QCOMPARE(readAll(gameFolder() + "/data/savegame.dat"), QByteArray("the player's"));
        QCOMPARE(readAll(gameFolder() + "/screenshot.png"), QByteArray("the player's"));
        QCOMPARE(readAll(m_disk.filePath("Games/Orbdownload/notes.txt")), QByteArray("the player's"));
        QTRY_VERIFY(!QFileInfo::exists(OrbInstallManifest::PathForGame(kGame)));
        QVERIFY(!flag("IsInstallGmae"));
        QVERIFY(flag("IsUpdateGmaeHint"));
    }

    void manifestRefusesProtectedAndOutsidePaths()
    {
        const QString home = QDir::homePath();
        writeFile(home + "/precious.txt", "keep");
        OrbInstallManifest manifest;
        manifest.root = home;
        manifest.entries = {"precious.txt"};
        QVERIFY(!manifest.removeInstalled());
        QVERIFY(QFile::exists(home + "/precious.txt"));

        // Entries that climb out of the root are dropped when the record is read back.
        const QString root = m_disk.filePath("Games/valdane");
        QDir().mkpath(root + "/sub");
        writeFile(m_disk.filePath("Games/outside.txt"), "keep");
        const QString path = m_disk.filePath("record.manifest");
        writeFile(path, "# OrbLive install manifest 1\nroot=" + root.toUtf8() + "\n../outside.txt\n/etc/passwd\nsub/\n");
        const OrbInstallManifest loaded = OrbInstallManifest::Load(path);
        QCOMPARE(loaded.entries, QStringList{"sub/"});
        QVERIFY(loaded.removeInstalled());
        QVERIFY(QFile::exists(m_disk.filePath("Games/outside.txt")));
        QVERIFY(!QFileInfo::exists(root + "/sub"));

        // A link inside the installation is removed as a link; its target stays.
        QDir().mkpath(m_disk.filePath("target"));
        writeFile(m_disk.filePath("target/t.txt"), "keep");
        QVERIFY(QFile::link(m_disk.filePath("target"), root + "/linked"));
        OrbInstallManifest withLink;
        withLink.root = root;
        withLink.entries = {"linked", "linked/t.txt"};
        withLink.removeInstalled();
        QVERIFY(!QFileInfo(root + "/linked").isSymLink());
        QCOMPARE(readAll(m_disk.filePath("target/t.txt")), QByteArray("keep"));
    }

    // Declared SHA-256 and size, copied from the server with the other game keys: a
    // package that does not match is removed and never reported finished or installed.
    void gamePackageIntegrity_data()
    {
        QTest::addColumn<QByteArray>("declared");
        QTest::addColumn<bool>("accepted");
        const QByteArray hash = QCryptographicHash::hash(m_gameZip, QCryptographicHash::Sha256).toHex();
        QByteArray wrong = hash;
        wrong[5] = wrong[5] == '0' ? '1' : '0';
        const QByteArray size = QByteArray::number(m_gameZip.size());
        QTest::newRow("matching") << "GamePackageSha256=" + hash + "\nGamePackageSize=" + size + "\n" << true;
        QTest::newRow("hash differs") << "GamePackageSha256=" + wrong + "\nGamePackageSize=" + size + "\n" << false;
        QTest::newRow("server sends more than declared")
            << "GamePackageSha256=" + hash + "\nGamePackageSize=" + QByteArray::number(m_gameZip.size() - 10) + "\n" << false;
        QTest::newRow("nothing declared") << QByteArray() << true;
    }
    void gamePackageIntegrity()
    {
        QFETCH(QByteArray, declared);
        QFETCH(bool, accepted);
        serveSettings(serverSettings("1.0.2", 0, 0, "2.1", {}, declared));
        QSignalSpy checked(m_view, &OrbViewLauncher::sigUpdateCheckFinish);
        runCheck(checked);
        if (!declared.isEmpty())
            QVERIFY(!local("Basic", "GamePackageSha256").isEmpty());

        QSignalSpy finished(m_view, &OrbViewLauncher::sigDownloadFinish);
        QSignalSpy stopped(m_view, &OrbViewLauncher::sigDownloadStop);
        QSignalSpy refused(m_view, &OrbViewLauncher::sigDownloadVerifyFailed);
        QSignalSpy extracted(m_view, &OrbViewLauncher::sigExtractGameFinished);
        m_view->SetInstallPath(m_disk.filePath("Games"));
        QDir().mkpath(m_disk.filePath("Games/Orbdownload"));
        m_view->SetDownloadStatus(true);
        QTRY_VERIFY_WITH_TIMEOUT(finished.size() + stopped.size() == 1, 20000);
        const QString package = m_disk.filePath("Games/Orbdownload/game.zip");
        QCOMPARE(finished.size(), accepted ? 1 : 0);
        QCOMPARE(refused.size(), accepted ? 0 : 1);
        QCOMPARE(flag("IsDownloadFinish"), accepted);
        if (!accepted) {
            QVERIFY(!readAll(package).startsWith("PK") || QFileInfo(package).size() < m_gameZip.size());
            // Downloading again is accepted at once (the refused download is let go).
            QSignalSpy again(m_view, &OrbViewLauncher::sigDownloadBtnClickedCallback);
            m_view->SetDownloadStatus(true);
            QCOMPARE(again.size(), 1);
            QCOMPARE(again[0][0].toBool(), true);
            QTRY_COMPARE_WITH_TIMEOUT(stopped.size(), 2, 20000);
            QCOMPARE(refused.size(), 2);
        } else {
            QVERIFY(readAll(package) == m_gameZip);
        }
        QSignalSpy installFailed(m_view, &OrbViewLauncher::sigInstallFailed);
        m_view->StartInstall();
        QTRY_COMPARE_WITH_TIMEOUT(extracted.size() + installFailed.size(), 1, 20000);
        QCOMPARE(extracted.size(), accepted ? 1 : 0);
        QCOMPARE(flag("IsInstallGmae"), accepted);
        QCOMPARE(installFailed.size(), accepted ? 0 : 1);
        GetComponent<IOrbNetwork>("OrbBackend")->StopDownLoad();
    }

    // With a publisher key beside the program the server's settings count only when
    // signed by it, newer than what was accepted and unexpired; a refused copy
    // copies nothing and the launcher goes on offline.
    void signedSettings_data()
    {
        QTest::addColumn<QString>("variant");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("good signature") << "good" << true;
        QTest::newRow("one byte of the settings changed") << "changed" << false;
        QTest::newRow("signed by another key") << "other key" << false;
        QTest::newRow("no signature file") << "no signature" << false;
        QTest::newRow("truncated signature") << "truncated" << false;
        QTest::newRow("replayed older serial") << "replayed" << false;
        QTest::newRow("expired") << "expired" << false;
        QTest::newRow("signed package hash does not match") << "package" << true;
        QTest::newRow("signed settings without a package hash") << "no hash" << true;
        QTest::newRow("signed for another game") << "other game" << false;
        QTest::newRow("signed for another channel") << "other channel" << false;
        QTest::newRow("naming no game") << "no game" << false;
    }
    void signedSettings()
    {
        QFETCH(QString, variant);
        QFETCH(bool, accepted);
        static std::string publisherKey, publisherPub, otherKey, otherPub;
        if (publisherKey.empty()) {
            QVERIFY(OrbSignature::GenerateKeyPair(publisherKey, publisherPub));
            QVERIFY(OrbSignature::GenerateKeyPair(otherKey, otherPub));
        }
        writeFile(appDir() + "/config/publisher.pub", QByteArray::fromStdString(publisherPub));
        const QByteArray serialKey = (OrbPublisherKey::Fingerprint() + "_valdane").toUtf8();
        m_model->SetString(OrbConfig::UserConfig, "Serials", serialKey.constData(), "7");

        const QByteArray hash = QCryptographicHash::hash(m_gameZip, QCryptographicHash::Sha256).toHex();
        QByteArray declared = "GamePackageSha256=" + hash + "\nGamePackageSize=" + QByteArray::number(m_gameZip.size()) + "\n";
        if (variant == "package")
            declared = "GamePackageSha256=" + QByteArray(64, 'b') + "\nGamePackageSize=" +
                       QByteArray::number(m_gameZip.size()) + "\n";
        if (variant == "no hash")
            declared.clear();
        QByteArray text = serverSettings("1.0.2", 0, 0, "2.1", {}, declared);
        text.replace("@LAUNCHER@", nginx("launcher/launcher.zip").toUtf8());
        text.replace("@SETTINGS@", nginx("cfg/game_settings.ini").toUtf8());
        text.replace("@GAME@", nginx("packages/game.zip").toUtf8());
        std::string settings = text.toStdString(), signature;
        if (variant != "no game")
            settings = OrbSignedSettings::WithValue(settings, "publisher", "Game", variant == "other game" ? "beta" : "valdane");
        settings = OrbSignedSettings::WithValue(settings, "publisher", "Channel", variant == "other channel" ? "beta" : "");
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const std::int64_t serial = variant == "replayed" ? 6 : 8;
        const std::int64_t expires = variant == "expired" ? now - 60 : now + 86400;
        QVERIFY(OrbSignedSettings::Sign(variant == "other key" ? otherKey : publisherKey, serial, expires, settings,
                                        signature));
        if (variant == "changed")
            settings.replace(settings.find("Version=2.1"), 11, "Version=2.2");
        if (variant == "truncated")
            signature.resize(signature.size() / 2);
        serve("cfg/game_settings.ini", QByteArray::fromStdString(settings));
        QFile::remove(m_pub.filePath("cfg/game_settings.ini.sig"));
        if (variant != "no signature")
            serve("cfg/game_settings.ini.sig", QByteArray::fromStdString(signature + "\n"));

        QSignalSpy finished(m_view, &OrbViewLauncher::sigUpdateCheckFinish);
        QSignalSpy failed(m_view, &OrbViewLauncher::sigUpdateCheckFailed);
        runCheck(finished);
        QCOMPARE(finished[0][0].toBool(), true);
        QCOMPARE(failed.size(), accepted ? 0 : 1);
        QCOMPARE(local("Basic", "Version"), accepted ? QStringLiteral("2.1") : QStringLiteral("2.0"));
        QCOMPARE(QString::fromStdString(m_model->GetStringValue(OrbConfig::UserConfig, "Serials", serialKey.constData())),
                 accepted ? QStringLiteral("8") : QStringLiteral("7"));
        if (variant == "other game")
            QCOMPARE(local("Basic", "GameName"), kGame);
        if (!accepted) {
            QVERIFY(!QFileInfo::exists(appDir() + "/storage/game_settings.ini"));
        }

        if (variant == "package" || variant == "no hash" || variant == "good") {
            QSignalSpy done(m_view, &OrbViewLauncher::sigDownloadFinish);
            QSignalSpy refused(m_view, &OrbViewLauncher::sigDownloadVerifyFailed);
            QSignalSpy callback(m_view, &OrbViewLauncher::sigDownloadBtnClickedCallback);
            m_view->SetInstallPath(m_disk.filePath("Games"));
            QDir().mkpath(m_disk.filePath("Games/Orbdownload"));
            m_view->SetDownloadStatus(true);
            if (variant == "good") {
                QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 20000);
                QVERIFY(flag("IsDownloadFinish"));
            } else {
                QTRY_COMPARE_WITH_TIMEOUT(refused.size(), 1, 20000);
                QCOMPARE(done.size(), 0);
                QVERIFY(!flag("IsDownloadFinish"));
                QVERIFY(QFileInfo(m_disk.filePath("Games/Orbdownload/game.zip")).size() < m_gameZip.size() ||
                        !QFileInfo::exists(m_disk.filePath("Games/Orbdownload/game.zip")));
                if (variant == "no hash")
                    QCOMPARE(callback[0][0].toBool(), false);
            }
            GetComponent<IOrbNetwork>("OrbBackend")->StopDownLoad();
        }
        QFile::remove(appDir() + "/config/publisher.pub");
        QFile::remove(m_pub.filePath("cfg/game_settings.ini.sig"));
    }

    void launcherPackageIntegrity()
    {
        QFile::remove(appDir() + "/OrbUpdate");
        QFile::copy(ORB_UPDATE_PROGRAM, appDir() + "/OrbUpdate");
        serveSettings(serverSettings("1.0.3", 1, 0, "2.0",
                                     "LauncherPackageSha256=" + QByteArray(64, 'a') + "\nLauncherPackageSize=" +
                                         QByteArray::number(m_launcherZip.size()) + "\n"));
        QSignalSpy checked(m_view, &OrbViewLauncher::sigUpdateCheckFinish);
        runCheck(checked);
        QCOMPARE(local("launcher", "LauncherPackageSha256"), QString(64, 'a'));
        QSignalSpy refused(m_view, &OrbViewLauncher::sigDownloadVerifyFailed);
        QSignalSpy failed(m_view, &OrbViewLauncher::sigUpdateCheckFailed);
        QSignalSpy unpacked(m_view, &OrbViewLauncher::sigExtractLauncherFinish);
        m_view->LauncherUpdateStart();
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 20000);
        QCOMPARE(refused.size(), 0);  // the game download's notice; this one is a failed launcher update
        QCOMPARE(unpacked.size(), 0);
        QVERIFY(!QFileInfo::exists(appDir() + "/storage/launcher.zip"));
        m_view->LauncherInstall();
        QCOMPARE(failed.size(), 2);
        QCOMPARE(local("launcher", "Version"), QStringLiteral("1.0.2"));
        QCOMPARE(OrbTestLog::Lines("Update process started successfully").size(), 0);
        QFile::remove(appDir() + "/OrbUpdate");
    }

    // A package that failed is never handed to the updater.
    void brokenLauncherPackageIsNotInstalled_data()
    {
        QTest::addColumn<QString>("package");
        QTest::newRow("download fails") << "launcher/missing.zip";
        QTest::newRow("cannot be unpacked") << "packages/broken.zip";
    }
    void brokenLauncherPackageIsNotInstalled()
    {
        QFETCH(QString, package);
        QFile::copy(ORB_UPDATE_PROGRAM, appDir() + "/OrbUpdate");
        setLocal("launcher", "LauncherPackageUrl", nginx(package));
        serveSettings(serverSettings("1.0.3", 1, 0, "2.0"));
        QSignalSpy finished(m_view, &OrbViewLauncher::sigUpdateCheckFinish);
        runCheck(finished);
        QCOMPARE(finished[0][0].toBool(), false);
        setLocal("launcher", "LauncherPackageUrl", nginx(package));  // the server's copy named the good one

        QSignalSpy failed(m_view, &OrbViewLauncher::sigUpdateCheckFailed);
        QSignalSpy installFailed(m_view, &OrbViewLauncher::sigInstallFailed);
        QSignalSpy unpacked(m_view, &OrbViewLauncher::sigExtractLauncherFinish);
        m_view->LauncherUpdateStart();
        QTRY_COMPARE_WITH_TIMEOUT(failed.size() + installFailed.size(), 1, 20000);
        // A failed download is a failed check, a failed unpacking a failed installation.
        QCOMPARE(installFailed.size(), package.startsWith("packages/") ? 1 : 0);
        QTest::qWait(100);
        QCOMPARE(unpacked.size(), 0);
        const int before = failed.size();
        m_view->LauncherInstall();
        QCOMPARE(failed.size(), before + 1);
        QCOMPARE(local("launcher", "Version"), QStringLiteral("1.0.2"));
        QCOMPARE(OrbTestLog::Lines("Update process started successfully").size(), 0);
        QTest::qWait(300);
        QVERIFY(!QFileInfo::exists(appDir() + "/started.log"));
        QFile::remove(appDir() + "/OrbUpdate");
    }

    // The whole self-update: check, package download, unpacking, the real updater
    // replacing the program folder's files and starting the new launcher, which
    // sees the advanced version (no second update).
    void launcherSelfUpdate()
    {
        QFile::remove(appDir() + "/OrbUpdate");
        QVERIFY(QFile::copy(ORB_UPDATE_PROGRAM, appDir() + "/OrbUpdate"));
        serveSettings(serverSettings("1.0.3", 0, 1, "2.0"));
        QSignalSpy finished(m_view, &OrbViewLauncher::sigUpdateCheckFinish);
        QSignalSpy hints(m_view, &OrbViewLauncher::sigHintUpdate);
        runCheck(finished);
        QCOMPARE(hints.size(), 1);

        QSignalSpy callback(m_view, &OrbViewLauncher::sigUpdateCheckCallback);
        QSignalSpy progress(m_view, &OrbViewLauncher::sigProgressValue);
        QSignalSpy unpacked(m_view, &OrbViewLauncher::sigExtractLauncherFinish);
        m_view->LauncherUpdateStart();
        QCOMPARE(callback.size(), 1);
        QCOMPARE(callback[0][0].toBool(), true);
        QCOMPARE(QString::fromStdString(m_model->GetStringValue(OrbConfig::UserConfig, "Game", "LauncherPackage")),
                 QStringLiteral("launcher.zip"));
        QTRY_COMPARE_WITH_TIMEOUT(unpacked.size(), 1, 20000);
        QVERIFY(QFileInfo(appDir() + "/backup/OrbLive").isFile());
        QVERIFY(!progress.isEmpty());

        // A successful hand-over ends the event loop.
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(7); });
        guard.start(20000);
        QTimer::singleShot(0, m_view, [this] { m_view->LauncherInstall(); });
        QCOMPARE(QCoreApplication::exec(), 0);
        guard.stop();
        QCOMPARE(OrbTestLog::Lines("Update process started successfully").size(), 1);
        // The version advances only once the new launcher runs from the program folder.
        QCOMPARE(local("launcher", "Version"), QStringLiteral("1.0.2"));
        QVERIFY(QDir(appDir() + "/storage").isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(readAll(appDir() + "/started.log").contains("started:new:"), 20000);
        QCOMPARE(readAll(appDir() + "/build-id.txt"), QByteArray("new"));
        const QString label = app("Version");
        OrbSelfUpdate::ConfirmPendingUpdate(m_model, appDir() + "/OrbLive");
        QCOMPARE(local("launcher", "Version"), QStringLiteral("1.0.3"));
        // The version label's text names the installed launcher.
        QCOMPARE(app("Version"), QStringLiteral("v1.0.3"));

        // An update the updater rolled back (another program runs) is offered again.
        m_model->SetString(OrbConfig::UserConfig, "Game", "PendingLauncherVersion", "1.0.4");
        m_model->SetString(OrbConfig::UserConfig, "Game", "PendingLauncherSha256", QByteArray(64, 'c').constData());
        OrbSelfUpdate::ConfirmPendingUpdate(m_model, appDir() + "/OrbLive");
        QCOMPARE(local("launcher", "Version"), QStringLiteral("1.0.3"));
        QCOMPARE(QString::fromStdString(m_model->GetStringValue(OrbConfig::UserConfig, "Game", "PendingLauncherVersion")),
                 QString());
        Q_UNUSED(label);

        // The next check with the same server version offers nothing.
        serveSettings(serverSettings("1.0.3", 1, 1, "2.0"));
        QSignalSpy again(m_view, &OrbViewLauncher::sigUpdateCheckFinish);
        QSignalSpy noHint(m_view, &OrbViewLauncher::sigHintUpdate);
        runCheck(again);
        QCOMPARE(again[0][0].toBool(), true);
        QCOMPARE(noHint.size(), 0);
    }

    // A launcher refused as a second instance never enters the event loop: the
    // check it was asked for must not have touched anything by then.
    void checkStartsOnlyFromTheEventLoop()
    {
        serveSettings(serverSettings("1.0.2", 0, 0, "2.0"));
        QDir().mkpath(appDir() + "/storage");
        writeFile(appDir() + "/storage/game_settings.ini", "the running launcher's copy");
        writeFile(appDir() + "/storage/game_settings.ini.sig", "its signature");
        QSignalSpy callback(m_view, &OrbViewLauncher::sigUpdateCheckCallback);
        QSignalSpy finished(m_view, &OrbViewLauncher::sigUpdateCheckFinish);
        m_view->UpdateCheckStart();
        QCOMPARE(callback.size(), 0);
        QCOMPARE(readAll(appDir() + "/storage/game_settings.ini"), QByteArray("the running launcher's copy"));
        QCOMPARE(readAll(appDir() + "/storage/game_settings.ini.sig"), QByteArray("its signature"));
        // A second request while the first is queued or running is answered by its end.
        m_view->UpdateCheckStart();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        QTest::qWait(300);
        QCOMPARE(callback.size(), 1);
        QCOMPARE(finished.size(), 1);
    }

    // A server that answers too slowly, too much or not at all ends the check
    // offline within its deadline, and storage holds no more than the caps.
    void checkIsBounded_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("drip") << "drip";
        QTest::newRow("oversized") << "oversized";
        QTest::newRow("silent") << "silent";
    }
    void checkIsBounded()
    {
        QFETCH(QString, kind);
        setApp("UpdateCheckDeadline", "3");
        if (kind == "drip")
            setLocal("launcher", "GameSettingsUrl", m_srv.url("/drip/game_settings.ini"));
        if (kind == "silent")
            setLocal("launcher", "GameSettingsUrl", m_srv.url("/silent"));
        if (kind == "oversized") {
            serve("cfg/big/game_settings.ini", QByteArray(2 * 1024 * 1024, 'x'));
            setLocal("launcher", "GameSettingsUrl", nginx("cfg/big/game_settings.ini"));
        }
        QSignalSpy finished(m_view, &OrbViewLauncher::sigUpdateCheckFinish);
        QSignalSpy failed(m_view, &OrbViewLauncher::sigUpdateCheckFailed);
        QElapsedTimer clock;
        clock.start();
        m_view->UpdateCheckStart();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 15000);
        QCOMPARE(finished[0][0].toBool(), true);
        QCOMPARE(failed.size(), 1);
        QVERIFY2(clock.elapsed() < 12000, qPrintable(QString::number(clock.elapsed())));
        const QString copy = appDir() + "/storage/" + (kind == "silent" ? QString("silent") : QString("game_settings.ini"));
        QVERIFY(QFileInfo(copy).size() <= 1024 * 1024);
        QCOMPARE(local("Basic", "Version"), QStringLiteral("2.0"));
        setApp("UpdateCheckDeadline", "");
    }

    // A key file that is there but is no key means no check at all: everything
    // from the server is refused and nothing is downloaded.
    void unreadablePublisherKeyRefusesEverything()
    {
        writeFile(appDir() + "/config/publisher.pub", "-----BEGIN PUBLIC KEY-----\nnot a key\n-----END PUBLIC KEY-----\n");
        serveSettings(serverSettings("1.0.2", 0, 0, "2.1"));
        QSignalSpy callback(m_view, &OrbViewLauncher::sigUpdateCheckCallback);
        QSignalSpy finished(m_view, &OrbViewLauncher::sigUpdateCheckFinish);
        QSignalSpy failed(m_view, &OrbViewLauncher::sigUpdateCheckFailed);
        runCheck(finished);
        QCOMPARE(callback.size(), 1);
        QCOMPARE(callback[0][0].toBool(), false);
        QCOMPARE(failed.size(), 1);
        QCOMPARE(local("Basic", "Version"), QStringLiteral("2.0"));

        // Even with hashes in the shipped settings, no package is taken.
        setLocal("Basic", "GamePackageSha256", QCryptographicHash::hash(m_gameZip, QCryptographicHash::Sha256).toHex());
        QSignalSpy download(m_view, &OrbViewLauncher::sigDownloadBtnClickedCallback);
        QSignalSpy refused(m_view, &OrbViewLauncher::sigDownloadVerifyFailed);
        m_view->SetInstallPath(m_disk.filePath("Games"));
        m_view->SetDownloadStatus(true);
        QCOMPARE(download.size(), 1);
        QCOMPARE(download[0][0].toBool(), false);
        QCOMPARE(refused.size(), 1);
    }

    // Signed settings of the same version as the shipped ones declare the package
    // the shipped settings did not: the first download is taken, not refused forever.
    // And one game's serials never hold back another's for the same user.
    void signedSameVersionAndSerialsPerGame()
    {
        std::string key, pub;
        QVERIFY(OrbSignature::GenerateKeyPair(key, pub));
        writeFile(appDir() + "/config/publisher.pub", QByteArray::fromStdString(pub));
        const QByteArray hash = QCryptographicHash::hash(m_gameZip, QCryptographicHash::Sha256).toHex();
        auto publish = [&](const QString& game, std::int64_t serial) {
            QByteArray text = serverSettings("1.0.2", 0, 0, "2.0", {},
                                             "GamePackageSha256=" + hash + "\nGamePackageSize=" +
                                                 QByteArray::number(m_gameZip.size()) + "\n");
            text.replace("@SETTINGS@", nginx("cfg/game_settings.ini").toUtf8());
            text.replace("@GAME@", nginx("packages/game.zip").toUtf8());
            std::string settings = OrbSignedSettings::WithValue(text.toStdString(), "publisher", "Game", game.toStdString());
            settings = OrbSignedSettings::WithValue(settings, "publisher", "Channel", "");
            std::string signature;
            QVERIFY(OrbSignedSettings::Sign(key, serial, QDateTime::currentSecsSinceEpoch() + 3600, settings, signature));
            serve("cfg/game_settings.ini", QByteArray::fromStdString(settings));
            serve("cfg/game_settings.ini.sig", QByteArray::fromStdString(signature));
        };
        // Another copy of the launcher, for game "beta", accepts a high serial first.
        const QByteArray identity = readAll(appDir() + "/config/identity.ini");
        writeFile(appDir() + "/config/identity.ini", "Game=beta\nChannel=\n");
        publish("beta", 5000);
        QSignalSpy finished(m_view, &OrbViewLauncher::sigUpdateCheckFinish);
        QSignalSpy failed(m_view, &OrbViewLauncher::sigUpdateCheckFailed);
        runCheck(finished);
        QCOMPARE(failed.size(), 0);
        writeFile(appDir() + "/config/identity.ini", identity);
        setLocal("Basic", "GameName", kGame);

        publish(kGame, 101);
        finished.clear();
        runCheck(finished);
        QCOMPARE(failed.size(), 0);
        QCOMPARE(local("Basic", "GamePackageSha256"), QString::fromLatin1(hash));

        QSignalSpy done(m_view, &OrbViewLauncher::sigDownloadFinish);
        m_view->SetInstallPath(m_disk.filePath("Games"));
        QDir().mkpath(m_disk.filePath("Games/Orbdownload"));
        m_view->SetDownloadStatus(true);
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 20000);
        QFile::remove(m_pub.filePath("cfg/game_settings.ini.sig"));
    }

    // A package changed on disk after its download is never unpacked: it is checked
    // against what the settings declare, removed, and downloaded again.
    void packageTamperedBeforeInstall()
    {
        setLocal("Basic", "GamePackageSha256", QCryptographicHash::hash(m_gameZip, QCryptographicHash::Sha256).toHex());
        setLocal("Basic", "GamePackageSize", QString::number(m_gameZip.size()));
        QSignalSpy done(m_view, &OrbViewLauncher::sigDownloadFinish);
        m_view->SetInstallPath(m_disk.filePath("Games"));
        QDir().mkpath(m_disk.filePath("Games/Orbdownload"));
        m_view->SetDownloadStatus(true);
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 20000);
        const QString package = m_disk.filePath("Games/Orbdownload/game.zip");
        QByteArray bytes = readAll(package);
        bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x20);
        writeFile(package, bytes);

        QSignalSpy failed(m_view, &OrbViewLauncher::sigInstallFailed);
        QSignalSpy installed(m_view, &OrbViewLauncher::sigExtractGameFinished);
        m_view->StartInstall();
        QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, 20000);
        QTest::qWait(100);
        QCOMPARE(installed.size(), 0);
        QVERIFY(!QFileInfo::exists(package));
        QVERIFY(!flag("IsDownloadFinish"));
        QVERIFY(!flag("IsInstallGmae"));
        QVERIFY(!QFileInfo::exists(gameFolder() + "/data/levels.txt"));
    }

    // The game from the publisher's chunk store: installed through the same scene
    // requests as the ZIP, played, verified and repaired, then updated in place to a
    // version the check found, with the player's own files kept.
    void deliveredGame()
    {
        std::string key, pub;
        QVERIFY(OrbSignature::GenerateKeyPair(key, pub));
        QTemporaryDir src;
        QFile client(QStringLiteral(ORB_GAME_CLIENT));
        QVERIFY(client.open(QIODevice::ReadOnly));
        QDir().mkpath(src.filePath("v1/bin/x64"));
        QDir().mkpath(src.filePath("v1/data"));
        writeFile(src.filePath("v1/bin/x64/valdane"), client.readAll());
        QFile::setPermissions(src.filePath("v1/bin/x64/valdane"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        writeFile(src.filePath("v1/data/levels.txt"), randomBytes(600 * 1024, 3));
        writeFile(src.filePath("v1/data/old.txt"), "dropped by 2.1");
        const QString store = m_pub.filePath("store");
        QVERIFY(deliverytest::publish(src.filePath("v1"), store, "2.0", kGame, 1, key));
        const QByteArray v1Manifest = readAll(store + "/manifests/2.0.manifest");
        setLocal("Basic", "GameManifestUrl", nginx("store/manifests/2.0.manifest"));
        setLocal("Basic", "GameManifestSha256", QCryptographicHash::hash(v1Manifest, QCryptographicHash::Sha256).toHex());

        QSignalSpy callback(m_view, &OrbViewLauncher::sigDownloadBtnClickedCallback);
        QSignalSpy done(m_view, &OrbViewLauncher::sigDownloadFinish);
        QSignalSpy progress(m_view, &OrbViewLauncher::sigDownloadProgress);
        m_view->DownLoadBtnClick(m_disk.filePath("Games"));
        m_view->SetInstallPath(m_disk.filePath("Games"));
        m_view->SetDownloadStatus(true);
        QCOMPARE(callback.size(), 1);
        QCOMPARE(callback[0][0].toBool(), true);
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 30000);
        QVERIFY(flag("IsDownloadFinish") && flag("IsInstallGmae"));
        QVERIFY(!progress.isEmpty());
        QCOMPARE(readAll(gameFolder() + "/data/levels.txt"), randomBytes(600 * 1024, 3));
        QCOMPARE(app("GameExecutablePath"), QStringLiteral("bin/x64/valdane"));
        QVERIFY(m_view->IsRepairAvailable());

        QSignalSpy play(m_view, &OrbViewLauncher::sigStartPlayGameCallback);
        m_view->StartPlay();
        QTRY_COMPARE(play.size(), 1);
        QCOMPARE(play[0][0].toBool(), true);
        m_view->CloseAllGames();
        QTRY_COMPARE(play.size(), 2);

        // Damage and loss, found and mended.
        QByteArray damaged = readAll(gameFolder() + "/data/levels.txt");
        damaged[1000] = char(damaged[1000] ^ 1);
        writeFile(gameFolder() + "/data/levels.txt", damaged);
        QFile::remove(gameFolder() + "/data/old.txt");
        QSignalSpy repaired(m_view, &OrbViewLauncher::sigRepairFinished);
        m_view->VerifyAndRepair();
        QTRY_COMPARE_WITH_TIMEOUT(repaired.size(), 1, 30000);
        QCOMPARE(repaired[0][0].toBool(), true);
        QCOMPARE(repaired[0][1].toString(), QStringLiteral("1 damaged, 1 missing"));
        QCOMPARE(readAll(gameFolder() + "/data/levels.txt"), randomBytes(600 * 1024, 3));
        QCOMPARE(readAll(gameFolder() + "/data/old.txt"), QByteArray("dropped by 2.1"));

        // A newer version named by the server's settings: updated in place.
        QDir().mkpath(src.filePath("v2/bin/x64"));
        QDir().mkpath(src.filePath("v2/data"));
        QFile::copy(src.filePath("v1/bin/x64/valdane"), src.filePath("v2/bin/x64/valdane"));
        QByteArray levels2 = randomBytes(600 * 1024, 3);
        levels2.insert(300 * 1024, "a new level");
        writeFile(src.filePath("v2/data/levels.txt"), levels2);
        QVERIFY(deliverytest::publish(src.filePath("v2"), store, "2.1", kGame, 2, key));
        writeFile(gameFolder() + "/data/save.dat", "the player's");
        const QByteArray v2Manifest = readAll(store + "/manifests/2.1.manifest");
        serveSettings(serverSettings("1.0.2", 0, 0, "2.1", {},
                                     "GameManifestUrl=" + nginx("store/manifests/2.1.manifest").toUtf8() +
                                         "\nGameManifestSha256=" +
                                         QCryptographicHash::hash(v2Manifest, QCryptographicHash::Sha256).toHex() + "\n",
                                     true));
        QSignalSpy checked(m_view, &OrbViewLauncher::sigUpdateCheckFinish);
        QSignalSpy hint(m_view, &OrbViewLauncher::sigUpdateGameHint);
        runCheck(checked);
        QCOMPARE(hint.size(), 1);
        QVERIFY(!flag("IsInstallGmae"));
        m_view->SetDownloadStatus(true);
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 2, 30000);
        QVERIFY(flag("IsInstallGmae"));
        QCOMPARE(readAll(gameFolder() + "/data/levels.txt"), levels2);
        QVERIFY(!QFileInfo::exists(gameFolder() + "/data/old.txt"));
        QCOMPARE(readAll(gameFolder() + "/data/save.dat"), QByteArray("the player's"));

        // A manifest that is not the one the settings declare changes nothing.
        setLocal("Basic", "GameManifestSha256", QString(64, 'c'));
        setLocal("Basic", "GameManifestUrl", nginx("store/manifests/2.0.manifest"));
        QSignalSpy refused(m_view, &OrbViewLauncher::sigDownloadVerifyFailed);
        m_view->SetDownloadStatus(true);
        QTRY_COMPARE_WITH_TIMEOUT(refused.size(), 1, 30000);
        QCOMPARE(readAll(gameFolder() + "/data/levels.txt"), levels2);
        setLocal("Basic", "GameManifestUrl", "");
        setLocal("Basic", "GameManifestSha256", "");
    }

    // The view's signals for each outcome, from the request to the end of the
    // task: exactly one end per task, never a failure and a success for one event.
    // They are the scene tests' fixtures (ORB_RECORD_FIXTURES=1 writes them anew).
    void sequences_data()
    {
        QTest::addColumn<QString>("outcome");
        for (const char* o : {"check_ok", "check_offline", "check_not_started", "check_launcher_hint", "check_forced",
                              "check_game_update", "download_ok", "download_network_failure", "download_verify_failed", "download_not_started",
                              "install_ok", "install_failed", "launcher_ok", "launcher_download_failed",
                              "launcher_unpack_failed", "play_and_end", "play_not_found"})
            QTest::newRow(o) << QString::fromLatin1(o);
    }
    void sequences()
    {
        QFETCH(QString, outcome);
        QFile::copy(ORB_UPDATE_PROGRAM, appDir() + "/OrbUpdate");
        m_view->SetInstallPath(m_disk.filePath("Games"));
        QDir().mkpath(m_disk.filePath("Games/Orbdownload"));
        serveSettings(serverSettings("1.0.2", 0, 0, "2.0"));
        auto waitFor = [&](const QStringList& ends) {
            QTRY_VERIFY_WITH_TIMEOUT(!m_trace.isEmpty() &&
                                         ends.contains(m_trace.last().toObject().value("name").toString()),
                                     30000);
            QTest::qWait(300);  // anything that would follow the end
        };
        const QStringList checkEnds = {"sigUpdateCheckFinish", "sigUpdateGameHint"};
        if (outcome == "install_ok" || outcome == "install_failed" || outcome == "play_and_end") {
            if (outcome == "install_failed")
                setLocal("Basic", "GamePackageUrl", nginx("packages/broken.zip"));
            QSignalSpy done(m_view, &OrbViewLauncher::sigDownloadFinish);
            m_view->SetDownloadStatus(true);
            QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, 20000);
            if (outcome == "play_and_end") {
                QSignalSpy installed(m_view, &OrbViewLauncher::sigExtractGameFinished);
                m_view->StartInstall();
                QTRY_COMPARE_WITH_TIMEOUT(installed.size(), 1, 20000);
            }
        }
        if (outcome.startsWith("launcher_")) {
            serveSettings(serverSettings("1.0.3", 1, 0, "2.0"));
            QSignalSpy checked(m_view, &OrbViewLauncher::sigUpdateCheckFinish);
            runCheck(checked);
            const char* package = outcome == "launcher_ok" ? "launcher/launcher.zip"
                                  : outcome == "launcher_download_failed" ? "launcher/missing.zip"
                                                                           : "packages/broken.zip";
            setLocal("launcher", "LauncherPackageUrl", nginx(package));
        }
        // An installed game for the outcomes after which the player should still play.
        if (outcome == "check_game_update" || outcome == "check_offline" || outcome == "check_not_started" ||
            outcome == "play_not_found") {
            for (const char* f : {"IsDownloadStart", "IsDownloadFinish", "IsInstallGmae"})
                setFlag(f, true);
        }
        const QVariantMap start = flags();
        m_trace = QJsonArray();

        if (outcome == "check_ok") {
            m_view->UpdateCheckStart();
            waitFor(checkEnds);
        } else if (outcome == "check_offline") {
            setLocal("launcher", "GameSettingsUrl", nginx("cfg/missing/game_settings.ini"));
            m_view->UpdateCheckStart();
            waitFor(checkEnds);
        } else if (outcome == "check_not_started") {
            setLocal("launcher", "GameSettingsUrl", nginx("cfg/"));
            m_view->UpdateCheckStart();
            waitFor(checkEnds);
        } else if (outcome == "check_launcher_hint" || outcome == "check_forced") {
            serveSettings(serverSettings("1.0.3", outcome == "check_forced" ? 1 : 0, outcome == "check_forced" ? 0 : 1, "2.0"));
            m_view->UpdateCheckStart();
            waitFor(checkEnds);
        } else if (outcome == "check_game_update") {
            serveSettings(serverSettings("1.0.2", 0, 0, "2.1"));
            m_view->UpdateCheckStart();
            waitFor(checkEnds);
        } else if (outcome.startsWith("download_")) {
            if (outcome == "download_network_failure")
                setLocal("Basic", "GamePackageUrl", m_srv.url("/drop/game.zip"));
            if (outcome == "download_verify_failed")
                setLocal("Basic", "GamePackageSha256", QString(64, 'b'));
            if (outcome == "download_not_started") {
                writeFile(m_disk.filePath("Games/afile"), "a file where the download folder would go");
                setApp("DownLoadPath", m_disk.filePath("Games/afile/Orbdownload"));
            }
            m_view->SetDownloadStatus(true);
            if (outcome == "download_not_started")
                waitFor({"sigDownloadBtnClickedCallback"});
            else
                waitFor({"sigDownloadFinish", "sigDownloadStop"});
            if (outcome == "download_not_started")
                QVERIFY(!flag("IsDownloadStart"));
        } else if (outcome.startsWith("install_")) {
            m_view->StartInstall();
            waitFor({"sigExtractGameFinished", "sigInstallFailed"});
        } else if (outcome.startsWith("launcher_")) {
            m_view->LauncherUpdateStart();
            waitFor({"sigExtractLauncherFinish", "sigInstallFailed", "sigUpdateCheckFailed"});
        } else if (outcome == "play_and_end") {
            m_view->StartPlay();
            QTRY_COMPARE(clientPids().size(), 1);
            quitClient(clientPids().first());
            QTRY_COMPARE_WITH_TIMEOUT(m_manager->gameCount(), 0, 20000);
            waitFor({"sigStartPlayGameCallback"});
        } else if (outcome == "play_not_found") {
            m_view->StartPlay();
            waitFor({"sigNotFoundExecutable"});
        }
        const QJsonArray trace = condensed(m_trace);
        const QString path = QStringLiteral(ORB_FIXTURE_DIR "/%1.json").arg(outcome);
        if (qEnvironmentVariableIsSet("ORB_RECORD_FIXTURES")) {
            QJsonObject fixture;
            fixture.insert("outcome", outcome);
            fixture.insert("start", QJsonObject::fromVariantMap(start));
            fixture.insert("signals", trace);
            QDir().mkpath(QFileInfo(path).absolutePath());
            writeFile(path, QJsonDocument(fixture).toJson());
        }
        const QJsonObject fixture = QJsonDocument::fromJson(readAll(path)).object();
        QCOMPARE(shape(trace), shape(fixture.value("signals").toArray()));
        QFile::remove(appDir() + "/OrbUpdate");
    }
};

QTEST_MAIN(tst_OrbLauncherManager)
#include "tst_orblaunchermanager.moc"
