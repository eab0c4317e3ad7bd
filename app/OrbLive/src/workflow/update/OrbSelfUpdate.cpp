#include "workflow/update/OrbSelfUpdate.h"

#include "core/ComponentRegistry.h"
#include "core/OrbLog.h"
#include "model/IOrbModel.h"
#include "services/download/IOrbNetwork.h"
#include "services/installer/IOrbArchieve.h"
#include "workflow/OrbPackageFile.h"
#include "workflow/OrbWorkflowModel.h"
#include "workflow/OrbWorkflowRules.h"
#include "workflow/update/OrbPublisherKey.h"

#include "OrbNetDefine.h"
#include "OrbPackageManifest.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

using namespace OrbWorkflowRules;
using namespace OrbWorkflowModel;

OrbSelfUpdate::OrbSelfUpdate(QObject* parent) : QObject(parent) {}

QString OrbSelfUpdate::packagePath(IOrbModel* model) const
{
    return AppString(model, OrbKey::Storage) + QLatin1Char('/') +
           UserString(model, OrbKey::UserGame, OrbKey::LauncherPackage);
}

void OrbSelfUpdate::start()
{
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    IOrbNetwork* backend = GetComponent<IOrbNetwork>("OrbBackend");
    if (!model || !backend)
        return;
    if (m_stage == Stage::Downloading || m_stage == Stage::Unpacking || m_stage == Stage::Staging)
        return;
    // Whatever Backup held before belongs to an earlier attempt.
    m_stage = Stage::Idle;
    const QString url = Setting(model, "launcher", "LauncherPackageUrl");
    const QString name = FileNameOfUrl(url);
    SetUserString(model, OrbKey::UserGame, OrbKey::LauncherPackage, name);
    if (name.isEmpty()) {
        emit started(false);
        fail(QStringLiteral("the launcher package address names no file: %1").arg(url), false);
        return;
    }
    const OrbPackageCheck check = DeclaredPackage(model, "launcher", "LauncherPackage");
    if (OrbPublisherKey::Signed() && (check.sha256.isEmpty() || check.size < 0)) {
        emit started(false);
        fail(QStringLiteral("the signed settings declare no SHA-256 and size for the launcher package"), false);
        return;
    }
    const bool ok = backend->RequestAsnycLauncherUpdateUrl(url, packagePath(model), check);
    if (ok)
        m_stage = Stage::Downloading;
    emit started(ok);
    if (!ok)
        fail(QStringLiteral("the launcher package download could not be started"), false);
}

void OrbSelfUpdate::onDownloadFailed(qint32 error)
{
    if (m_stage != Stage::Downloading)
        return;
    if (error == NetVerifyFailed || error == NetTooLarge) {
        fail(QStringLiteral("the launcher package does not match its declared size or SHA-256 (error %1)").arg(error), false);
        return;
    }
    fail(QStringLiteral("the launcher package could not be downloaded (error %1)").arg(error), false);
}

// Download failures reach the scene as a failed check, unpacking failures as a
// failed installation; both offer the launcher update again.
void OrbSelfUpdate::fail(const QString& reason, bool unpacking)
{
    m_stage = Stage::Idle;
    ORB_LOG(OrbLogError, "Launcher update failed: %s", reason.toUtf8().constData());
    if (unpacking)
        emit installFailed(reason);
    else
        emit downloadFailed(reason);
}

bool OrbSelfUpdate::unpackInto(IOrbModel* model, const QString& package)
{
    IOrbArchieve* installer = GetComponent<IOrbArchieve>("OrbInstaller");
    if (!installer)
        return false;
    const QString backup = AppString(model, OrbKey::Backup);
    if (!QDir(backup).exists()) {
        QDir().mkdir(backup);
    } else if (!installer->removeDirContents(backup)) {
        // Left-overs of an earlier package must not be mixed into this one.
        fail(QStringLiteral("the backup folder could not be emptied"), true);
        return false;
    }
    installer->extractDir(package, backup, IOrbArchieve::extractLauncher);
    return true;
}

void OrbSelfUpdate::onDownloaded()
{
    if (m_stage != Stage::Downloading)
        return;
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    if (!model || !GetComponent<IOrbArchieve>("OrbInstaller"))
        return;
    m_stage = Stage::Unpacking;
    unpackInto(model, packagePath(model));
}

