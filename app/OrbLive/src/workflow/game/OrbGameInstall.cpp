// Game download and installation: the install folder, start/pause/resume of the
// package download, its completion, unpacking and the installation record.
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
#include "workflow/game/OrbInstallManifest.h"

#include <QDir>

#include <string>

using namespace OrbWorkflowRules;
using namespace OrbWorkflowModel;

void OrbLauncherManager::onSigDownLoadBtnClicked(QString path)
{
    ORB_LOG(OrbLogInfo, "DownLoad Btn Clicked");
    const QByteArray utf8 = path.toUtf8();
    if (QDir(path).exists()) {
        ORB_LOG(OrbLogInfo, "Directory already exists: %s", utf8.constData());
    } else if (!QDir().mkpath(path)) {
        ORB_LOG(OrbLogInfo, "Failed to create directory: %s", utf8.constData());
        return;
    } else {
        ORB_LOG(OrbLogInfo, "Directory created: %s", utf8.constData());
    }
    if (IOrbModel* model = GetComponent<IOrbModel>("OrbModel"))
        SetAppString(model, "InstallDirectory", path);
}

void OrbLauncherManager::onSigSetDownloadStatus(bool status)
{
    ORB_LOG(OrbLogInfo, "onSigSetDownloadStatus %s", status ? "true" : "false");
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    IOrbNetwork* backend = GetComponent<IOrbNetwork>("OrbBackend");
    if (!model || !backend)
        return;
    bool result = false;
    if (status) {
        const QString url = Setting(model, "Basic", "GamePackageUrl");
        const QString folder = AppString(model, "DownLoadPath");
        const QString name = FileNameOfUrl(url);
        SetAppString(model, "DownLoadGamePackage", name);
        // With a declared size or hash the service reports the download finished only
        // once the file matches them.
        OrbPackageCheck check;
        check.sha256 = Setting(model, "Basic", "GamePackageSha256").trimmed();
        check.size = DeclaredSize(Setting(model, "Basic", "GamePackageSize"));
        if (check.sha256.isEmpty() && !OrbPublisherKey::Pem().isEmpty()) {
            // Signed settings bind every package by its hash; one without is not taken.
            ORB_LOG(OrbLogError, "The signed settings declare no SHA-256 for the game package; not downloaded");
            emit sigDownloadVerifyFailed(QStringLiteral("the game package has no declared SHA-256"));
            emit sigDownloadBtnClickedCallback(false);
            return;
        }
        result = backend->RequestAsnycDownLoadUrl(url, folder + QLatin1Char('/') + name, check);
        SetAppBool(model, "IsDownloadStart", true);
        SetAppBool(model, "IsDownloadFinish", false);
        SetAppBool(model, "IsInstallGmae", false);
    } else {
        backend->StopDownLoad();
    }
    emit sigDownloadBtnClickedCallback(result);
}

void OrbLauncherManager::onSigDownloadFinish()
{
    ORB_LOG(OrbLogInfo, "Download Finish");
    if (IOrbModel* model = GetComponent<IOrbModel>("OrbModel")) {
        SetAppBool(model, "IsDownloadFinish", true);
        SetAppBool(model, "IsUpdateGmaeHint", false);
    }
}

void OrbLauncherManager::onSigStartInstallGame()
{
    ORB_LOG(OrbLogInfo, "Start Install Game");
    IOrbArchieve* installer = GetComponent<IOrbArchieve>("OrbInstaller");
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    if (!installer || !model)
        return;
    const QString package = AppString(model, "DownLoadPath") + QLatin1Char('/') + AppString(model, "DownLoadGamePackage");
    const QString folder = GameFolder(AppString(model, "InstallDirectory"), Setting(model, "Basic", "GameName"));
    installer->extractDir(package, folder, IOrbArchieve::extractGame);
}

void OrbLauncherManager::onSigExtractGameFinished()
{
    ORB_LOG(OrbLogInfo, "Extract Game Finished");
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    IOrbArchieve* installer = GetComponent<IOrbArchieve>("OrbInstaller");
    if (!model || !installer)
        return;
    // The completion follows every outcome; only a run that wrote the package's
    // content counts, and only then may the package go.
    const OrbExtractReport report = installer->lastExtractReport();
    if (report.type != IOrbArchieve::extractGame || !report.installed()) {
        const QString reason = report.error.isEmpty() ? QStringLiteral("the game package could not be unpacked")
                                                      : report.error;
        ORB_LOG(OrbLogWarning, "Game installation failed, package kept: %s", reason.toUtf8().constData());
        emit sigInstallFailed(reason);
        return;
    }
    QStringList skipped;
    for (const OrbSkippedEntry& entry : report.skipped) {
        skipped << entry.name;
        ORB_LOG(OrbLogWarning, "entry left out: %s (%s)", entry.name.toUtf8().constData(),
                entry.reason.toUtf8().constData());
    }
    // Recorded before the package is removed: the record is read from it.
    const QString manifestPath = OrbInstallManifest::PathForGame(QString::fromStdString(OrbModel::GameSection()));
    OrbInstallManifest manifest = OrbInstallManifest::FromArchive(report.archivePath, report.destDir, skipped);
    manifest.merge(OrbInstallManifest::Load(manifestPath));
    if (manifest.isEmpty() || !manifest.save(manifestPath))
        ORB_LOG(OrbLogWarning, "the installation record could not be written: %s", manifestPath.toUtf8().constData());

    SetAppBool(model, "IsInstallGmae", true);
    installer->removeDirContents(AppString(model, "DownLoadPath"));
}
