// Game download and installation: the install folder, start/pause/resume of the
// package download, its completion, unpacking and the installation record.
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

#include <string>

using namespace OrbWorkflowRules;

namespace {

QString appString(IOrbModel* model, const char* key)
{
    const std::string section = OrbModel::GameSection();
    return QString::fromStdString(model->GetStringValue(OrbConfig::AppConfig, section.c_str(), key));
}

void setAppBool(IOrbModel* model, const char* key, bool value)
{
    const std::string section = OrbModel::GameSection();
    model->SetBool(OrbConfig::AppConfig, section.c_str(), key, value);
}

QString basic(IOrbModel* model, const char* key)
{
    return QString::fromStdString(model->GetStringValue(OrbConfig::GameSettingConfig, "Basic", key));
}

} // namespace

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
    if (IOrbModel* model = GetComponent<IOrbModel>("OrbModel")) {
        const std::string section = OrbModel::GameSection();
        model->SetString(OrbConfig::AppConfig, section.c_str(), "InstallDirectory", utf8.constData());
    }
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
        const QString url = basic(model, "GamePackageUrl");
        const QString folder = appString(model, "DownLoadPath");
        const QString name = FileNameOfUrl(url);
        const std::string section = OrbModel::GameSection();
        model->SetString(OrbConfig::AppConfig, section.c_str(), "DownLoadGamePackage", name.toUtf8().constData());
        // With a declared size or hash the service reports the download finished only
        // once the file matches them.
        OrbPackageCheck check;
        check.sha256 = basic(model, "GamePackageSha256").trimmed();
        check.size = DeclaredSize(basic(model, "GamePackageSize"));
        result = backend->RequestAsnycDownLoadUrl(url, folder + QLatin1Char('/') + name, check);
        setAppBool(model, "IsDownloadStart", true);
        setAppBool(model, "IsDownloadFinish", false);
        setAppBool(model, "IsInstallGmae", false);
    } else {
        backend->StopDownLoad();
    }
    emit sigDownloadBtnClickedCallback(result);
}

void OrbLauncherManager::onSigDownloadFinish()
{
    ORB_LOG(OrbLogInfo, "Download Finish");
    if (IOrbModel* model = GetComponent<IOrbModel>("OrbModel")) {
        setAppBool(model, "IsDownloadFinish", true);
        setAppBool(model, "IsUpdateGmaeHint", false);
    }
}

void OrbLauncherManager::onSigStartInstallGame()
{
    ORB_LOG(OrbLogInfo, "Start Install Game");
    IOrbArchieve* installer = GetComponent<IOrbArchieve>("OrbInstaller");
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    if (!installer || !model)
        return;
    const QString package = appString(model, "DownLoadPath") + QLatin1Char('/') + appString(model, "DownLoadGamePackage");
    const QString folder = GameFolder(appString(model, "InstallDirectory"), basic(model, "GameName"));
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

    setAppBool(model, "IsInstallGmae", true);
    installer->removeDirContents(appString(model, "DownLoadPath"));
}