void OrbSelfUpdate::onExtracted(const OrbExtractReport& report)
{
    if (m_stage != Stage::Unpacking && m_stage != Stage::Staging)
        return;
    const bool staging = m_stage == Stage::Staging;
    // A launcher is handed over only whole: a skipped entry is a missing file.
    if (report.outcome != OrbExtractReport::Complete) {
        fail(QStringLiteral("the launcher package could not be unpacked: %1")
                 .arg(report.error.isEmpty() ? QStringLiteral("entries were left out") : report.error),
             true);
        return;
    }
    if (!QFileInfo(QDir(report.destDir).filePath(LauncherProgramName())).isFile()) {
        fail(QStringLiteral("the launcher package holds no %1").arg(LauncherProgramName()), true);
        return;
    }
    if (!staging) {
        m_stage = Stage::Ready;
        emit ready();
        return;
    }
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    if (!model)
        return;
    // The updater installs only what this seal lists: the files as they came out
    // of the package that was checked just now.
    QString sealError;
    if (!OrbPackageManifest::Write(report.destDir, &sealError)) {
        fail(QStringLiteral("the unpacked launcher could not be sealed: %1").arg(sealError), true);
        return;
    }
    handOver(model, report.destDir);
}

void OrbSelfUpdate::install()
{
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    if (!model)
        return;
    if (m_stage != Stage::Ready) {
        ORB_LOG(OrbLogError, "No completely unpacked launcher package; the updater is not started");
        if (m_stage != Stage::Staging)
            emit downloadFailed(QStringLiteral("no launcher package is ready to install"));
        return;
    }
    // The package may have changed on disk since it was downloaded.
    const QString package = packagePath(model);
    const OrbPackageCheck declared = DeclaredPackage(model, "launcher", "LauncherPackage");
    QString mismatch;
    if (!OrbPackageFile::Matches(package, declared.sha256, declared.size, &mismatch)) {
        QFile::remove(package);
        fail(QStringLiteral("the launcher package changed after its download: %1").arg(mismatch), true);
        return;
    }
    m_stage = Stage::Staging;
    unpackInto(model, package);
}

void OrbSelfUpdate::handOver(IOrbModel* model, const QString& backupDir)
{
    const QString programDir = QCoreApplication::applicationDirPath();
    const QString updater = QDir::toNativeSeparators(programDir + QLatin1Char('/') + UpdaterProgramName());
    const QString backup = QDir::toNativeSeparators(backupDir);
    const QString target = QDir::toNativeSeparators(programDir + QLatin1Char('/'));
    if (updater.isEmpty() || backup.isEmpty()) {
        ORB_LOG(OrbLogError, "Updater path or update package path is empty");
        fail(QStringLiteral("the updater or the unpacked launcher is missing"), true);
        return;
    }
    // What the next start compares itself with to know the update went through.
    const std::string serverVersion = model->GetSpecifyConfigValue(ServerCopyPath(model).toStdString(), "launcher", "Version");
    const QByteArray newLauncher = OrbPackageManifest::HashFile(QDir(backupDir).filePath(LauncherProgramName()));
    if (IOrbArchieve* installer = GetComponent<IOrbArchieve>("OrbInstaller"))
        installer->removeDirContents(AppString(model, OrbKey::Storage));
    if (!QProcess::startDetached(updater, {backup, target, LauncherProgramName()}, QString())) {
        ORB_LOG(OrbLogError, "Failed to start update process");
        fail(QStringLiteral("the updater could not be started"), true);
        return;
    }
    m_stage = Stage::HandedOver;
    SetUserString(model, OrbKey::UserGame, OrbKey::PendingLauncherVersion, QString::fromStdString(serverVersion).trimmed());
    SetUserString(model, OrbKey::UserGame, OrbKey::PendingLauncherSha256, QString::fromLatin1(newLauncher));
    ORB_LOG(OrbLogInfo, "Update process started successfully");
    QCoreApplication::quit();
}

void OrbSelfUpdate::ConfirmPendingUpdate(IOrbModel* model, const QString& runningProgram)
{
    const QString version = UserString(model, OrbKey::UserGame, OrbKey::PendingLauncherVersion).trimmed();
    const QString expected = UserString(model, OrbKey::UserGame, OrbKey::PendingLauncherSha256).trimmed();
    if (version.isEmpty() && expected.isEmpty())
        return;
    const QByteArray running = OrbPackageManifest::HashFile(
        runningProgram.isEmpty() ? QCoreApplication::applicationFilePath() : runningProgram);
    if (!expected.isEmpty() && QString::fromLatin1(running) == expected) {
        SetSetting(model, "launcher", "Version", version);
        // The version label shows the application file's Version in that file's form ("v1.0.3").
        if (!version.isEmpty()) {
            const QString label = version.startsWith(QLatin1Char('v'), Qt::CaseInsensitive) ? version
                                                                                            : QStringLiteral("v") + version;
            SetAppString(model, OrbKey::Version, label);
        }
        ORB_LOG(OrbLogInfo, "the launcher update to %s is in place", qUtf8Printable(version));
    } else {
        ORB_LOG(OrbLogWarning, "the launcher update to %s did not take place; it will be offered again",
                qUtf8Printable(version));
    }
    SetUserString(model, OrbKey::UserGame, OrbKey::PendingLauncherVersion, QString());
    SetUserString(model, OrbKey::UserGame, OrbKey::PendingLauncherSha256, QString());
}
