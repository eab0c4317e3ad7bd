#include "OrbLauncherManager.h"

#include "core/ComponentRegistry.h"
#include "core/OrbLog.h"
#include "model/IOrbModel.h"
#include "services/download/IOrbNetwork.h"
#include "services/download/OrbBackend.h"
#include "services/installer/IOrbArchieve.h"
#include "services/installer/OrbInstaller.h"
#include "ui/OrbViewLauncher.h"
#include "workflow/game/OrbGameClients.h"
#include "workflow/game/OrbGameDelivery.h"
#include "workflow/game/OrbGameInstall.h"
#include "workflow/update/OrbLauncherIdentity.h"
#include "workflow/update/OrbSelfUpdate.h"
#include "workflow/update/OrbUpdateCheck.h"

#include <QDebug>
#include <QUrl>

OrbLauncherManager::OrbLauncherManager(QObject* parent)
    : QObject(parent),
      m_updateCheck(new OrbUpdateCheck(this)),
      m_selfUpdate(new OrbSelfUpdate(this)),
      m_gameInstall(new OrbGameInstall(this)),
      m_delivery(new OrbGameDelivery(this)),
      m_clients(new OrbGameClients(this))
{
    // The features' outcomes are the controller's signals.
    connect(m_updateCheck, &OrbUpdateCheck::started, this, &OrbLauncherManager::sigUpdateCheckCallback);
    connect(m_updateCheck, &OrbUpdateCheck::launcherHint, this, &OrbLauncherManager::sigHintUpdate);
    connect(m_updateCheck, &OrbUpdateCheck::finished, this, &OrbLauncherManager::sigUpdateCheckFinish);
    connect(m_updateCheck, &OrbUpdateCheck::gameHint, this, &OrbLauncherManager::sigUpdateGameHint);
    connect(m_updateCheck, &OrbUpdateCheck::failed, this, &OrbLauncherManager::sigUpdateCheckFailed);

    connect(m_selfUpdate, &OrbSelfUpdate::started, this, &OrbLauncherManager::sigUpdateCheckCallback);
    connect(m_selfUpdate, &OrbSelfUpdate::ready, this, &OrbLauncherManager::sigExtractLauncherFinish);
    connect(m_selfUpdate, &OrbSelfUpdate::downloadFailed, this, &OrbLauncherManager::sigUpdateCheckFailed);
    connect(m_selfUpdate, &OrbSelfUpdate::installFailed, this, &OrbLauncherManager::sigInstallFailed);

    connect(m_gameInstall, &OrbGameInstall::downloadCallback, this, &OrbLauncherManager::sigDownloadBtnClickedCallback);
    connect(m_gameInstall, &OrbGameInstall::verifyFailed, this, &OrbLauncherManager::sigDownloadVerifyFailed);
    connect(m_gameInstall, &OrbGameInstall::downloadFailed, this, &OrbLauncherManager::sigDownloadFailed);
    connect(m_gameInstall, &OrbGameInstall::installed, this, &OrbLauncherManager::sigExtractGameFinished);
    connect(m_gameInstall, &OrbGameInstall::installFailed, this, &OrbLauncherManager::sigInstallFailed);

    connect(m_delivery, &OrbGameDelivery::started, this, &OrbLauncherManager::sigDownloadBtnClickedCallback);
    connect(m_delivery, &OrbGameDelivery::refused, this, &OrbLauncherManager::sigDownloadVerifyFailed);

    connect(m_clients, &OrbGameClients::startResult, this, &OrbLauncherManager::sigStartPlayGameCallback);
    connect(m_clients, &OrbGameClients::notFound, this, &OrbLauncherManager::sigNotFoundExecutable);
    connect(m_clients, &OrbGameClients::allEnded, this, [this] { emit sigStartPlayGameCallback(false); });
}

OrbLauncherManager::~OrbLauncherManager()
{
    qDebug() << "~OrbLauncherManager called";
    // The clients go first: destroying one that still runs ends it.
    delete m_clients;
    m_clients = nullptr;
    delete m_view;
    m_view = nullptr;
}

int OrbLauncherManager::gameCount() const
{
    return m_clients ? m_clients->count() : 0;
}

