#include "OrbInstaller.h"

#include "ZipExtractor.h"
#include "core/ComponentRegistry.h"
#include "core/OrbLog.h"

#include "OrbLinks.h"

#include <quazip/quazip.h>
#include <quazip/quazipfileinfo.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureInterface>
#include <QStandardPaths>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>

#include <mutex>

namespace {

QString captionFor(int type)
{
    switch (type) {
    case IOrbArchieve::extractLauncher:
        return QStringLiteral("启动器安装进度");
    case IOrbArchieve::extractGame:
        return QStringLiteral("游戏安装进度");
    default:
        return {};
    }
}

bool validType(int type)
{
    return type == IOrbArchieve::extractLauncher || type == IOrbArchieve::extractGame;
}

Qt::CaseSensitivity pathCase()
{
#ifdef Q_OS_WIN
    return Qt::CaseInsensitive;
#else
    return Qt::CaseSensitive;
#endif
}

QString resolvedPath(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QDir(path).absolutePath()) : canonical;
}

} // namespace

// One extraction: the progress channel the watcher observes and the outcome the
// task leaves for the GUI thread. Shared by both, owned by neither.
struct OrbInstaller::Job {
    QFutureInterface<QList<QString>> channel;
    std::mutex mutex;
    OrbExtractReport report;
    int lastEmitted = 0; // GUI thread only
};

OrbInstaller::OrbInstaller(QObject* parent) : QObject(parent) {}

OrbInstaller::~OrbInstaller()
{
    qDebug() << "~OrbInstaller called";
    OrbRegistry::ResetCache<IOrbArchieve>();
}

void OrbInstaller::Init()
{
    connect(&m_watcher, &QFutureWatcher<QList<QString>>::finished, this, &OrbInstaller::onExtractDirFinished);
    connect(&m_watcher, &QFutureWatcher<QList<QString>>::progressValueChanged, this,
            &OrbInstaller::onExtractDirProgressChanged);
}

void OrbInstaller::Uninit()
{
    m_cancelled->store(true);
    m_future.cancel();
    // A running task stops within one buffer and rolls back; waiting here means
    // nothing is still being written below the install folder once shutdown goes on.
    // A task that has not started yet is cancelled and never runs.
    for (QFuture<QList<QString>>& task : m_tasks) {
        task.cancel();
        task.waitForFinished();
    }
    m_tasks.clear();
}

std::string OrbInstaller::GetName()
{
    return "OrbInstaller";
}

bool OrbInstaller::extractEntry(QuaZip* zip, const QString& fileName, const QString& destPath)
{
    if (!zip || zip->getMode() != QuaZip::mdUnzip)
        return false;
    if (!fileName.isEmpty() && !zip->setCurrentFile(fileName))
        return false;
    if (destPath.isEmpty())
        return false;
    // Called on its own there is no archive root: the entry's own folder is the
    // boundary, so a link entry may only lead below it.
    const bool isDir = destPath.endsWith(QLatin1Char('/'));
    const QString clean = QDir::cleanPath(QDir(QDir::cleanPath(destPath)).absolutePath());
    OrbZip::EntrySink sink(QFileInfo(clean).path());
    QuaZipFileInfo64 info;
    if (!zip->getCurrentFileInfo(&info))
        return false;
    const OrbZip::EntryMeta meta = OrbZip::entryMeta(info);
    OrbZip::Rollback changes;
    OrbZip::PendingFile file;
    OrbZip::EntryResult result = sink.prepare(zip, meta, isDir ? clean + QLatin1Char('/') : clean, &changes, &file);
    if (result.status == OrbZip::EntryStatus::Pending)
        result = OrbZip::writeFile(zip, file, {});
    if (result.status == OrbZip::EntryStatus::Failed)
        changes.undo(); // puts back what the entry would have replaced
    else if (!sink.asideFolder().isEmpty())
        QDir(sink.asideFolder()).removeRecursively();
    if (result.status != OrbZip::EntryStatus::Written)
        qDebug() << "Entry not extracted:" << destPath << result.reason;
    return result.status == OrbZip::EntryStatus::Written;
}

void OrbInstaller::setExtractThreads(int threads)
{
    m_threads = threads;
}

void OrbInstaller::setLegacyCodePage(const QByteArray& codePage)
{
    m_legacyCodePage = codePage;
}

void OrbInstaller::extractDir(const QString& archivePath, const QString& destDir, IOrbArchieve::extractType type)
{
    m_type = type;

    auto job = std::make_shared<Job>();
    job->channel.setProgressRange(0, 100);
    job->channel.reportStarted();
    job->report.type = type;
    job->report.archivePath = archivePath;
    job->report.destDir = destDir;

    // Watch before the task can report anything, so no step is lost.
    m_job = job;
    m_watcher.setFuture(job->channel.future());

    // The task holds the job and the cancellation flag, never the installer.
    std::shared_ptr<std::atomic_bool> cancelled = m_cancelled;
    const int runType = type;
    const int threads = m_threads;
    const QByteArray codePage = m_legacyCodePage;
    m_future = QtConcurrent::run(QThreadPool::globalInstance(), [job, cancelled, archivePath, destDir, runType,
                                                                 threads, codePage]() {
        OrbZip::Hooks hooks;
        hooks.threads = threads;
        hooks.legacyCodePage = codePage;
        hooks.progress = [&job](int value) { job->channel.setProgressValue(value); };
        hooks.cancelled = [&cancelled] {
            return cancelled->load() || QThread::currentThread()->isInterruptionRequested();
        };
        QList<QString> written;
        OrbExtractReport report = OrbZip::extractArchive(archivePath, destDir, hooks, &written);
        report.type = runType;
        {
            std::lock_guard<std::mutex> guard(job->mutex);
            job->report = report;
        }
        job->channel.reportFinished();
        return report.installed() ? written : QList<QString>();
    });

    for (int i = m_tasks.size() - 1; i >= 0; --i) {
        if (m_tasks.at(i).isFinished())
            m_tasks.removeAt(i);
    }
    m_tasks.append(m_future);
}

