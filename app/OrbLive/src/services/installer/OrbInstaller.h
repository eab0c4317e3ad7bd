#pragma once

#include "IOrbArchieve.h"

#include <QFuture>
#include <QFutureWatcher>
#include <QByteArray>
#include <QList>
#include <QObject>

#include <atomic>
#include <memory>

// Unpacks ZIP packages on the global thread pool and reports progress and
// completion on the GUI thread; empties folders without following links.
class OrbInstaller : public QObject, public IOrbArchieve {
    Q_OBJECT
    Q_INTERFACES(IOrbArchieve)
public:
    explicit OrbInstaller(QObject* parent = nullptr);
    ~OrbInstaller() override;

    void Init() override;
    void Uninit() override;
    std::string GetName() override;

    bool extractEntry(QuaZip* zip, const QString& fileName, const QString& destPath) override;
    void extractDir(const QString& archivePath, const QString& destDir, IOrbArchieve::extractType type) override;
    bool removeDirContents(const QString& path) override;
    OrbExtractReport lastExtractReport() const override;

    // Threads that inflate file entries of one extraction (0: one per core).
    void setExtractThreads(int threads);
    // Code page of entry names stored without the UTF-8 flag that are not valid
    // UTF-8 (archives made on Windows); CP437 when the name does not fit it.
    void setLegacyCodePage(const QByteArray& codePage);

    // True for folders that must never be emptied: the filesystem root, the
    // user's home and documents folders, and any folder containing one of them.
    static bool isProtectedFolder(const QString& path);

signals:
    void sigProgressValue(int progressValue, QString progressText);
    void sigExtractGameFinished();
    void sigExtractLauncherFinish();
    // Emitted just before the completion signal of the same run, with its outcome.
    void sigExtractReport(const OrbExtractReport& report);

private slots:
    void onExtractDirFinished();
    void onExtractDirProgressChanged(int progressValue);

private:
    struct Job;

    QFutureWatcher<QList<QString>> m_watcher;
    QFuture<QList<QString>> m_future;
    int m_type = extractGame;
    // Shared with the running tasks so that they never read a destroyed installer.
    std::shared_ptr<std::atomic_bool> m_cancelled = std::make_shared<std::atomic_bool>(false);
    std::shared_ptr<Job> m_job;            // the run the watcher observes
    QList<QFuture<QList<QString>>> m_tasks; // every run not known to have ended
    OrbExtractReport m_lastReport;
    int m_threads = 0;
    QByteArray m_legacyCodePage = "GBK";
};
