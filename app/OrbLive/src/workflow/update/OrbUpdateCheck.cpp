// The start-up update check: fetch the server's game-settings copy, decide about
// launcher and game updates, copy the server's keys, prepare a game update.
#include "workflow/OrbLauncherManager.h"

#include "core/ComponentRegistry.h"
#include "core/OrbLog.h"
#include "model/IOrbModel.h"
#include "model/OrbModel.h"
#include "services/download/IOrbNetwork.h"
#include "services/installer/IOrbArchieve.h"
#include "workflow/OrbWorkflowModel.h"
#include "workflow/OrbWorkflowRules.h"
#include "workflow/game/OrbInstallManifest.h"
#include "workflow/update/OrbPublisherKey.h"

#include "OrbSignedSettings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>
#include <QVersionNumber>

#include <string>

using namespace OrbWorkflowRules;
using namespace OrbWorkflowModel;

namespace {

constexpr auto kSettings = OrbConfig::GameSettingConfig;

QString serverCopyPath(IOrbModel* model)
{
    return AppString(model, "Storage") + QLatin1Char('/') +
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
    const QString url = Setting(model, "launcher", "GameSettingsUrl");
    const QString storage = AppString(model, "Storage");
    if (!QDir(storage).exists())
        QDir().mkdir(storage);
    const QString name = FileNameOfUrl(url);
    model->SetString(OrbConfig::UserConfig, "Game", "GameSettingsPackage", name.toUtf8().constData());
    const QString path = storage + QLatin1Char('/') + name;
    // Copies of an earlier check must never stand in for this one's.
    QFile::remove(path);
    QFile::remove(path + QLatin1String(kSignatureSuffix));

    m_settingsUrl = url;
    m_settingsPath = path;
    bool started = false;
    if (OrbPublisherKey::Pem().isEmpty()) {
        if (!m_unsignedNoted) {
            m_unsignedNoted = true;
            ORB_LOG(OrbLogWarning, "No publisher key is configured: the server's settings are used without a signature check");
        }
        m_settingsFetch = SettingsFetch::Settings;
        started = backend->RequestAsnycGameSettingUrl(url, path);
    } else {
        // The signature first, then the file it signs.
        m_settingsFetch = SettingsFetch::Signature;
        started = backend->RequestAsnycGameSettingUrl(url + QLatin1String(kSignatureSuffix),
                                                      path + QLatin1String(kSignatureSuffix));
    }
    emit sigUpdateCheckCallback(started);
    if (!started)
        endUpdateCheckOffline(QStringLiteral("the settings download could not be started"));
}

// The downloaded copy is only used once the publisher's signature over its exact
// bytes verifies, its serial is not below the highest accepted one, and it has
// not expired. Nothing of a refused copy is read, and the copy is removed.
bool OrbLauncherManager::verifySettingsCopy(IOrbModel* model, QString* reason)
{
    const QString pem = OrbPublisherKey::Pem();
    if (pem.isEmpty())
        return true;
    QFile settings(m_settingsPath), signature(m_settingsPath + QLatin1String(kSignatureSuffix));
    std::string settingsBytes, signatureText;
    if (settings.open(QIODevice::ReadOnly))
        settingsBytes = settings.readAll().toStdString();
    if (signature.open(QIODevice::ReadOnly))
        signatureText = signature.read(4096).toStdString();
    settings.close();
    signature.close();
    bool known = false;
    const qint64 highest =
        QByteArray::fromStdString(model->GetStringValue(OrbConfig::UserConfig, "Game", "SettingsSerial")).toLongLong(&known);
    const auto check = OrbSignedSettings::Verify(pem.toStdString(), settingsBytes, signatureText, known ? highest : 0,
                                                 QDateTime::currentSecsSinceEpoch());
    if (check.status != OrbSignedSettings::Status::Valid) {
        *reason = QString::fromLatin1(OrbSignedSettings::Describe(check.status));
        QFile::remove(m_settingsPath);
        QFile::remove(m_settingsPath + QLatin1String(kSignatureSuffix));
        return false;
    }
    if (!known || check.serial > highest)
        model->SetString(OrbConfig::UserConfig, "Game", "SettingsSerial", std::to_string(check.serial).c_str());
    ORB_LOG(OrbLogInfo, "Server settings verified: serial %lld, expires %s", static_cast<long long>(check.serial),
            OrbSignedSettings::FormatTime(check.expires).c_str());
    return true;
}

void OrbLauncherManager::onSigGameSettingDownloadFailed(qint32 error)
{
    const bool signature = m_settingsFetch == SettingsFetch::Signature;
    m_settingsFetch = SettingsFetch::Idle;
    if (signature) {
        endUpdateCheckOffline(QStringLiteral("the signature of the server's settings could not be fetched (error %1)").arg(error));
        return;
    }
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
    if (m_settingsFetch == SettingsFetch::Signature) {
        m_settingsFetch = SettingsFetch::Settings;
        IOrbNetwork* backend = GetComponent<IOrbNetwork>("OrbBackend");
        if (!backend || !backend->RequestAsnycGameSettingUrl(m_settingsUrl, m_settingsPath)) {
            m_settingsFetch = SettingsFetch::Idle;
            endUpdateCheckOffline(QStringLiteral("the settings download could not be started"));
        }
        return;
    }
    m_settingsFetch = SettingsFetch::Idle;
    ORB_LOG(OrbLogInfo, "GameSetting Download Finish");
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    if (!model)
        return;
    QString refused;
    if (!verifySettingsCopy(model, &refused)) {
        ORB_LOG(OrbLogError, "Server settings refused: %s", refused.toUtf8().constData());
        endUpdateCheckOffline(QStringLiteral("the server's settings were refused: %1").arg(refused));
        return;
    }
    const std::string serverCopy = serverCopyPath(model).toStdString();
    auto server = [&](const char* section, const char* key) {
        return QString::fromStdString(model->GetSpecifyConfigValue(serverCopy, section, key));
    };

    // Launcher.
    const QString serverLauncher = server("launcher", "Version");
    bool proceed = true;
    if (IsNewerVersion(serverLauncher, Setting(model, "launcher", "Version"))) {
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
    const QString serverGame = server("Basic", "Version");
    if (IsNewerVersion(serverGame, Setting(model, "Basic", "Version"))) {
        if (AppBool(model, "IsInstallGmae"))
            SetAppBool(model, "IsUpdateGmaeHint", true);
        // The previous version's package, named after the URL it came from.
        const QString downloadDir = AppString(model, "DownLoadPath");
        QStringList oldPackages;
        const QString recorded = AppString(model, "DownLoadGamePackage");
        if (!recorded.isEmpty())
            oldPackages << downloadDir + QLatin1Char('/') + recorded;

        copyKeys(model, serverCopy, "Basic",
                 {"GameName", "GameSize", "GamePackageUrl", "WebPageUrl", "Version", "IsClearGamePath",
                  "IsOpenMoreGames", "GamePackageSha256", "GamePackageSize"});
        SetAppBool(model, "IsDownloadFinish", false);
        SetAppBool(model, "IsInstallGmae", false);

        const QString next = FileNameOfUrl(Setting(model, "Basic", "GamePackageUrl"));
        if (!next.isEmpty() && next != recorded)
            oldPackages << downloadDir + QLatin1Char('/') + next;
        if (GetComponent<IOrbArchieve>("OrbInstaller")) {
            removeOldPackages(oldPackages);
            const bool clearGame = model->GetBoolValue(kSettings, "Basic", "IsClearGamePath");
            const QString manifestPath = OrbInstallManifest::PathForGame(QString::fromStdString(OrbModel::GameSection()));
            QThreadPool::globalInstance()->start([clearGame, manifestPath] { cleanUpGameFolder(clearGame, manifestPath); });
        }
    }
    if (AppBool(model, "IsUpdateGmaeHint")) {
        emit sigUpdateGameHint(QString::fromUtf8("新版本") + QVersionNumber::fromString(serverGame).toString() +
                               QString::fromUtf8("已发布，请更新游戏"));
    }
}
