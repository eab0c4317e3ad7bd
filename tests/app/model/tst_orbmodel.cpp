#include "model/OrbModel.h"

#include <QtTest>

#include <stdexcept>
#include "OrbTestFiles.h"


using orbtest::readAll;
using orbtest::writeFile;
namespace {



QString initError(OrbModel& model)
{
    try {
        model.Init();
    } catch (const std::runtime_error& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

} // namespace

class tst_OrbModel : public QObject {
    Q_OBJECT

    QString settingsDir() const { return QCoreApplication::applicationDirPath() + "/config"; }
    QString settingsFile() const { return settingsDir() + "/game_settings.ini"; }
    QString appFile() const { return qEnvironmentVariable("XDG_CONFIG_HOME") + "/OrbLauncher/config/OrbLauncher.ini"; }

    void shipSettings(const QByteArray& content)
    {
        QDir().mkpath(settingsDir());
        writeFile(settingsFile(), content);
    }

    std::string app(OrbModel& model, const char* key)
    {
        return model.GetStringValue(OrbConfig::AppConfig, "valdane", key);
    }

private slots:
    void init()
    {
        QDir(qEnvironmentVariable("XDG_CONFIG_HOME") + "/OrbLauncher").removeRecursively();
        QFile::remove(settingsDir()); // a blocking file left by a test
        QDir(settingsDir()).removeRecursively();
    }

    void firstStartWritesTheDefaults()
    {
        shipSettings("[Basic]\nGameName=valdane\n");
        OrbModel model;
        model.Init();
        const QString program = QCoreApplication::applicationDirPath();
        QCOMPARE(OrbModel::GameSection(), std::string("valdane"));
        QCOMPARE(app(model, "Version"), std::string("v1.0.2"));
        QCOMPARE(app(model, "Language"), std::string("zh-CN"));
        QCOMPARE(QString::fromStdString(app(model, "DownLoadPath")), program + "/Orbdownload");
        QCOMPARE(QString::fromStdString(app(model, "InstallDirectory")),
                 QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
        for (const char* flag : {"IsDownloadStart", "IsDownloadFinish", "IsInstallGmae"}) {
            QCOMPARE(app(model, flag), std::string("false"));
            QCOMPARE(model.GetBoolValue(OrbConfig::AppConfig, "valdane", flag), false);
        }
        QVERIFY(!model.GetConfigHasKey(OrbConfig::AppConfig, "valdane", "IsUpdateGmaeHint"));
        QCOMPARE(QString::fromStdString(app(model, "Storage")), program + "/storage");
        QCOMPARE(QString::fromStdString(app(model, "Backup")), program + "/backup");
        QVERIFY(readAll(appFile()).contains("[valdane]"));
    }

    void aLaterStartKeepsUserValuesButRenewsTheProgramFolders()
    {
        shipSettings("[Basic]\nGameName=valdane\n");
        {
            OrbModel model;
            model.Init();
            model.SetString(OrbConfig::AppConfig, "valdane", "InstallDirectory", "/games");
            model.SetBool(OrbConfig::AppConfig, "valdane", "IsInstallGmae", true);
            model.SetString(OrbConfig::AppConfig, "valdane", "Storage", "/moved/storage");
            model.Uninit();
        }
        OrbModel model;
        model.Init();
        QCOMPARE(app(model, "InstallDirectory"), std::string("/games"));
        QCOMPARE(app(model, "IsInstallGmae"), std::string("1"));
        QCOMPARE(QString::fromStdString(app(model, "Storage")), QCoreApplication::applicationDirPath() + "/storage");
    }

    void typedAccessThroughTheModel()
    {
        shipSettings("[Basic]\nGameName=valdane\n");
        OrbModel model;
        model.Init();
        model.SetBool(OrbConfig::AppConfig, "valdane", "IsDownloadFinish", true);
        QCOMPARE(app(model, "IsDownloadFinish"), std::string("1"));
        QVERIFY(model.GetBoolValue(OrbConfig::AppConfig, "valdane", "IsDownloadFinish"));
        model.SetBool(OrbConfig::AppConfig, "valdane", "IsDownloadFinish", false);
        QCOMPARE(app(model, "IsDownloadFinish"), std::string("0"));
        QCOMPARE(model.GetIntValue(OrbConfig::AppConfig, "valdane", "Absent"), -1);
        model.SetInt(OrbConfig::UserConfig, "Game", "N", 3);
        QCOMPARE(model.GetIntValue(OrbConfig::UserConfig, "Game", "N"), 3);
        model.SetString(OrbConfig::UserConfig, "Game", "GameSettingsPackage", "game_settings.ini");
        QVERIFY(readAll(qEnvironmentVariable("XDG_CONFIG_HOME") + "/OrbLauncher/config/User.ini")
                    .contains("GameSettingsPackage=game_settings.ini"));
        QCOMPARE(model.GetSpecifyConfigValue(settingsFile().toStdString(), "Basic", "GameName"), std::string("valdane"));
    }

    void startupErrors_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("error");
        QTest::newRow("no game name") << "nameless" << "game name is empty";
        QTest::newRow("no settings file") << "missing" << "game name is empty";
        QTest::newRow("settings file cannot be created") << "blocked" << "Config File does not exist";
    }

    void startupErrors()
    {
        QFETCH(QString, setup);
        QFETCH(QString, error);
        if (setup == "nameless")
            shipSettings("[Basic]\nGameNickName=Valdane\n");
        if (setup == "blocked")
            writeFile(settingsDir(), "not a folder");
        OrbModel model;
        QCOMPARE(initError(model), error);
        if (setup != "blocked") {
            const QByteArray ini = readAll(settingsFile());
            QVERIFY(ini.contains("GameName=\n"));
            QVERIFY(ini.contains("IsForceUpdate=\n"));
        }
    }
};

QTEST_GUILESS_MAIN(tst_OrbModel)
#include "tst_orbmodel.moc"
