#include "workflow/update/OrbUpdateCheck.h"

#include "core/ComponentRegistry.h"
#include "core/OrbLog.h"
#include "model/IOrbModel.h"
#include "model/OrbModel.h"
#include "services/download/IOrbNetwork.h"
#include "services/installer/IOrbArchieve.h"
#include "workflow/OrbWorkflowModel.h"
#include "workflow/OrbWorkflowRules.h"
#include "workflow/game/OrbGameDelivery.h"
#include "workflow/game/OrbInstallManifest.h"
#include "workflow/update/OrbLauncherIdentity.h"
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

// At most `cap` + 1 bytes: one more than allowed tells an oversized file.
QByteArray readBounded(const QString& path, qint64 cap)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(cap + 1);
}

// The serials of one publisher key for one game, so that one game's serials
// never hold back another's.
QString serialKey(const QString& game)
{
    QString safe = game;
    for (QChar& c : safe)
        if (!(c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_')))
            c = QLatin1Char('_');
    return OrbPublisherKey::Fingerprint() + QLatin1Char('_') + safe;
}

} // namespace

OrbUpdateCheck::OrbUpdateCheck(QObject* parent) : QObject(parent)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        if (m_stage == Stage::Signature || m_stage == Stage::Settings)
            endOffline(QStringLiteral("the server did not deliver its settings within %1 s").arg(m_deadlineMs / 1000));
    });
}

void OrbUpdateCheck::request()
{
    // One check at a time: a second request while one runs is answered by its end.
    if (m_stage != Stage::Idle)
        return;
    m_stage = Stage::Queued;
    QMetaObject::invokeMethod(this, &OrbUpdateCheck::start, Qt::QueuedConnection);
}

void OrbUpdateCheck::start()
{
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    IOrbNetwork* backend = GetComponent<IOrbNetwork>("OrbBackend");
    if (!model || !backend) {
        m_stage = Stage::Idle;
        return;
    }
    const QString url = Setting(model, "launcher", "GameSettingsUrl");
    const QString storage = AppString(model, OrbKey::Storage);
    if (!QDir(storage).exists())
        QDir().mkdir(storage);
    const QString name = FileNameOfUrl(url);
    SetUserString(model, OrbKey::UserGame, OrbKey::GameSettingsPackage, name);
    if (name.isEmpty()) {
        emit started(false);
        endOffline(QStringLiteral("the settings address names no file: %1").arg(url));
        return;
    }
    const OrbPublisherKey::State key = OrbPublisherKey::Current();
    if (key == OrbPublisherKey::State::Broken) {
        emit started(false);
        endOffline(QStringLiteral("the publisher key %1 cannot be read or is no Ed25519 key; nothing from the server is accepted")
                       .arg(OrbPublisherKey::Source()));
        return;
    }
    const QString path = storage + QLatin1Char('/') + name;
    // Copies of an earlier check must never stand in for this one's.
    QFile::remove(path);
    QFile::remove(path + QLatin1String(kSignatureSuffix));

    bool ok = false;
    const int seconds = AppString(model, OrbKey::UpdateCheckDeadline).trimmed().toInt(&ok);
    m_deadlineMs = qint64(ok && seconds > 0 ? seconds : kDefaultDeadlineSeconds) * 1000;
    m_clock.start();
    m_deadline.start(int(m_deadlineMs));

    m_url = url;
    m_path = path;
    bool fetching = false;
    if (key == OrbPublisherKey::State::Unsigned) {
        if (!m_unsignedNoted) {
            m_unsignedNoted = true;
            ORB_LOG(OrbLogWarning, "No publisher key is configured: the server's settings are used without a signature check");
        }
        m_stage = Stage::Settings;
        fetching = fetch(url, path, kSettingsCap);
    } else {
        // The signature first, then the file it signs.
        m_stage = Stage::Signature;
        fetching = fetch(url + QLatin1String(kSignatureSuffix), path + QLatin1String(kSignatureSuffix), kSignatureCap);
    }
    emit started(fetching);
    if (!fetching)
        endOffline(QStringLiteral("the settings download could not be started"));
}

