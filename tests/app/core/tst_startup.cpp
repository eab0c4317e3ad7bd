// Starts the real launcher program in throw-away program and user folders.

#include <QtTest>

#include <csignal>
#include "OrbTestFiles.h"


using orbtest::readAll;
namespace {

struct Launcher {
    QString programDir;
    std::unique_ptr<QProcess> process;
};


} // namespace

class tst_Startup : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_configHome;
    int m_programs = 0;

    QString logFolder() const { return m_configHome + "/OrbLauncher/log"; }

    // A program folder holding the launcher and, unless gameName is null, its
    // game-settings file.
    QString makeProgramDir(const char* gameName)
    {
        const QString dir = m_root.filePath(QString("program%1").arg(++m_programs));
        QDir().mkpath(dir);
        QFile::copy(ORB_LAUNCHER_BINARY, dir + "/OrbLive");
        QFile(dir + "/OrbLive").setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (gameName) {
            QDir().mkpath(dir + "/config");
            QFile f(dir + "/config/game_settings.ini");
            f.open(QIODevice::WriteOnly);
            f.write(QByteArray("[Basic]\nGameName=") + gameName + "\n");
        }
        return dir;
    }

    std::unique_ptr<QProcess> start(const QString& programDir)
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", m_configHome);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p->setProcessEnvironment(env);
        p->setProgram(programDir + "/OrbLive");
        p->start();
        return p;
    }

    // The launcher writes "launcher started" from its main thread (tid == pid)
    // right before it enters the event loop.
    bool waitUntilRunning(QProcess& p, int timeoutMs = 30000)
    {
        const QByteArray marker = "[tid:" + QByteArray::number(p.processId()) + "]";
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            if (p.state() == QProcess::NotRunning)
                return false;
            for (const QFileInfo& file : QDir(logFolder()).entryInfoList(QDir::Files)) {
                const QByteArray content = readAll(file.filePath());
                for (const QByteArray& line : content.split('\n'))
                    if (line.contains(marker) && line.contains("launcher started"))
                        return true;
            }
            p.waitForFinished(100);
        }
        return false;
    }

    void stop(QProcess& p)
    {
        if (p.state() == QProcess::NotRunning)
            return;
        ::kill(p.processId(), SIGTERM);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(p.readAllStandardOutput().contains("~ComponentRegister called"));
    }

