// The launcher's self-update: download the launcher package, unpack it into the
// backup folder, hand over to the external updater and quit.
#include "workflow/OrbLauncherManager.h"

#include "core/ComponentRegistry.h"
#include "core/OrbLog.h"
#include "model/IOrbModel.h"
#include "model/OrbModel.h"
#include "services/download/IOrbNetwork.h"
#include "services/installer/IOrbArchieve.h"
#include "workflow/OrbWorkflowModel.h"
#include "workflow/OrbWorkflowRules.h"
#include "workflow/update/OrbPublisherKey.h"

#include "OrbNetDefine.h"
#include "OrbPackageManifest.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <string>

using namespace OrbWorkflowRules;
using namespace OrbWorkflowModel;

void OrbLauncherManager::onSigLauncherUpdateStart()
{
    ORB_LOG(OrbLogInfo, "Launcher Update Start");
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    IOrbNetwork* backend = GetComponent<IOrbNetwork>("OrbBackend");
    if (!model || !backend)
        return;
    // Whatever Backup held before belongs to an earlier attempt.
    m_launcherPackageReady = false;
    const QString url = QString::fromStdString(model->GetStringValue(OrbConfig::GameSettingConfig, "launcher", "LauncherPackageUrl"));
    const QString name = FileNameOfUrl(url);
    model->SetString(OrbConfig::UserConfig, "Game", "LauncherPackage", name.toUtf8().constData());
    const QString storage = AppString(model, "Storage");
    OrbPackageCheck check;
    check.sha256 = QString::fromStdString(
                       model->GetStringValue(OrbConfig::GameSettingConfig, "launcher", "LauncherPackageSha256"))
                       .trimmed();
    check.size = DeclaredSize(QString::fromStdString(
        model->GetStringValue(OrbConfig::GameSettingConfig, "launcher", "LauncherPackageSize")));
    if (check.sha256.isEmpty() && !OrbPublisherKey::Pem().isEmpty()) {
        emit sigUpdateCheckCallback(false);
        launcherPackageFailed(QStringLiteral("the signed settings declare no SHA-256 for the launcher package"));
        return;
    }
    emit sigUpdateCheckCallback(backend->RequestAsnycLauncherUpdateUrl(url, storage + QLatin1Char('/') + name, check));
}

void OrbLauncherManager::onSigLauncherUpdateDownloadFailed(qint32 error)
{
    if (error == NetVerifyFailed || error == NetTooLarge) {
        launcherPackageFailed(
            QStringLiteral("the launcher package does not match its declared size or SHA-256 (error %1)").arg(error));
        return;
    }
    launcherPackageFailed(QStringLiteral("the launcher package could not be downloaded (error %1)").arg(error));
}

// Download failures reach the scene as a failed check, unpacking failures as a
// failed installation; both offer the launcher update again.
void OrbLauncherManager::launcherPackageFailed(const QString& reason, bool unpacking)
{
    m_launcherPackageReady = false;
    ORB_LOG(OrbLogError, "Launcher update failed: %s", reason.toUtf8().constData());
    if (unpacking)
        emit sigInstallFailed(reason);
    else
        emit sigUpdateCheckFailed(reason);
}

void OrbLauncherManager::onSigLauncherUpdateDownloadFinish()
{
    ORB_LOG(OrbLogInfo, "Launcher Update Download Finish");
    IOrbArchieve* installer = GetComponent<IOrbArchieve>("OrbInstaller");
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    if (!installer || !model)
        return;
    m_launcherPackageReady = false;
    const QString backup = AppString(model, "Backup");
    if (!QDir(backup).exists()) {
        QDir().mkdir(backup);
    } else if (!installer->removeDirContents(backup)) {
        // Left-overs of an earlier package must not be mixed into this one.
        launcherPackageFailed(QStringLiteral("the backup folder could not be emptied"), true);
        return;
    }
    const QString package = AppString(model, "Storage") + QLatin1Char('/') +
                            QString::fromStdString(model->GetStringValue(OrbConfig::UserConfig, "Game", "LauncherPackage"));
    installer->extractDir(package, backup, IOrbArchieve::extractLauncher);
}

void OrbLauncherManager::onSigExtractReport(const OrbExtractReport& report)
{
    if (report.type != IOrbArchieve::extractLauncher)
        return;
    // A launcher is handed over only whole: a skipped entry is a missing file.
    if (report.outcome != OrbExtractReport::Complete) {
        launcherPackageFailed(QStringLiteral("the launcher package could not be unpacked: %1")
                                  .arg(report.error.isEmpty() ? QStringLiteral("entries were left out") : report.error),
                              true);
        return;
    }
    if (!QFileInfo(QDir(report.destDir).filePath(LauncherProgramName())).isFile()) {
        launcherPackageFailed(QStringLiteral("the launcher package holds no %1").arg(LauncherProgramName()), true);
        return;
    }
    // The updater installs only what this seal lists: the files as they came out
    // of the package that was just accepted.
    QString sealError;
    if (!OrbPackageManifest::Write(report.destDir, &sealError)) {
        launcherPackageFailed(QStringLiteral("the unpacked launcher could not be sealed: %1").arg(sealError), true);
        return;
    }
    m_launcherPackageReady = true;
}

void OrbLauncherManager::onSigLauncherInstall()
{
    ORB_LOG(OrbLogInfo, "Launcher Install");
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    if (!model)
        return;
    if (!m_launcherPackageReady) {
        ORB_LOG(OrbLogError, "No completely unpacked launcher package; the updater is not started");
        emit sigUpdateCheckFailed(QStringLiteral("no launcher package is ready to install"));
        return;
    }
    // Advanced before the start: a failing start must not offer the same update again.
    const std::string serverCopy =
        (AppString(model, "Storage") + QLatin1Char('/') +
         QString::fromStdString(model->GetStringValue(OrbConfig::UserConfig, "Game", "GameSettingsPackage")))
            .toStdString();
    const std::string serverVersion = model->GetSpecifyConfigValue(serverCopy, "launcher", "Version");
    if (!serverVersion.empty())
        model->SetString(OrbConfig::GameSettingConfig, "launcher", "Version", serverVersion.c_str());

    const QString programDir = QCoreApplication::applicationDirPath();
    const QString updater = QDir::toNativeSeparators(programDir + QLatin1Char('/') + UpdaterProgramName());
    const QString backup = QDir::toNativeSeparators(AppString(model, "Backup"));
    const QString target = QDir::toNativeSeparators(programDir + QLatin1Char('/'));
    if (updater.isEmpty() || backup.isEmpty()) {
        ORB_LOG(OrbLogError, "Updater path or update package path is empty");
        return;
    }
    if (IOrbArchieve* installer = GetComponent<IOrbArchieve>("OrbInstaller"))
        installer->removeDirContents(AppString(model, "Storage"));
    if (QProcess::startDetached(updater, {backup, target, LauncherProgramName()}, QString())) {
        m_launcherPackageReady = false;
        // The version label shows the application file's Version, which nothing
        // else ever advances: it names the launcher the updater now installs, in
        // the file's own form ("v1.0.3").
        if (!serverVersion.empty()) {
            const QString installed = QString::fromStdString(serverVersion).trimmed();
            const QString text = installed.startsWith(QLatin1Char('v'), Qt::CaseInsensitive)
                                     ? installed
                                     : QStringLiteral("v") + installed;
            SetAppString(model, "Version", text);
        }
        ORB_LOG(OrbLogInfo, "Update process started successfully");
        QCoreApplication::quit();
    } else {
        ORB_LOG(OrbLogError, "Failed to start update process");
    }
}