// Every fetch of the check is bounded in size and by what is left of the
// check's deadline, so a slow or endless answer cannot hold the check or the disk.
bool OrbUpdateCheck::fetch(const QString& url, const QString& path, qint64 cap)
{
    IOrbNetwork* backend = GetComponent<IOrbNetwork>("OrbBackend");
    if (!backend)
        return false;
    OrbPackageCheck limits;
    limits.maxSize = cap;
    limits.deadlineMs = qMax<qint64>(1, m_deadlineMs - m_clock.elapsed());
    return backend->RequestAsnycGameSettingUrl(url, path, limits);
}

void OrbUpdateCheck::onFetchFailed(qint32 error)
{
    if (m_stage == Stage::Signature) {
        endOffline(QStringLiteral("the signature of the server's settings could not be fetched (error %1)").arg(error));
    } else if (m_stage == Stage::Settings) {
        endOffline(QStringLiteral("the server's settings could not be fetched (error %1)").arg(error));
    } else {
        ORB_LOG(OrbLogInfo, "a settings fetch ended after its check (error %d)", int(error));
    }
}

// The only failure end of a check: the local settings stay as they are.
void OrbUpdateCheck::endOffline(const QString& reason)
{
    m_stage = Stage::Idle;
    m_deadline.stop();
    ORB_LOG(OrbLogWarning, "Update check failed, going on with the local settings: %s", reason.toUtf8().constData());
    emit failed(reason);
    emit finished(true);
}

void OrbUpdateCheck::onFetched()
{
    if (m_stage == Stage::Signature) {
        m_stage = Stage::Settings;
        if (!fetch(m_url, m_path, kSettingsCap))
            endOffline(QStringLiteral("the settings download could not be started"));
        return;
    }
    if (m_stage != Stage::Settings) {
        ORB_LOG(OrbLogInfo, "a settings fetch finished after its check had ended; ignored");
        return;
    }
    m_stage = Stage::Idle;
    m_deadline.stop();
    ORB_LOG(OrbLogInfo, "GameSetting Download Finish");
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    if (!model)
        return;
    QString refused;
    if (!verify(model, &refused)) {
        ORB_LOG(OrbLogError, "Server settings refused: %s", refused.toUtf8().constData());
        endOffline(QStringLiteral("the server's settings were refused: %1").arg(refused));
        return;
    }
    evaluate(model);
}

// The downloaded copy is only used once the publisher's signature over its exact
// bytes verifies, it names this launcher's game and channel, its serial is not
// below the highest accepted one for this key and game, and it has not expired.
// Nothing of a refused copy is read, and the copy is removed.
bool OrbUpdateCheck::verify(IOrbModel* model, QString* reason)
{
    const QByteArray settingsBytes = readBounded(m_path, kSettingsCap);
    auto refuse = [&](const QString& why) {
        *reason = why;
        QFile::remove(m_path);
        QFile::remove(m_path + QLatin1String(kSignatureSuffix));
        return false;
    };
    if (settingsBytes.size() > kSettingsCap)
        return refuse(QStringLiteral("the settings file is larger than %1 bytes").arg(kSettingsCap));
    const QString pem = OrbPublisherKey::Pem();
    if (pem.isEmpty())
        return true;
    const QByteArray signatureText = readBounded(m_path + QLatin1String(kSignatureSuffix), kSignatureCap);
    const OrbLauncherIdentity identity = OrbLauncherIdentity::Establish(model);
    const QString serials = serialKey(identity.game);
    bool known = false;
    const qint64 highest =
        UserString(model, OrbKey::UserSerials, serials.toUtf8().constData()).toLongLong(&known);
    // The identity is read from the file only once its signature verifies: a file
    // the same key signed for another game or channel must not take this one over.
    const auto check = OrbSignedSettings::Verify(pem.toStdString(), settingsBytes.toStdString(),
                                                 signatureText.toStdString(), known ? highest : 0,
                                                 QDateTime::currentSecsSinceEpoch(), identity.game.toStdString(),
                                                 identity.channel.toStdString());
    if (check.status != OrbSignedSettings::Status::Valid)
        return refuse(QString::fromLatin1(OrbSignedSettings::Describe(check.status)));
    if (!known || check.serial > highest)
        SetUserString(model, OrbKey::UserSerials, serials.toUtf8().constData(), QString::number(check.serial));
    ORB_LOG(OrbLogInfo, "Server settings verified: serial %lld, expires %s", static_cast<long long>(check.serial),
            OrbSignedSettings::FormatTime(check.expires).c_str());
    return true;
}

