#pragma once

#include "IOrbArchieve.h"

#include <QFuture>
#include <QFutureWatcher>
#include <QList>
#include <QObject>

#include <atomic>
#include <memory>

class OrbInstaller : public QObject, public IOrbArchieve {
    Q_OBJECT
public:
    explicit OrbInstaller(QObject* parent = nullptr);
    ~OrbInstaller() override;

    void Init() override;
    void Uninit() override;
    std::string GetName() override;

    bool extractEntry(QuaZip* zip, const QString& fileName, const QString& destPath) override;
    void extractDir(const QString& archivePath, const QString& destDir, IOrbArchieve::extractType type) override;
    bool removeDirContents(const QString& path) override;

signals:
    void sigProgressValue(int progressValue, QString progressText);
    void sigExtractGameFinished();
    void sigExtractLauncherFinish();

private slots:
    void onExtractDirFinished();
    void onExtractDirProgressChanged(int progressValue);

private:
    QFutureWatcher<QList<QString>> m_watcher;
    QFuture<QList<QString>> m_future;
    int m_type = extractGame;
    // Shared with the running task so that it never reads a destroyed installer.
    std::shared_ptr<std::atomic_bool> m_cancelled = std::make_shared<std::atomic_bool>(false);
};
