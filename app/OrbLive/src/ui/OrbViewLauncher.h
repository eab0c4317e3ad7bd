#pragma once

#include "OrbViewBase.h"

#include <QPointF>
#include <QString>

// The scene's whole interface to the program, published as "ContextViewLauncher".
// Queries are answered afresh from the model on every call; requests become
// signals that the launcher controller receives; notifications are re-emitted
// from the controller, the download service and the installer.
class OrbViewLauncher : public OrbViewBase {
    Q_OBJECT
public:
    OrbViewLauncher();
    ~OrbViewLauncher() override;

    void requestShow() override;
    void requestHide() override;
    void requestClose() override;
    bool registerContext() override;
    bool prepare() override;

    // Context property name the scene uses.
    static constexpr const char* kContextName = "ContextViewLauncher";

    Q_INVOKABLE void DownLoadBtnClick(QString path);
    Q_INVOKABLE float GetPathCapacity(QString path);
    Q_INVOKABLE int GetDownLoadFileSize();
    Q_INVOKABLE void SetDownloadStatus(bool status);
    Q_INVOKABLE void StartInstall();
    Q_INVOKABLE void StartPlay();
    Q_INVOKABLE void CloseAllGames();
    Q_INVOKABLE void UpdateCheckStart();
    Q_INVOKABLE void LauncherUpdateStart();
    Q_INVOKABLE void LauncherInstall();
    Q_INVOKABLE bool IsDownloadStart() const;
    Q_INVOKABLE bool IsDownloadFinish() const;
    Q_INVOKABLE bool IsInstall() const;
    Q_INVOKABLE bool IsOpenMore() const;
    Q_INVOKABLE bool IsValidPath(QString path) const;
    Q_INVOKABLE QString GetWebViewUrl() const;
    Q_INVOKABLE QString GetInstallPath() const;
    Q_INVOKABLE void SetInstallPath(QString path);
    Q_INVOKABLE QString GetVersionContent() const;
    Q_INVOKABLE QString GetInstallGameInfo() const;
    Q_INVOKABLE int GetDiskSpace();
    Q_INVOKABLE double GetDevicePixelRatio();
    Q_INVOKABLE QString GetGameNickName();
    Q_INVOKABLE QPointF cursonPos();
    // Folder rules for a chosen install folder that may not exist yet (a fresh
    // account's Documents): the nearest folder at or above `path` that exists,
    // empty when there is none; and whether `path` is an existing folder or a
    // missing one that can be made below a writable existing folder.
    Q_INVOKABLE QString NearestExistingFolder(QString path) const;
    Q_INVOKABLE bool IsCreatablePath(QString path) const;
    // Verify and repair: offered for a game installed from the publisher's manifest.
    Q_INVOKABLE bool IsRepairAvailable() const;
    Q_INVOKABLE void VerifyAndRepair();

signals:
    void sigDownLoadBtnClicked(QString path);
    void sigDownloadBtnClickedCallback(bool result);
    void sigDownloadProgress(qint32 offset, qint32 total);
    void sigDownloadStop();
    void sigDownloadFinish();
    void sigSetDownloadStatus(bool status);
    void sigStartInstallGame();
    void sigStartPlayGame();
    void sigProgressValue(int progressValue, QString progressText);
    void sigExtractGameFinished();
    void sigExtractLauncherFinish();
    void sigStartPlayGameCallback(bool result);
    void sigNotFoundExecutable();
    void sigUpdateCheckStart();
    void sigUpdateCheckCallback(bool result);
    void sigUpdateCheckFinish(bool result);
    void sigHintUpdate(QString content);
    void sigLauncherUpdateStart();
    void sigLauncherInstall();
    void sigUpdateGameHint(QString content);
    void sigCloseAllGames();
    // Failures the scene shows to the player; `reason` is a short text for the log and display.
    void sigUpdateCheckFailed(QString reason);
    void sigInstallFailed(QString reason);
    void sigDownloadVerifyFailed(QString reason);
    // The game download could not start (no folder, a file that cannot be written).
    void sigDownloadFailed(QString reason);
    // Verify and repair of an installation made from the publisher's manifest.
    void sigVerifyAndRepair();
    void sigRepairFinished(bool ok, QString summary);
};
