// The start-up update check: fetch the server's game-settings copy, decide about
// launcher and game updates, copy the server's keys, prepare a game update.
#include "workflow/OrbLauncherManager.h"

#include "core/ComponentRegistry.h"
#include "core/OrbLog.h"
#include "model/IOrbModel.h"
#include "model/OrbModel.h"
#include "services/download/IOrbNetwork.h"
#include "services/installer/IOrbArchieve.h"
#include "workflow/OrbWorkflowRules.h"
#include "workflow/game/OrbInstallManifest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>
#include <QVersionNumber>

#include <string>

using namespace OrbWorkflowRules;

namespace {

constexpr auto kSettings = OrbConfig::GameSettingConfig;

QString localSetting(IOrbModel* model, const char* section, const char* key)
{
    return QString::fromStdString(model->GetStringValue(kSettings, section, key));
}

QString appString(IOrbModel* model, const char* key)
{
    const std::string section = OrbModel::GameSection();
    return QString::fromStdString(model->GetStringValue(OrbConfig::AppConfig, section.c_str(), key));
}

QString serverCopyPath(IOrbModel* model)
{
    return appString(model, "Storage") + QLatin1Char('/') +
           QString::fromStdString(model->GetStringValue(OrbConfig::UserConfig, "Game", "GameSettingsPackage"));
}

void copyKeys(IOrbModel* model, const std::string& serverCopy, const char* section,
              std::initializer_list<const char*> keys)
{
    for (const char* key : keys) {
        const std::string value = model->GetSpecifyConfigValue(serverCopy, section, key);
        model->SetString(kSettings, section, key, value.c_str());
    }
}

// Removes the previous version's package files from the download folder: a resumed
// download must not append the new version to an old prefix. Runs at once, on the GUI
// thread, so it can never meet a download the player starts next.
void removeOldPackages(const QStringList& oldPackages)
{
    bool removed = true;
    for (const QString& package : oldPackages) {
        if (QFileInfo(package).isFile() && !QFile::remove(package))
            removed = false;
    }
    if (!removed)
        ORB_LOG(OrbLogWarning, "Remove DownLoad Path Failed");
}

// Runs on a pool thread before a game update when the server asks for a clean game
// folder: removes what the previous installation wrote, as its record lists it.
void cleanUpGameFolder(bool clearGame, const QString& manifestPath)
{
    if (!clearGame || !GetComponent<IOrbArchieve>("OrbInstaller"))
        return;
    const OrbInstallManifest manifest = OrbInstallManifest::Load(manifestPath);
    if (manifest.isEmpty()) {
        ORB_LOG(OrbLogInfo, "no installation record; nothing of the game folder removed");
        return;
    }
    QStringList failures;
    if (!manifest.removeInstalled(&failures)) {
        ORB_LOG(OrbLogWarning, "Remove InstallDirectory Path Failed");
        ORB_LOG(OrbLogWarning, "left in place: %s", failures.join(QStringLiteral(", ")).toUtf8().constData());
        return;
    }
    QFile::remove(manifestPath);
}

} // namespace

void OrbLauncherManager::onSigUpdateCheckStart()
{
    ORB_LOG(OrbLogInfo, "Update Check Start");
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    IOrbNetwork* backend = GetComponent<IOrbNetwork>("OrbBackend");
    if (!model || !backend)
        return;
    const QString url = localSetting(model, "launcher", "GameSettingsUrl");
    const QString storage = appString(model, "Storage");
    if (!QDir(storage).exists())
        QDir().mkdir(storage);
    const QString name = FileNameOfUrl(url);
    model->SetString(OrbConfig::UserConfig, "Game", "GameSettingsPackage", name.toUtf8().constData());
    const bool started = backend->RequestAsnycGameSettingUrl(url, storage + QLatin1Char('/') + name);
    emit sigUpdateCheckCallback(started);
    if (!started)
        endUpdateCheckOffline(QStringLiteral("the settings download could not be started"));
}

void OrbLauncherManager::onSigGameSettingDownloadFailed(qint32 error)
{
    endUpdateCheckOffline(QStringLiteral("the server's settings could not be fetched (error %1)").arg(error));
}