OrbExtractReport OrbInstaller::lastExtractReport() const
{
    return m_lastReport;
}

void OrbInstaller::onExtractDirProgressChanged(int progressValue)
{
    qDebug() << "Progress value changed";
    // The channel repeats its current value when the watcher attaches; only
    // steps the task actually made are passed on.
    if (!m_job || progressValue <= m_job->lastEmitted)
        return;
    m_job->lastEmitted = progressValue;
    if (validType(m_type))
        emit sigProgressValue(progressValue, captionFor(m_type));
}

void OrbInstaller::onExtractDirFinished()
{
    qDebug() << "Task finished!";
    if (m_job) {
        std::lock_guard<std::mutex> guard(m_job->mutex);
        m_lastReport = m_job->report;
    }
    const OrbExtractReport& report = m_lastReport;
    switch (report.outcome) {
    case OrbExtractReport::Complete:
        ORB_LOG(OrbLogInfo, "Extracted %d entries of %s", report.extractedCount, qUtf8Printable(report.archivePath));
        break;
    case OrbExtractReport::Partial:
        ORB_LOG(OrbLogWarning, "Extracted %d entries of %s, skipped %d unsafe entries", report.extractedCount,
                qUtf8Printable(report.archivePath), int(report.skipped.size()));
        break;
    case OrbExtractReport::Failed:
        ORB_LOG(OrbLogError, "Extraction of %s failed at '%s': %s", qUtf8Printable(report.archivePath),
                qUtf8Printable(report.failedEntry), qUtf8Printable(report.error));
        break;
    case OrbExtractReport::Cancelled:
        ORB_LOG(OrbLogWarning, "Extraction of %s cancelled", qUtf8Printable(report.archivePath));
        break;
    }

    if (!validType(m_type))
        return;
    emit sigExtractReport(m_lastReport);
    if (m_type == extractLauncher)
        emit sigExtractLauncherFinish();
    else
        emit sigExtractGameFinished();
}

bool OrbInstaller::isProtectedFolder(const QString& path)
{
    const QString target = resolvedPath(path);
    if (target.isEmpty() || QDir(target).isRoot())
        return true;
    const QString home = QDir::homePath();
    const QStringList guarded = {
        home,
        QStandardPaths::writableLocation(QStandardPaths::HomeLocation),
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
    };
    const QString prefix = target.endsWith(QLatin1Char('/')) ? target : target + QLatin1Char('/');
    for (const QString& folder : guarded) {
        if (folder.isEmpty())
            continue;
        const QString resolved = resolvedPath(folder);
        if (resolved.compare(target, pathCase()) == 0 || resolved.startsWith(prefix, pathCase()))
            return true;
    }
    return false;
}

bool OrbInstaller::removeDirContents(const QString& path)
{
    if (!QFileInfo(path).isDir()) {
        qDebug() << "Directory does not exist:" << path;
        return false;
    }
    // The game folder rule can land on such a folder when the install path
    // happens to contain the game's name; emptying it would wipe the user's files.
    if (isProtectedFolder(path)) {
        qDebug() << "Refusing to empty protected folder:" << path;
        return false;
    }

    // Hidden and system entries too: dangling links (and on Windows the shortcut
    // files extraction creates) are only listed as "system" entries.
    const QDir::Filters everything = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    const QFileInfoList entries = QDir(path).entryInfoList(everything, QDir::DirsFirst | QDir::Name);
    for (const QFileInfo& entry : entries) {
        const QString entryPath = entry.absoluteFilePath();
        if (OrbLinks::isLink(entry.filePath())) {
            // The link goes, what it points at stays. A Windows folder link or
            // junction is removed like an empty folder, which never touches its target.
            const bool removed = QFile::remove(entryPath) || (entry.isDir() && QDir().rmdir(entryPath));
            if (!removed) {
                qDebug() << "Failed to remove shortcut:" << entryPath;
                return false;
            }
            qDebug() << "Removed shortcut:" << entryPath;
        } else if (entry.isDir() && !entry.isSymLink()) {
            if (!removeDirContents(entryPath))
                return false;
            if (!QDir().rmdir(entryPath)) {
                qDebug() << "Failed to remove directory:" << entryPath;
                return false;
            }
            qDebug() << "Removed directory:" << entryPath;
        } else {
            if (!QFile::remove(entryPath)) {
                qDebug() << "Failed to remove file:" << entryPath;
                return false;
            }
            qDebug() << "Removed file:" << entryPath;
        }
    }
    // Whatever is still there (created meanwhile, or not removable) means the folder is not empty.
    if (!QDir(path).isEmpty(everything)) {
        qDebug() << "Entries remain in:" << path;
        return false;
    }
    return true;
}
