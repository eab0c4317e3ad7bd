#include "workflow/game/OrbGameInstall.h"

#include "core/ComponentRegistry.h"
#include "core/OrbLog.h"
#include "model/IOrbModel.h"
#include "model/OrbModel.h"
#include "services/download/IOrbNetwork.h"
#include "services/installer/IOrbArchieve.h"
#include "workflow/OrbPackageFile.h"
#include "workflow/OrbWorkflowModel.h"
#include "workflow/OrbWorkflowRules.h"
#include "workflow/game/OrbInstallManifest.h"
#include "workflow/update/OrbPublisherKey.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

using namespace OrbWorkflowRules;
using namespace OrbWorkflowModel;

OrbGameInstall::OrbGameInstall(QObject* parent) : QObject(parent)
{
    connect(&m_check, &QFutureWatcher<QString>::finished, this, &OrbGameInstall::onPackageChecked);
}

OrbGameInstall::~OrbGameInstall()
{
    m_check.waitForFinished();
}

void OrbGameInstall::chooseFolder(const QString& path)
{
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
        SetAppString(model, OrbKey::InstallDirectory, path);
}

void OrbGameInstall::setDownloadStatus(bool status)
{
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    IOrbNetwork* backend = GetComponent<IOrbNetwork>("OrbBackend");
    if (!model || !backend)
        return;
    if (!status) {
        backend->StopDownLoad();
        emit downloadCallback(false);
        return;
    }
    const QString url = Setting(model, "Basic", "GamePackageUrl");
    const QString folder = AppString(model, OrbKey::DownLoadPath);
    const QString name = FileNameOfUrl(url);
    SetAppString(model, OrbKey::DownLoadGamePackage, name);
    if (name.isEmpty()) {
        ORB_LOG(OrbLogError, "The game package address names no file: %s", url.toUtf8().constData());
        emit verifyFailed(QStringLiteral("the game package address names no file"));
        emit downloadCallback(false);
        return;
    }
    // With a declared size or hash the service reports the download finished only
    // once the file matches them, and cuts it off at the declared size.
    const OrbPackageCheck check = DeclaredPackage(model, "Basic", "GamePackage");
    if (OrbPublisherKey::Signed() && (check.sha256.isEmpty() || check.size < 0)) {
        // Signed settings bind every package by its hash and size; one without is not taken.
        ORB_LOG(OrbLogError, "The signed settings declare no SHA-256 and size for the game package; not downloaded");
        emit verifyFailed(QStringLiteral("the game package has no declared SHA-256 and size"));
        emit downloadCallback(false);
        return;
    }
    // The download folder below the chosen one, with whatever is missing of it.
    QDir().mkpath(folder);
    const bool result = backend->RequestAsnycDownLoadUrl(url, folder + QLatin1Char('/') + name, check);
    if (!result) {
        // Nothing started: the flags stay, so the scene offers the folder choice
        // again instead of a download that is refused every time.
        ORB_LOG(OrbLogError, "The game download could not start: %s", qUtf8Printable(folder + QLatin1Char('/') + name));
        emit downloadFailed(QStringLiteral("%1 cannot be written").arg(folder + QLatin1Char('/') + name));
        emit downloadCallback(false);
        return;
    }
    SetAppBool(model, OrbKey::IsDownloadStart, true);
    SetAppBool(model, OrbKey::IsDownloadFinish, false);
    SetAppBool(model, OrbKey::IsInstallGmae, false);
    emit downloadCallback(true);
}

void OrbGameInstall::onDownloaded()
{
    if (IOrbModel* model = GetComponent<IOrbModel>("OrbModel")) {
        SetAppBool(model, OrbKey::IsDownloadFinish, true);
        SetAppBool(model, OrbKey::IsUpdateGmaeHint, false);
    }
}

void OrbGameInstall::fail(const QString& reason)
{
    m_stage = Stage::Idle;
    ORB_LOG(OrbLogWarning, "Game installation failed: %s", reason.toUtf8().constData());
    emit installFailed(reason);
}

void OrbGameInstall::startInstall()
{
    IOrbArchieve* installer = GetComponent<IOrbArchieve>("OrbInstaller");
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    if (!installer || !model)
        return;
    if (m_stage != Stage::Idle)
        return;
    m_package = AppString(model, OrbKey::DownLoadPath) + QLatin1Char('/') + AppString(model, OrbKey::DownLoadGamePackage);
    m_folder = GameFolder(AppString(model, OrbKey::InstallDirectory), Setting(model, "Basic", "GameName"));
    // A package downloaded days ago is checked again before anything of it is
    // written: off the GUI thread, since a game package is large.
    const OrbPackageCheck declared = DeclaredPackage(model, "Basic", "GamePackage");
    m_stage = Stage::Checking;
    const QString package = m_package;
    m_check.setFuture(QtConcurrent::run([package, declared] {
        QString why;
        return OrbPackageFile::Matches(package, declared.sha256, declared.size, &why) ? QString() : why;
    }));
}

void OrbGameInstall::onPackageChecked()
{
    if (m_stage != Stage::Checking)
        return;
    const QString mismatch = m_check.result();
    IOrbArchieve* installer = GetComponent<IOrbArchieve>("OrbInstaller");
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    if (!installer || !model) {
        m_stage = Stage::Idle;
        return;
    }
    if (!mismatch.isEmpty()) {
        // Nothing good is left to resume from: the player downloads it again.
        if (QFileInfo::exists(m_package))
            QFile::remove(m_package);
        SetAppBool(model, OrbKey::IsDownloadFinish, false);
        fail(QStringLiteral("the downloaded game package is not the declared one (%1); download it again").arg(mismatch));
        return;
    }
    m_stage = Stage::Installing;
    installer->extractDir(m_package, m_folder, IOrbArchieve::extractGame);
}

void OrbGameInstall::onExtracted(const OrbExtractReport& report)
{
    if (m_stage != Stage::Installing || report.type != IOrbArchieve::extractGame)
        return;
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    IOrbArchieve* installer = GetComponent<IOrbArchieve>("OrbInstaller");
    if (!model || !installer) {
        m_stage = Stage::Idle;
        return;
    }
    // The completion follows every outcome; only a run that wrote the package's
    // content counts, and only then may the package go.
    if (!report.installed()) {
        fail(report.error.isEmpty() ? QStringLiteral("the game package could not be unpacked") : report.error);
        return;
    }
    for (const OrbSkippedEntry& entry : report.skipped)
        ORB_LOG(OrbLogWarning, "entry left out: %s (%s)", entry.name.toUtf8().constData(),
                entry.reason.toUtf8().constData());
    // The record lists what this installation wrote, as the installer reports it.
    const QString manifestPath = OrbInstallManifest::PathForGame(QString::fromStdString(OrbModel::GameSection()));
    OrbInstallManifest manifest = OrbInstallManifest::FromWritten(report.destDir, report.written);
    manifest.merge(OrbInstallManifest::Load(manifestPath));
    if (manifest.isEmpty() || !manifest.save(manifestPath))
        ORB_LOG(OrbLogWarning, "the installation record could not be written: %s", manifestPath.toUtf8().constData());
    const QString gameName = Setting(model, "Basic", "GameName");
    SetAppString(model, OrbKey::GameExecutablePath, RecordedExecutable(report.written, ExecutableName(gameName)));

    m_stage = Stage::Idle;
    SetAppBool(model, OrbKey::IsInstallGmae, true);
    installer->removeDirContents(AppString(model, OrbKey::DownLoadPath));
    emit installed();
}
