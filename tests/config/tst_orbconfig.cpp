#include <OrbConfig.h>

#include <util/config-file.h>

#include <QtTest>

#include <atomic>
#include <csignal>
#include <random>
#include <thread>
#include "OrbTestFiles.h"


using orbtest::readAll;
using orbtest::writeFile;
namespace {



const char* const kGameKeys[] = {"Version",  "LauncherPackageUrl", "GameSettingsUrl", "IsForceUpdate", "IsHintUpdate",
                                 "Channel",  "GameName",           "GameNickName",    "GameSize",      "GamePackageUrl",
                                 "WebPageUrl", "IsClearGamePath",  "IsOpenMoreGames"};

} // namespace

class tst_OrbConfig : public QObject {
    Q_OBJECT

    QString m_configRoot;

    QString settingsDir() const { return QCoreApplication::applicationDirPath() + "/config"; }
    QString configDir() const { return m_configRoot + "/OrbLauncher/config"; }

    std::unique_ptr<OrbConfig> makeStore()
    {
        auto store = std::make_unique<OrbConfig>();
        store->SetConfigDir("OrbLauncher/config");
        store->SetSDKConfigFile("OrbLauncher.ini");
        store->SetUserConfigFile("User.ini");
        return store;
    }

private slots:
    void init()
    {
        m_configRoot = qEnvironmentVariable("XDG_CONFIG_HOME");
        QDir(m_configRoot + "/OrbLauncher").removeRecursively();
        QDir(settingsDir()).removeRecursively();
    }

    void firstInitCreatesEverything()
    {
        auto store = makeStore();
        QVERIFY(store->Init());
        QVERIFY(QFileInfo(configDir()).isDir());
        QVERIFY(QFile::exists(configDir() + "/OrbLauncher.ini"));
        QVERIFY(QFile::exists(configDir() + "/User.ini"));
        const QByteArray ini = readAll(settingsDir() + "/game_settings.ini");
        for (const char* key : kGameKeys)
            QVERIFY2(ini.contains(QByteArray("\n") + key + "=\n") || ini.startsWith(QByteArray(key) + "="), key);
        QCOMPARE(ini.count("Version=\n"), 2);
        QCOMPARE(store->GetStringValue(OrbConfig::GameSettingConfig, "Basic", "GameName"), std::string());
        QVERIFY(store->GetConfigHasKey(OrbConfig::GameSettingConfig, "launcher", "Channel"));
    }

    void existingSettingsKeepTheirValues()
    {
        QDir().mkpath(settingsDir());
        writeFile(settingsDir() + "/game_settings.ini", "[Basic]\nGameName=valdane\nExtra=kept\n");
        auto store = makeStore();
        QVERIFY(store->Init());
        QCOMPARE(store->GetStringValue(OrbConfig::GameSettingConfig, "Basic", "GameName"), std::string("valdane"));
        QCOMPARE(store->GetStringValue(OrbConfig::GameSettingConfig, "Basic", "Extra"), std::string("kept"));
        const QByteArray ini = readAll(settingsDir() + "/game_settings.ini");
        QVERIFY(ini.contains("GameName=valdane"));
        QVERIFY(ini.contains("IsOpenMoreGames="));
    }

