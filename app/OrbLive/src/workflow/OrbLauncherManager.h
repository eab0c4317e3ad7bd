#pragma once

#include "IOrbLauncher.h"

#include <QObject>
#include <QString>

class OrbGameClients;
class OrbGameDelivery;
class OrbGameInstall;
class OrbSelfUpdate;
class OrbUpdateCheck;
class OrbViewLauncher;
struct OrbExtractReport;

// The launcher controller: the thin owner of the program's signal connections.
// The work is done by one feature controller each, which it owns and wires:
//   update/OrbUpdateCheck    the start-up update check and its clean-up task
//   update/OrbSelfUpdate     launcher package download, unpacking, updater start
//   game/OrbGameInstall      install folder, game download, installation
//   game/OrbGameDelivery     the game from the publisher's chunk store, verify and repair
//   game/OrbGameClients      game clients: start, end, close all
// Each feature ends every task it starts exactly once; the slots below only
// log their first line and pass the event on.
class OrbLauncherManager : public QObject, public IOrbLauncher {
    Q_OBJECT
public:
    explicit OrbLauncherManager(QObject* parent = nullptr);
    ~OrbLauncherManager() override;

    void Init() override;
    void Uninit() override;
    std::string GetName() override;

    // Scene document loaded by Init.
    static constexpr const char* kSceneUrl = "qrc:/qml/main.qml";

    OrbViewLauncher* view() const { return m_view; }
    int gameCount() const;
    OrbUpdateCheck* updateCheck() const { return m_updateCheck; }
    OrbSelfUpdate* selfUpdate() const { return m_selfUpdate; }
    OrbGameInstall* gameInstall() const { return m_gameInstall; }
    OrbGameDelivery* delivery() const { return m_delivery; }

signals:
    void sigDownloadBtnClickedCallback(bool result);
    void sigStartPlayGameCallback(bool result);
    void sigNotFoundExecutable();
    void sigUpdateCheckCallback(bool result);
    void sigUpdateCheckFinish(bool result);
    void sigHintUpdate(QString content);
    void sigUpdateGameHint(QString content);
    void sigUpdateCheckFailed(QString reason);
    void sigInstallFailed(QString reason);
    void sigDownloadVerifyFailed(QString reason);
    void sigDownloadFailed(QString reason);
    // Successful ends only: the installer's own completion signals follow every
    // outcome, so the scene hears of them through the controller.
    void sigExtractGameFinished();
    void sigExtractLauncherFinish();

public slots:
    void onSigDownLoadBtnClicked(QString path);
    void onSigSetDownloadStatus(bool status);
    void onSigDownloadFinish();
    void onSigStartInstallGame();
    void onSigStartPlayGame();
    void onSigCloseAllGames();
    void onSigExtractGameFinished();
    void onSigUpdateCheckStart();
    void onSigGameSettingDownloadFinish();
    void onSigLauncherUpdateStart();
    void onSigLauncherInstall();
    void onSigLauncherUpdateDownloadFinish();
    // Failures of the settings file and launcher package downloads.
    void onSigGameSettingDownloadFailed(qint32 error);
    void onSigLauncherUpdateDownloadFailed(qint32 error);
    // Outcome of every extraction, delivered before its completion signal.
    void onSigExtractReport(const OrbExtractReport& report);
    // A downloaded package did not match what the publisher declared for it.
    void onSigDownloadVerifyFailed(QString reason);
    // Verify the installed game against its manifest and rebuild what is damaged.
    void onSigVerifyAndRepair();

private:
    OrbViewLauncher* m_view = nullptr;
    OrbUpdateCheck* m_updateCheck = nullptr;
    OrbSelfUpdate* m_selfUpdate = nullptr;
    OrbGameInstall* m_gameInstall = nullptr;
    OrbGameDelivery* m_delivery = nullptr;
    OrbGameClients* m_clients = nullptr;
};
