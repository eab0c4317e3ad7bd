#pragma once

// Stands in for the launcher's view bridge in the scene tests: the same
// invokable methods and signals, answers from a table the test fills, a log
// of every call, and a second engine that loads the window the way the
// program does.
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

class QQmlEngine;

class FakeViewLauncher : public QObject {
    Q_OBJECT
    Q_PROPERTY(int quitRequests READ quitRequests NOTIFY quitHandled)
    Q_PROPERTY(bool lastQuitClosedWindow READ lastQuitClosedWindow NOTIFY quitHandled)

public:
    explicit FakeViewLauncher(QObject* parent = nullptr);
    ~FakeViewLauncher() override;

    // The scene's interface.
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

    // Test controls.
    Q_INVOKABLE void setAnswer(const QString& method, const QVariant& value);
    Q_INVOKABLE void clearAnswers();
    Q_INVOKABLE int callCount(const QString& method) const;
    Q_INVOKABLE QVariantList callArgs(const QString& method) const;
    Q_INVOKABLE QStringList calls() const;
    Q_INVOKABLE void clearCalls();
    Q_INVOKABLE QObject* createWindow(const QString& url = QStringLiteral("qrc:/qml/main.qml"));
    Q_INVOKABLE void destroyWindow();
    Q_INVOKABLE QObject* findInWindow(const QString& objectName) const;
    Q_INVOKABLE QStringList windowErrors() const { return m_windowErrors; }

    int quitRequests() const { return m_quitRequests; }
    bool lastQuitClosedWindow() const { return m_lastQuitClosedWindow; }

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
    // Failures the workflow reports to the scene.
    void sigUpdateCheckFailed(QString reason);
    void sigInstallFailed(QString reason);
    void sigDownloadVerifyFailed(QString reason);

    void quitHandled();

private:
    void record(const QString& method, const QVariantList& args = {}) const;
    QVariant answer(const QString& method, const QVariant& fallback) const;
    QVariant answerFor(const QString& method, const QString& key, const QVariant& fallback) const;
    void onEngineQuit();

    QVariantMap m_answers;
    mutable QList<QPair<QString, QVariantList>> m_calls;
    QQmlEngine* m_engine = nullptr;
    QPointer<QObject> m_window;
    QStringList m_windowErrors;
    int m_quitRequests = 0;
    bool m_lastQuitClosedWindow = false;
};