    void typedReads_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("asInt");
        QTest::addColumn<bool>("asBool");
        QTest::newRow("hex") << QByteArray("0x10") << 16 << true;
        QTest::newRow("empty") << QByteArray("") << 0 << false;
        QTest::newRow("zero") << QByteArray("0") << 0 << false;
        QTest::newRow("one") << QByteArray("1") << 1 << true;
        QTest::newRow("hex one") << QByteArray("0x1") << 1 << true;
        QTest::newRow("true") << QByteArray("true") << 0 << true;
        QTest::newRow("TRUE") << QByteArray("TRUE") << 0 << true;
        QTest::newRow("True") << QByteArray("True") << 0 << true;
        QTest::newRow("false") << QByteArray("false") << 0 << false;
    }

    void typedReads()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, asInt);
        QFETCH(bool, asBool);
        auto store = makeStore();
        QVERIFY(store->Init());
        store->SetString(OrbConfig::AppConfig, "valdane", "Key", stored.constData());
        QCOMPARE(store->GetIntValue(OrbConfig::AppConfig, "valdane", "Key"), asInt);
        QCOMPARE(store->GetBoolValue(OrbConfig::AppConfig, "valdane", "Key"), asBool);
        QCOMPARE(store->GetStringValue(OrbConfig::AppConfig, "valdane", "Key"), stored.toStdString());
    }

    void absentKeysAndUnloadedFilesGiveNeutralAnswers()
    {
        auto loaded = makeStore();
        QVERIFY(loaded->Init());
        QCOMPARE(loaded->GetIntValue(OrbConfig::UserConfig, "Game", "Missing"), -1);
        QCOMPARE(loaded->GetStringValue(OrbConfig::UserConfig, "Game", "Missing"), std::string());
        QCOMPARE(loaded->GetBoolValue(OrbConfig::UserConfig, "Game", "Missing"), false);
        QCOMPARE(loaded->GetConfigHasKey(OrbConfig::UserConfig, "Game", "Missing"), false);

        auto unloaded = makeStore();
        unloaded->SetString(OrbConfig::AppConfig, "S", "K", "v");
        QCOMPARE(unloaded->GetStringValue(OrbConfig::AppConfig, "S", "K"), std::string());
        QCOMPARE(unloaded->GetIntValue(OrbConfig::AppConfig, "S", "K"), -1);
        QCOMPARE(unloaded->GetBoolValue(OrbConfig::AppConfig, "S", "K"), false);
        QCOMPARE(unloaded->GetConfigHasKey(OrbConfig::AppConfig, "S", "K"), false);
    }

    void writesAreOnDiskAtOnce()
    {
        auto store = makeStore();
        QVERIFY(store->Init());
        store->SetInt(OrbConfig::UserConfig, "Game", "Count", 5);
        store->SetBool(OrbConfig::UserConfig, "Game", "Flag", true);
        QCOMPARE(store->GetStringValue(OrbConfig::UserConfig, "Game", "Count"), std::string("5"));
        QCOMPARE(store->GetStringValue(OrbConfig::UserConfig, "Game", "Flag"), std::string("true"));
        const QByteArray user = readAll(configDir() + "/User.ini");
        QVERIFY(user.contains("Count=5"));
        QVERIFY(user.contains("Flag=true"));
    }

    void unknownTypesAddressTheApplicationFile()
    {
        auto store = makeStore();
        QVERIFY(store->Init());
        store->SetString(static_cast<OrbConfig::OrbConfigType>(7), "S", "K", "seven");
        QCOMPARE(store->GetStringValue(OrbConfig::AppConfig, "S", "K"), std::string("seven"));
        QVERIFY(readAll(configDir() + "/OrbLauncher.ini").contains("K=seven"));
    }

    void specifyConfigValue()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("other.ini"), "[launcher]\nVersion=v2.0.0\n");
        OrbConfig store;
        QCOMPARE(store.GetSpecifyConfigValue(dir.filePath("other.ini").toStdString(), "launcher", "Version"),
                 std::string("v2.0.0"));
        QCOMPARE(store.GetSpecifyConfigValue(dir.filePath("other.ini").toStdString(), "launcher", "Nope"),
                 std::string());
        // A missing file is answered empty and left behind as an empty file.
        QCOMPARE(store.GetSpecifyConfigValue(dir.filePath("new.ini").toStdString(), "a", "b"), std::string());
        QVERIFY(QFile::exists(dir.filePath("new.ini")));
        QCOMPARE(QFileInfo(dir.filePath("new.ini")).size(), 0);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 store.GetSpecifyConfigValue(dir.filePath("no/such/folder.ini").toStdString(), "a", "b"));
        try {
            store.GetSpecifyConfigValue(dir.filePath("no/such/folder.ini").toStdString(), "a", "b");
        } catch (const std::runtime_error& e) {
            QCOMPARE(QByteArray(e.what()), QByteArray("Failed to create config"));
        }
    }

    void readsAreCopiesThatSurviveConcurrentWrites()
    {
        auto store = makeStore();
        QVERIFY(store->Init());
        const std::string a(4096, 'a'), b(8192, 'b');
        store->SetString(OrbConfig::AppConfig, "S", "K", a.c_str());
        std::atomic_bool stop {false};
        std::thread writer([&] {
            for (int i = 0; i < 300 && !stop; ++i)
                store->SetString(OrbConfig::AppConfig, "S", "K", (i % 2 ? a : b).c_str());
            stop = true;
        });
        int reads = 0;
        while (!stop) {
            const std::string value = store->GetStringValue(OrbConfig::AppConfig, "S", "K");
            if (value != a && value != b) {
                stop = true;
                writer.join();
                QFAIL("a read saw a torn value");
            }
            ++reads;
        }
        writer.join();
        QVERIFY(reads > 0);
    }

    void onlyAnInterruptedSaveIsRestoredFromTheBackup_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("restored");
        // What an interrupted save of an older launcher (or a power cut) left.
        QTest::newRow("missing, with the interrupted save's temporary") << "missing+temp" << true;
        QTest::newRow("empty, backup newer") << "empty+newer" << true;
        // What a user did: start fresh.
        QTest::newRow("deleted by the user") << "missing" << false;
        QTest::newRow("emptied before the last save") << "empty+older" << false;
        // A file with content is never replaced.
        QTest::newRow("intact file") << "intact" << false;
    }

    void onlyAnInterruptedSaveIsRestoredFromTheBackup()
    {
        QFETCH(QString, state);
        QFETCH(bool, restored);
        {
            auto store = makeStore();
            QVERIFY(store->Init());
            store->SetString(OrbConfig::AppConfig, "valdane", "InstallDirectory", "/games");
            store->SetString(OrbConfig::AppConfig, "valdane", "IsInstallGmae", "1");
        }
        const QString main = configDir() + "/OrbLauncher.ini";
        const QString backup = main + ".bak";
        QVERIFY(QFile::exists(backup));
        QVERIFY(readAll(backup).contains("InstallDirectory=/games"));
        const QDateTime past = QDateTime::currentDateTime().addSecs(-3600);
        auto setTime = [](const QString& path, const QDateTime& when) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(when, QFileDevice::FileModificationTime));
        };
        // A temporary of a process that is gone (an id above any pid_max): the save
        // it belonged to did not finish.
        const QString deadTemp = main + ".tmp999999999";
        if (state == "missing+temp") {
            QVERIFY(QFile::remove(main));
            writeFile(deadTemp, "[valdane]\nInstallDirectory=/half");
        } else if (state == "missing") {
            QVERIFY(QFile::remove(main));
        } else if (state == "empty+newer") {
            writeFile(main, "");
            setTime(main, past);
        } else if (state == "empty+older") {
            writeFile(main, "");
            setTime(backup, past);
        }
        const QByteArray before = readAll(main);

        auto store = makeStore();
        QVERIFY(store->Init());
        const std::string value = store->GetStringValue(OrbConfig::AppConfig, "valdane", "InstallDirectory");
        if (restored) {
            QCOMPARE(value, std::string("/games"));
            QVERIFY(readAll(main).contains("InstallDirectory=/games"));
        } else if (state == "intact") {
            QCOMPARE(value, std::string("/games"));
            QCOMPARE(readAll(main), before);
        } else {
            QCOMPARE(value, std::string());
            QVERIFY(QFile::exists(main));
            QVERIFY(!readAll(main).contains("InstallDirectory"));
        }
        // The dead process's temporary is cleared away.
        QVERIFY(!QFile::exists(deadTemp));
    }

    void staleTemporariesAreRemoved()
    {
        QDir().mkpath(configDir());
        const QString main = configDir() + "/OrbLauncher.ini";
        writeFile(main, "[S]\nK=v\n");
        const QString dead = main + ".tmp999999999-3";
        const QString ours = main + ".tmp" + QString::number(QCoreApplication::applicationPid()) + "-77";
        const QString oldOurs = main + ".tmp" + QString::number(QCoreApplication::applicationPid()) + "-78";
        const QString unrelated = main + ".tmpfile";
        for (const QString& p : {dead, ours, oldOurs, unrelated})
            writeFile(p, "partial");
        {
            QFile f(oldOurs);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
        }
        auto store = makeStore();
        QVERIFY(store->Init());
        QVERIFY(!QFile::exists(dead));    // its process is gone
        QVERIFY(!QFile::exists(oldOurs)); // too old to be a save in progress
        QVERIFY(QFile::exists(ours));     // a live process may still be writing it
        QVERIFY(QFile::exists(unrelated));
        QCOMPARE(store->GetStringValue(OrbConfig::AppConfig, "S", "K"), std::string("v"));
        // A store leaves no temporary of its own behind after loading or saving.
        store->SetString(OrbConfig::AppConfig, "S", "K", "w");
        QFile::remove(ours);
        QFile::remove(unrelated);
        const QStringList left = QDir(configDir()).entryList({"OrbLauncher.ini.tmp*"}, QDir::Files);
        QVERIFY2(left.isEmpty(), qPrintable(left.join(',')));
    }

    void aLoaderRacingASaverKeepsEverySave()
    {
        // One process saves generation after generation while two others only
        // load the same file. Watching the file all along: it is never absent and
        // its generation never goes back; at the end it holds the last save.
        const QString folder = configDir();
        QDir().mkpath(folder);
        const QString main = folder + "/OrbLauncher.ini";
        constexpr int kGenerations = 300;

        std::vector<std::unique_ptr<QProcess>> loaders;
        for (int i = 0; i < 2; ++i) {
            loaders.push_back(std::make_unique<QProcess>());
            loaders.back()->start(ORB_CONFIG_SAVER, {"--load", folder});
        }
        QProcess saver;
        saver.start(ORB_CONFIG_SAVER, {folder, "a", QString::number(kGenerations)});
        QVERIFY(saver.waitForStarted());
        for (auto& loader : loaders)
            QVERIFY(loader->waitForReadyRead(10000));

        std::atomic_bool stop {false};
        std::atomic_int absent {0}, regressions {0}, observed {0};
        std::thread poller([&] {
            const QRegularExpression generation("\nValue=a:(\\d+):");
            int last = 0;
            while (!stop) {
                QFile f(main);
                if (!f.open(QIODevice::ReadOnly)) {
                    ++absent;
                    continue;
                }
                const auto m = generation.match(QString::fromLatin1(f.read(256)));
                if (!m.hasMatch())
                    continue; // the first save is not there yet
                const int g = m.captured(1).toInt();
                if (g < last)
                    ++regressions;
                last = std::max(last, g);
                ++observed;
            }
        });
        const bool finished = saver.waitForFinished(120000);
        stop = true;
        poller.join();
        for (auto& loader : loaders) {
            loader->kill();
            loader->waitForFinished(10000);
        }
        QVERIFY(finished);
        QCOMPARE(saver.exitCode(), 0);
        QVERIFY(observed > 0);
        QCOMPARE(absent.load(), 0);
        QCOMPARE(regressions.load(), 0);

        OrbConfig store;
        store.SetSDKConfigFile("OrbLauncher.ini");
        QVERIFY(store.LoadAppConfig(folder.toStdString()));
        QCOMPARE(store.GetIntValue(OrbConfig::AppConfig, "Save", "Check"), kGenerations);
        QVERIFY(QString::fromStdString(store.GetStringValue(OrbConfig::AppConfig, "Save", "Value"))
                    .startsWith(QString("a:%1:").arg(kGenerations)));
    }

    void aSaveKilledAtAnyPointLeavesOldOrNewContent_data()
    {
        QTest::addColumn<int>("savers");
        QTest::newRow("one saving process") << 1;
        QTest::newRow("two processes saving the same file") << 2;
    }

    void aSaveKilledAtAnyPointLeavesOldOrNewContent()
    {
        QFETCH(int, savers);
        // Child processes save a large value over and over; we kill them at random
        // moments. Whatever the moment, the file must load with one complete
        // state of one saver, at a generation that saver reached, and newer than
        // what was on disk when the round began (every saver completed a save).
        const QString folder = configDir();
        QDir().mkpath(folder);
        std::mt19937 random(12345);
        std::uniform_int_distribution<int> delayMs(2, 60);
        int before = 0;
        for (int round = 0; round < 40 / savers; ++round) {
            std::vector<std::unique_ptr<QProcess>> running;
            for (int i = 0; i < savers; ++i) {
                running.push_back(std::make_unique<QProcess>());
                running.back()->start(ORB_CONFIG_SAVER, {folder, QString(QChar('a' + i))});
            }
            for (auto& saver : running) {
                QVERIFY(saver->waitForStarted());
                QVERIFY(saver->waitForReadyRead(10000)); // first save done
            }
            QThread::msleep(delayMs(random));
            QMap<QString, int> lastSaved;
            for (int i = 0; i < savers; ++i) {
                ::kill(running[i]->processId(), SIGKILL);
                QVERIFY(running[i]->waitForFinished(10000));
                const QList<QByteArray> lines = running[i]->readAllStandardOutput().trimmed().split('\n');
                lastSaved[QString(QChar('a' + i))] = lines.last().mid(6).toInt();
            }

            OrbConfig store;
            store.SetSDKConfigFile("OrbLauncher.ini");
            QVERIFY(store.LoadAppConfig(folder.toStdString()));
            const QString value = QString::fromStdString(store.GetStringValue(OrbConfig::AppConfig, "Save", "Value"));
            const auto m = QRegularExpression("^([a-z]):(\\d+):(x+)$").match(value);
            QVERIFY2(m.hasMatch(), qPrintable(QString("round %1: %2 bytes").arg(round).arg(value.size())));
            QCOMPARE(m.captured(3).size(), 64 * 1024);
            const QString id = m.captured(1);
            const int generation = m.captured(2).toInt();
            QVERIFY(lastSaved.contains(id));
            // A save in progress may have landed before its saver could report it.
            QVERIFY2(generation <= lastSaved[id] + 1,
                     qPrintable(QString("round %1: %2 on disk, %3 saved").arg(round).arg(generation).arg(lastSaved[id])));
            QVERIFY2(generation > before, qPrintable(QString("round %1: %2 after %3").arg(round).arg(generation).arg(before)));
            // Value and Check are two saves of one process: a kill between them leaves Check one behind.
            const int check = store.GetIntValue(OrbConfig::AppConfig, "Save", "Check");
            QVERIFY2(check == generation || check == generation - 1, qPrintable(QString::number(check)));
            before = check;
            // The backup is one complete earlier state too.
            const QByteArray backup = readAll(folder + "/OrbLauncher.ini.bak");
            const auto saved = QRegularExpression("\nValue=[a-z]:\\d+:(x+)\n").match(QString::fromLatin1(backup));
            QVERIFY(saved.hasMatch());
            QCOMPARE(saved.captured(1).size(), 64 * 1024);
        }
    }
};

QTEST_GUILESS_MAIN(tst_OrbConfig)
#include "tst_orbconfig.moc"
