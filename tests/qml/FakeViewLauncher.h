#pragma once

// Stands in for the launcher's view bridge in the scene tests. It derives from
// the real bridge, so the scene's signals are the bridge's own and cannot
// drift; every invokable method is shadowed here with an answer from a table
// the test fills (unshadowedMethods() names any the double forgot), calls are
// logged, and a second engine loads the window the way the program does.
#include "ui/OrbViewLauncher.h"

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

class QQmlEngine;

class FakeViewLauncher : public OrbViewLauncher {
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
    Q_INVOKABLE QString NearestExistingFolder(QString path) const;
    Q_INVOKABLE bool IsCreatablePath(QString path) const;
    Q_INVOKABLE bool IsRepairAvailable() const;
    Q_INVOKABLE void VerifyAndRepair();

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
    // The launcher state keys as the model names them (IsDownloadStart,
    // IsDownloadFinish, IsInstallGmae, IsUpdateGmaeHint) become the answers of
    // the matching queries.
    Q_INVOKABLE void setFlags(const QVariant& flags);
    // Emits one of the bridge's signals by name, the arguments converted to its
    // parameter types; false when there is no such signal or an argument does not fit.
    Q_INVOKABLE bool emitSignal(const QString& name, const QVariant& args = QVariant());
    // The recorded signal sequences, tests/qml/fixtures/*.json, in name order.
    Q_INVOKABLE QVariantList fixtures() const;
    // Invokable methods of the real bridge this double does not shadow.
    Q_INVOKABLE QStringList unshadowedMethods() const;

    int quitRequests() const { return m_quitRequests; }
    bool lastQuitClosedWindow() const { return m_lastQuitClosedWindow; }

signals:
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