void OrbUpdateCheck::evaluate(IOrbModel* model)
{
    const std::string serverCopy = ServerCopyPath(model).toStdString();
    auto server = [&](const char* section, const char* key) {
        return QString::fromStdString(model->GetSpecifyConfigValue(serverCopy, section, key));
    };

    // Launcher.
    const QString serverLauncher = server("launcher", "Version");
    const QString localLauncher = Setting(model, "launcher", "Version");
    bool proceed = true;
    if (IsNewerVersion(serverLauncher, localLauncher)) {
        proceed = DecimalOrZero(server("launcher", "IsForceUpdate")) == 0;
        if (DecimalOrZero(server("launcher", "IsHintUpdate")) != 0) {
            emit launcherHint(QString::fromUtf8("启动器有新版本") + QVersionNumber::fromString(serverLauncher).toString() +
                              QString::fromUtf8("，        是否马上更新？"));
        }
        copyKeys(model, serverCopy, "launcher",
                 {"LauncherPackageUrl", "GameSettingsUrl", "IsForceUpdate", "IsHintUpdate",
                  "LauncherPackageSha256", "LauncherPackageSize"});
    }
    emit finished(proceed);
    if (!proceed)
        return;

    // Game.
    const QString serverGame = server("Basic", "Version");
    const QString localGame = Setting(model, "Basic", "Version");
    if (IsNewerVersion(serverGame, localGame)) {
        if (AppBool(model, OrbKey::IsInstallGmae))
            SetAppBool(model, OrbKey::IsUpdateGmaeHint, true);
        // The previous version's package, named after the URL it came from.
        const QString downloadDir = AppString(model, OrbKey::DownLoadPath);
        QStringList oldPackages;
        const QString recorded = AppString(model, OrbKey::DownLoadGamePackage);
        if (!recorded.isEmpty())
            oldPackages << downloadDir + QLatin1Char('/') + recorded;

        copyKeys(model, serverCopy, "Basic",
                 {"GameName", "GameSize", "GamePackageUrl", "WebPageUrl", "Version", "IsClearGamePath",
                  "IsOpenMoreGames", "GamePackageSha256", "GamePackageSize", "GameManifestUrl",
                  "GameManifestSha256"});
        SetAppBool(model, OrbKey::IsDownloadFinish, false);
        SetAppBool(model, OrbKey::IsInstallGmae, false);

        const QString next = FileNameOfUrl(Setting(model, "Basic", "GamePackageUrl"));
        if (!next.isEmpty() && next != recorded)
            oldPackages << downloadDir + QLatin1Char('/') + next;
        // A game delivered from the manifest is updated in place by the next run,
        // which removes what the new version drops: nothing to clear here.
        if (GetComponent<IOrbArchieve>("OrbInstaller") && !OrbGameDelivery::Available(model)) {
            removeOldPackages(oldPackages);
            const bool clearGame = model->GetBoolValue(kSettings, "Basic", "IsClearGamePath");
            const QString manifestPath = OrbInstallManifest::PathForGame(QString::fromStdString(OrbModel::GameSection()));
            QThreadPool::globalInstance()->start([clearGame, manifestPath] { cleanUpGameFolder(clearGame, manifestPath); });
        }
    } else if (!serverGame.isEmpty() &&
               QVersionNumber::compare(QVersionNumber::fromString(serverGame), QVersionNumber::fromString(localGame)) == 0) {
        // The same version: the settings it shipped with may not declare what its
        // package must be, and a signed server copy does. Without this a signed
        // launcher would refuse the first download of the shipped version forever.
        if (!server("Basic", "GamePackageSha256").trimmed().isEmpty())
            copyKeys(model, serverCopy, "Basic", {"GamePackageSha256", "GamePackageSize"});
        if (!server("Basic", "GameManifestUrl").trimmed().isEmpty())
            copyKeys(model, serverCopy, "Basic", {"GameManifestUrl", "GameManifestSha256"});
    }
    if (AppBool(model, OrbKey::IsUpdateGmaeHint)) {
        emit gameHint(QString::fromUtf8("新版本") + QVersionNumber::fromString(serverGame).toString() +
                      QString::fromUtf8("已发布，请更新游戏"));
    }
}