// Without the server's copy the check ends here: the local settings stay as they
// are, so an installed game can still be played.
void OrbLauncherManager::endUpdateCheckOffline(const QString& reason)
{
    ORB_LOG(OrbLogWarning, "Update check failed, going on with the local settings: %s", reason.toUtf8().constData());
    emit sigUpdateCheckFailed(reason);
    emit sigUpdateCheckFinish(true);
}

void OrbLauncherManager::onSigGameSettingDownloadFinish()
{
    ORB_LOG(OrbLogInfo, "GameSetting Download Finish");
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    if (!model)
        return;
    const std::string serverCopy = serverCopyPath(model).toStdString();
    auto server = [&](const char* section, const char* key) {
        return QString::fromStdString(model->GetSpecifyConfigValue(serverCopy, section, key));
    };

    // Launcher.
    const QString serverLauncher = server("launcher", "Version");
    bool proceed = true;
    if (IsNewerVersion(serverLauncher, localSetting(model, "launcher", "Version"))) {
        proceed = DecimalOrZero(server("launcher", "IsForceUpdate")) == 0;
        if (DecimalOrZero(server("launcher", "IsHintUpdate")) != 0) {
            emit sigHintUpdate(QString::fromUtf8("启动器有新版本") + QVersionNumber::fromString(serverLauncher).toString() +
                               QString::fromUtf8("，        是否马上更新？"));
        }
        copyKeys(model, serverCopy, "launcher",
                 {"LauncherPackageUrl", "GameSettingsUrl", "IsForceUpdate", "IsHintUpdate",
                  "LauncherPackageSha256", "LauncherPackageSize"});
    }
    emit sigUpdateCheckFinish(proceed);
    if (!proceed)
        return;

    // Game.
    const std::string section = OrbModel::GameSection();
    const QString serverGame = server("Basic", "Version");
    if (IsNewerVersion(serverGame, localSetting(model, "Basic", "Version"))) {
        if (model->GetBoolValue(OrbConfig::AppConfig, section.c_str(), "IsInstallGmae"))
            model->SetBool(OrbConfig::AppConfig, section.c_str(), "IsUpdateGmaeHint", true);
        // The previous version's package, named after the URL it came from.
        const QString downloadDir = appString(model, "DownLoadPath");
        QStringList oldPackages;
        const QString recorded = appString(model, "DownLoadGamePackage");
        if (!recorded.isEmpty())
            oldPackages << downloadDir + QLatin1Char('/') + recorded;

        copyKeys(model, serverCopy, "Basic",
                 {"GameName", "GameSize", "GamePackageUrl", "WebPageUrl", "Version", "IsClearGamePath",
                  "IsOpenMoreGames", "GamePackageSha256", "GamePackageSize"});
        model->SetBool(OrbConfig::AppConfig, section.c_str(), "IsDownloadFinish", false);
        model->SetBool(OrbConfig::AppConfig, section.c_str(), "IsInstallGmae", false);

        const QString next = FileNameOfUrl(localSetting(model, "Basic", "GamePackageUrl"));
        if (!next.isEmpty() && next != recorded)
            oldPackages << downloadDir + QLatin1Char('/') + next;
        if (GetComponent<IOrbArchieve>("OrbInstaller")) {
            removeOldPackages(oldPackages);
            const bool clearGame = model->GetBoolValue(kSettings, "Basic", "IsClearGamePath");
            const QString manifestPath = OrbInstallManifest::PathForGame(QString::fromStdString(section));
            QThreadPool::globalInstance()->start([clearGame, manifestPath] { cleanUpGameFolder(clearGame, manifestPath); });
        }
    }
    if (model->GetBoolValue(OrbConfig::AppConfig, section.c_str(), "IsUpdateGmaeHint")) {
        emit sigUpdateGameHint(QString::fromUtf8("新版本") + QVersionNumber::fromString(serverGame).toString() +
                               QString::fromUtf8("已发布，请更新游戏"));
    }
}
