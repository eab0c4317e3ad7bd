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

    void anEmptiedOrMissingFileFallsBackToItsBackup_data()
    {
        QTest::addColumn<bool>("removeMain");
        QTest::newRow("main file empty") << false;
        QTest::newRow("main file missing") << true;
    }

    void anEmptiedOrMissingFileFallsBackToItsBackup()
    {
        QFETCH(bool, removeMain);
        {
            auto store = makeStore();
            QVERIFY(store->Init());
            store->SetString(OrbConfig::AppConfig, "valdane", "InstallDirectory", "/games");
            store->SetString(OrbConfig::AppConfig, "valdane", "IsInstallGmae", "1");
        }
        const QString main = configDir() + "/OrbLauncher.ini";
        QVERIFY(QFile::exists(main + ".bak"));
        if (removeMain)
            QVERIFY(QFile::remove(main));
        else
            writeFile(main, "");

        auto store = makeStore();
        QVERIFY(store->Init());
        // The backup holds the state before the last save.
        QCOMPARE(store->GetStringValue(OrbConfig::AppConfig, "valdane", "InstallDirectory"), std::string("/games"));
        QVERIFY(readAll(main).contains("InstallDirectory=/games"));
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
        // A child process saves a large value over and over; we kill it at random
        // moments. Whatever the moment, the file must load with one complete value.
        const QString folder = configDir();
        QDir().mkpath(folder);
        std::mt19937 random(12345);
        std::uniform_int_distribution<int> delayMs(2, 60);
        int sawNewer = 0;
        for (int round = 0; round < 40 / savers; ++round) {
            std::vector<std::unique_ptr<QProcess>> running;
            for (int i = 0; i < savers; ++i) {
                running.push_back(std::make_unique<QProcess>());
                running.back()->start(ORB_CONFIG_SAVER, {folder});
            }
            for (auto& saver : running) {
                QVERIFY(saver->waitForStarted());
                QVERIFY(saver->waitForReadyRead(10000)); // first save done
            }
            QThread::msleep(delayMs(random));
            for (auto& saver : running) {
                ::kill(saver->processId(), SIGKILL);
                QVERIFY(saver->waitForFinished(10000));
            }

            OrbConfig store;
            store.SetSDKConfigFile("OrbLauncher.ini");
            QVERIFY(store.LoadAppConfig(folder.toStdString()));
            const QString value = QString::fromStdString(store.GetStringValue(OrbConfig::AppConfig, "Save", "Value"));
            const auto m = QRegularExpression("^(\\d+):(x+)$").match(value);
            QVERIFY2(m.hasMatch(), qPrintable(QString("round %1: %2 bytes").arg(round).arg(value.size())));
            QCOMPARE(m.captured(2).size(), 64 * 1024);
            // Value and Check are two saves: a kill between them leaves Check one behind.
            const int check = store.GetIntValue(OrbConfig::AppConfig, "Save", "Check");
            const int generation = m.captured(1).toInt();
            if (savers == 1)
                QVERIFY2(check == generation || check == generation - 1, qPrintable(QString::number(check)));
            sawNewer += m.captured(1).toInt() > 0;
        }
        QVERIFY(sawNewer > 0);
    }
};

QTEST_GUILESS_MAIN(tst_OrbConfig)
#include "tst_orbconfig.moc"