void OrbLauncherManager::Init()
{
    if (m_view)
        return;
    if (IOrbModel* model = GetComponent<IOrbModel>("OrbModel")) {
        // Before the scene reads the version label.
        OrbSelfUpdate::ConfirmPendingUpdate(model);
        OrbLauncherIdentity::Establish(model);
        // An update killed half way is finished before anything looks at the game.
        OrbGameDelivery::Recover(model);
    }
    m_view = new OrbViewLauncher();
    OrbViewLauncher* view = m_view;

    // Requests of the scene.
    connect(view, &OrbViewLauncher::sigDownLoadBtnClicked, this, &OrbLauncherManager::onSigDownLoadBtnClicked);
    connect(view, &OrbViewLauncher::sigSetDownloadStatus, this, &OrbLauncherManager::onSigSetDownloadStatus);
    connect(view, &OrbViewLauncher::sigStartInstallGame, this, &OrbLauncherManager::onSigStartInstallGame);
    connect(view, &OrbViewLauncher::sigStartPlayGame, this, &OrbLauncherManager::onSigStartPlayGame);
    connect(view, &OrbViewLauncher::sigCloseAllGames, this, &OrbLauncherManager::onSigCloseAllGames);
    connect(view, &OrbViewLauncher::sigUpdateCheckStart, this, &OrbLauncherManager::onSigUpdateCheckStart);
    connect(view, &OrbViewLauncher::sigLauncherUpdateStart, this, &OrbLauncherManager::onSigLauncherUpdateStart);
    connect(view, &OrbViewLauncher::sigLauncherInstall, this, &OrbLauncherManager::onSigLauncherInstall);
    connect(view, &OrbViewLauncher::sigVerifyAndRepair, this, &OrbLauncherManager::onSigVerifyAndRepair);

    // The controller's answers, re-emitted by the view.
    connect(this, &OrbLauncherManager::sigDownloadBtnClickedCallback, view, &OrbViewLauncher::sigDownloadBtnClickedCallback);
    connect(this, &OrbLauncherManager::sigStartPlayGameCallback, view, &OrbViewLauncher::sigStartPlayGameCallback);
    connect(this, &OrbLauncherManager::sigNotFoundExecutable, view, &OrbViewLauncher::sigNotFoundExecutable);
    connect(this, &OrbLauncherManager::sigUpdateCheckCallback, view, &OrbViewLauncher::sigUpdateCheckCallback);
    connect(this, &OrbLauncherManager::sigUpdateCheckFinish, view, &OrbViewLauncher::sigUpdateCheckFinish);
    connect(this, &OrbLauncherManager::sigHintUpdate, view, &OrbViewLauncher::sigHintUpdate);
    connect(this, &OrbLauncherManager::sigUpdateGameHint, view, &OrbViewLauncher::sigUpdateGameHint);

    // The download service. The controller hears of a finished game download
    // before the scene, so the scene's re-read of the flags sees it.
    if (auto* backend = dynamic_cast<OrbBackend*>(GetComponent<IOrbNetwork>("OrbBackend"))) {
        connect(backend, &OrbBackend::sigDownloadFinish, this, &OrbLauncherManager::onSigDownloadFinish);
        connect(backend, &OrbBackend::sigGameSettingDownloadFinish, this, &OrbLauncherManager::onSigGameSettingDownloadFinish);
        connect(backend, &OrbBackend::sigDownloadStop, view, &OrbViewLauncher::sigDownloadStop);
        connect(backend, &OrbBackend::sigDownloadFinish, view, &OrbViewLauncher::sigDownloadFinish);
        connect(backend, &OrbBackend::sigDownloadProgress, view, &OrbViewLauncher::sigDownloadProgress);
        connect(backend, &OrbBackend::sigLauncherUpdateProgress, view, &OrbViewLauncher::sigProgressValue);
        connect(backend, &OrbBackend::sigLauncherUpdateDownloadFinish, this, &OrbLauncherManager::onSigLauncherUpdateDownloadFinish);
    }
    // The installer. Its completion signals follow every outcome, so the scene
    // hears of a finished extraction from the controller, and only of a good one.
    if (auto* installer = dynamic_cast<OrbInstaller*>(GetComponent<IOrbArchieve>("OrbInstaller"))) {
        connect(installer, &OrbInstaller::sigExtractGameFinished, this, &OrbLauncherManager::onSigExtractGameFinished);
        connect(this, &OrbLauncherManager::sigExtractGameFinished, view, &OrbViewLauncher::sigExtractGameFinished);
        connect(installer, &OrbInstaller::sigProgressValue, view, &OrbViewLauncher::sigProgressValue);
        connect(this, &OrbLauncherManager::sigExtractLauncherFinish, view, &OrbViewLauncher::sigExtractLauncherFinish);
    }

    // Failure reports beyond the table above: offline start, failed unpacking,
    // failed verification. They reach the scene through the view's own signals.
    if (auto* backend = dynamic_cast<OrbBackend*>(GetComponent<IOrbNetwork>("OrbBackend"))) {
        connect(backend, &OrbBackend::sigGameSettingDownloadFailed, this, &OrbLauncherManager::onSigGameSettingDownloadFailed);
        connect(backend, &OrbBackend::sigLauncherUpdateDownloadFailed, this, &OrbLauncherManager::onSigLauncherUpdateDownloadFailed);
        connect(backend, &OrbBackend::sigDownloadVerifyFailed, this, &OrbLauncherManager::onSigDownloadVerifyFailed);
    }
    if (auto* installer = dynamic_cast<OrbInstaller*>(GetComponent<IOrbArchieve>("OrbInstaller")))
        connect(installer, &OrbInstaller::sigExtractReport, this, &OrbLauncherManager::onSigExtractReport);
    connect(this, &OrbLauncherManager::sigUpdateCheckFailed, view, &OrbViewLauncher::sigUpdateCheckFailed);
    connect(this, &OrbLauncherManager::sigInstallFailed, view, &OrbViewLauncher::sigInstallFailed);
    connect(this, &OrbLauncherManager::sigDownloadVerifyFailed, view, &OrbViewLauncher::sigDownloadVerifyFailed);
    connect(this, &OrbLauncherManager::sigDownloadFailed, view, &OrbViewLauncher::sigDownloadFailed);

    // Chunked delivery answers through the same scene signals as the ZIP download.
    connect(m_delivery, &OrbGameDelivery::progress, view, &OrbViewLauncher::sigDownloadProgress);
    connect(m_delivery, &OrbGameDelivery::stopped, view, &OrbViewLauncher::sigDownloadStop);
    connect(m_delivery, &OrbGameDelivery::installed, view, &OrbViewLauncher::sigDownloadFinish);
    connect(m_delivery, &OrbGameDelivery::repairFinished, view, &OrbViewLauncher::sigRepairFinished);

    view->prepare();
    view->registerContext();
    view->loadScene(QUrl(QString::fromLatin1(kSceneUrl)));
}