private slots:
    void init()
    {
        m_configHome = m_root.filePath(QString("config%1").arg(++m_programs));
        QDir().mkpath(m_configHome);
    }

    void firstStartCreatesLogAndDefaults()
    {
        const QString dir = makeProgramDir("valdane");
        auto p = start(dir);
        QVERIFY(waitUntilRunning(*p));

        const QStringList logs = QDir(logFolder()).entryList(QDir::Files);
        QCOMPARE(logs.size(), 1);
        QVERIFY(QRegularExpression(R"(^\d{4}(-\d\d){5}\.log$)").match(logs[0]).hasMatch());

        QSettings app(m_configHome + "/OrbLauncher/config/OrbLauncher.ini", QSettings::IniFormat);
        app.beginGroup("valdane");
        QCOMPARE(app.value("Version").toString(), QString("v1.0.2"));
        QCOMPARE(app.value("Language").toString(), QString("zh-CN"));
        QCOMPARE(app.value("DownLoadPath").toString(), dir + "/Orbdownload");
        QCOMPARE(app.value("InstallDirectory").toString(), QDir::homePath() + "/Documents");
        for (const char* flag : {"IsDownloadStart", "IsDownloadFinish", "IsInstallGmae"})
            QCOMPARE(app.value(flag).toString(), QString("false"));
        QCOMPARE(app.value("Storage").toString(), dir + "/storage");
        QCOMPARE(app.value("Backup").toString(), dir + "/backup");
        stop(*p);
    }

    void startupErrors_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no settings file") << "missing" << "game name is empty";
        QTest::newRow("no game name") << "empty" << "game name is empty";
        QTest::newRow("settings file cannot be created") << "blocked" << "Config File does not exist";
    }

    void startupErrors()
    {
        QFETCH(QString, setup);
        QFETCH(QString, reason);
        const QString dir = makeProgramDir(setup == "empty" ? "" : nullptr);
        if (setup == "blocked") {
            // A file where the settings folder should be: nothing can be created.
            QFile f(dir + "/config");
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        auto p = start(dir);
        QVERIFY(p->waitForFinished(30000));
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QVERIFY(p->exitCode() != 0);
        QVERIFY(p->readAllStandardError().contains(reason.toUtf8()));
        QVERIFY(p->readAllStandardOutput().contains("~ComponentRegister called"));

        const QStringList logs = QDir(logFolder()).entryList(QDir::Files);
        QCOMPARE(logs.size(), 1);
        QVERIFY(readAll(logFolder() + "/" + logs[0]).contains(reason.toUtf8()));

        if (setup != "blocked") {
            // The store completed the file with its 14 keys, all empty.
            const QByteArray ini = readAll(dir + "/config/game_settings.ini");
            for (const char* key : {"Version", "LauncherPackageUrl", "GameSettingsUrl", "IsForceUpdate", "IsHintUpdate",
                                    "Channel", "GameName", "GameNickName", "GameSize", "GamePackageUrl",
                                    "WebPageUrl", "IsClearGamePath", "IsOpenMoreGames"})
                QVERIFY2(ini.contains(QByteArray(key) + "=\n"), key);
            QCOMPARE(ini.count("Version=\n"), 2);
        }
    }

    void secondLauncherOfTheSameGameLeaves()
    {
        auto first = start(makeProgramDir("valdane"));
        QVERIFY(waitUntilRunning(*first));

        auto second = start(makeProgramDir("valdane"));
        QVERIFY(second->waitForFinished(30000));
        QCOMPARE(second->exitCode(), 0);
        QVERIFY(second->readAllStandardOutput().contains("~ComponentRegister called"));
        QCOMPARE(first->state(), QProcess::Running);
        stop(*first);
    }

    void launchersOfTwoGamesRunSideBySide()
    {
        auto a = start(makeProgramDir("valdane"));
        auto b = start(makeProgramDir("othergame"));
        QVERIFY(waitUntilRunning(*a));
        QVERIFY(waitUntilRunning(*b));
        stop(*a);
        stop(*b);
    }

    void aKilledLauncherDoesNotBlockTheNextStart()
    {
        const QString dir = makeProgramDir("valdane");
        auto first = start(dir);
        QVERIFY(waitUntilRunning(*first));
        ::kill(first->processId(), SIGKILL);
        QVERIFY(first->waitForFinished(10000));

        auto next = start(dir);
        QVERIFY(waitUntilRunning(*next));
        stop(*next);
    }

    void simultaneousStartsLeaveExactlyOne_data()
    {
        QTest::addColumn<int>("round");
        for (int i = 0; i < 3; ++i)
            QTest::newRow(qPrintable(QString("round %1").arg(i))) << i;
    }

    void simultaneousStartsLeaveExactlyOne()
    {
        const QString dirA = makeProgramDir("valdane");
        const QString dirB = makeProgramDir("valdane");
        auto a = start(dirA);
        auto b = start(dirB);
        QVERIFY(a->waitForStarted() && b->waitForStarted());

        QElapsedTimer timer;
        timer.start();
        while (a->state() == QProcess::Running && b->state() == QProcess::Running && timer.elapsed() < 60000)
            QTest::qWait(50);
        QProcess* left = a->state() == QProcess::NotRunning ? a.get() : b.get();
        QProcess* stays = left == a.get() ? b.get() : a.get();
        QCOMPARE(left->state(), QProcess::NotRunning);
        QCOMPARE(left->exitCode(), 0);
        QVERIFY(waitUntilRunning(*stays));
        stop(*stays);
    }
};

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
