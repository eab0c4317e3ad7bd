#include "OrbLauncherManager.h"

#include "core/ComponentRegistry.h"
#include "core/OrbLog.h"
#include "services/download/IOrbNetwork.h"
#include "services/download/OrbBackend.h"
#include "services/installer/IOrbArchieve.h"
#include "services/installer/OrbInstaller.h"
#include "ui/OrbViewLauncher.h"

#include <QDebug>
#include <QProcess>
#include <QUrl>

OrbLauncherManager::OrbLauncherManager(QObject* parent) : QObject(parent) {}

OrbLauncherManager::~OrbLauncherManager()
{
    qDebug() << "~OrbLauncherManager called";
    // Destroying a client that still runs ends it; its end is no longer reported.
    const QList<QProcess*> games = m_games;
    m_games.clear();
    for (QProcess* process : games) {
        process->disconnect(this);
        delete process;
    }
    delete m_view;
    m_view = nullptr;
}

void OrbLauncherManager::Init()
{
    if (m_view)
        return;
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
    // The installer; the controller again comes first for a finished game extraction.
    if (auto* installer = dynamic_cast<OrbInstaller*>(GetComponent<IOrbArchieve>("OrbInstaller"))) {
        connect(installer, &OrbInstaller::sigExtractGameFinished, this, &OrbLauncherManager::onSigExtractGameFinished);
        connect(installer, &OrbInstaller::sigExtractGameFinished, view, &OrbViewLauncher::sigExtractGameFinished);
        connect(installer, &OrbInstaller::sigProgressValue, view, &OrbViewLauncher::sigProgressValue);
        connect(installer, &OrbInstaller::sigExtractLauncherFinish, view, &OrbViewLauncher::sigExtractLauncherFinish);
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

    view->prepare();
    view->registerContext();
    view->loadScene(QUrl(QString::fromLatin1(kSceneUrl)));
}

void OrbLauncherManager::onSigDownloadVerifyFailed(QString reason)
{
    ORB_LOG(OrbLogError, "Package verification failed: %s", reason.toUtf8().constData());
    emit sigDownloadVerifyFailed(reason);
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