void OrbLauncherManager::Uninit()
{
    delete m_view;
    m_view = nullptr;
}

std::string OrbLauncherManager::GetName()
{
    return "OrbLauncherManager";
}

// Update check.

void OrbLauncherManager::onSigUpdateCheckStart()
{
    ORB_LOG(OrbLogInfo, "Update Check Start");
    m_updateCheck->request();
}

void OrbLauncherManager::onSigGameSettingDownloadFinish()
{
    m_updateCheck->onFetched();
}

void OrbLauncherManager::onSigGameSettingDownloadFailed(qint32 error)
{
    m_updateCheck->onFetchFailed(error);
}

// Self-update.

void OrbLauncherManager::onSigLauncherUpdateStart()
{
    ORB_LOG(OrbLogInfo, "Launcher Update Start");
    m_selfUpdate->start();
}

void OrbLauncherManager::onSigLauncherUpdateDownloadFinish()
{
    ORB_LOG(OrbLogInfo, "Launcher Update Download Finish");
    m_selfUpdate->onDownloaded();
}

void OrbLauncherManager::onSigLauncherUpdateDownloadFailed(qint32 error)
{
    m_selfUpdate->onDownloadFailed(error);
}

void OrbLauncherManager::onSigLauncherInstall()
{
    ORB_LOG(OrbLogInfo, "Launcher Install");
    m_selfUpdate->install();
}

void OrbLauncherManager::onSigExtractReport(const OrbExtractReport& report)
{
    if (report.type == IOrbArchieve::extractLauncher)
        m_selfUpdate->onExtracted(report);
}

// Game download and installation.

void OrbLauncherManager::onSigDownLoadBtnClicked(QString path)
{
    ORB_LOG(OrbLogInfo, "DownLoad Btn Clicked");
    m_gameInstall->chooseFolder(path);
}

void OrbLauncherManager::onSigSetDownloadStatus(bool status)
{
    ORB_LOG(OrbLogInfo, "onSigSetDownloadStatus %s", status ? "true" : "false");
    if (OrbGameDelivery::Available(GetComponent<IOrbModel>("OrbModel"))) {
        if (status)
            m_delivery->start();
        else
            m_delivery->pause();
        return;
    }
    m_gameInstall->setDownloadStatus(status);
}

void OrbLauncherManager::onSigDownloadFinish()
{
    ORB_LOG(OrbLogInfo, "Download Finish");
    m_gameInstall->onDownloaded();
}

void OrbLauncherManager::onSigDownloadVerifyFailed(QString reason)
{
    ORB_LOG(OrbLogError, "Package verification failed: %s", reason.toUtf8().constData());
    emit sigDownloadVerifyFailed(reason);
}

void OrbLauncherManager::onSigStartInstallGame()
{
    ORB_LOG(OrbLogInfo, "Start Install Game");
    m_gameInstall->startInstall();
}

void OrbLauncherManager::onSigExtractGameFinished()
{
    ORB_LOG(OrbLogInfo, "Extract Game Finished");
    if (IOrbArchieve* installer = GetComponent<IOrbArchieve>("OrbInstaller"))
        m_gameInstall->onExtracted(installer->lastExtractReport());
}

void OrbLauncherManager::onSigVerifyAndRepair()
{
    ORB_LOG(OrbLogInfo, "Verify And Repair");
    m_delivery->repair();
}

// Game clients.

void OrbLauncherManager::onSigStartPlayGame()
{
    ORB_LOG(OrbLogInfo, "Start Play Game");
    m_clients->start();
}

void OrbLauncherManager::onSigCloseAllGames()
{
    ORB_LOG(OrbLogInfo, "Close All Games Start");
    m_clients->closeAll();
}
