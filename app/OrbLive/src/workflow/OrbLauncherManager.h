#pragma once

#include "IOrbLauncher.h"

#include <QList>
#include <QObject>
#include <QString>

class OrbViewLauncher;
class QProcess;
struct OrbExtractReport;

// The launcher controller. Its implementation is split by concern:
//   OrbLauncherManager.cpp        life cycle and the program's signal connections
//   update/OrbUpdateCheck.cpp     the start-up update check and its clean-up task
//   update/OrbSelfUpdate.cpp      launcher package download, unpacking, updater start
//   game/OrbGameInstall.cpp       install folder, game download, installation
//   game/OrbGameClients.cpp       game clients: start, end, close all
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
    int gameCount() const { return int(m_games.size()); }

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

private:
    void onGameClientFinished(QProcess* process);
    void endUpdateCheckOffline(const QString& reason);
    void launcherPackageFailed(const QString& reason, bool unpacking = false);

    OrbViewLauncher* m_view = nullptr;
    QList<QProcess*> m_games;
    // True only while Backup holds a completely unpacked launcher package from
    // this run; nothing else may be handed to the updater.
    bool m_launcherPackageReady = false;
};
