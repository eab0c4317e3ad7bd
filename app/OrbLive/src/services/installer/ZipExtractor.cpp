#include "ZipExtractor.h"

#include "ZipDirectory.h"

#include <quazip/quazip.h>
#include <quazip/quazipfileinfo.h>
#include <quazip/unzip.h>

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QSet>
#include <QStorageInfo>
#include <QStringList>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

namespace OrbZip {

namespace {

// Free space where the root is or will be: its nearest existing folder.
qint64 freeSpaceFor(const QString& root)
{
    QString probe = root;
    while (!QFileInfo::exists(probe)) {
        const QString parent = parentOf(probe);
        if (parent == probe)
            break;
        probe = parent;
    }
    QStorageInfo storage(probe);
    return storage.isValid() ? storage.bytesAvailable() : -1;
}

int threadCount(int wanted, int jobs)
{
    const int cores = std::max(1, QThread::idealThreadCount());
    const int n = wanted > 0 ? wanted : cores;
    return std::max(1, std::min({n, jobs, 16}));
}

// The written destinations relative to `root` (which ends in '/'), each after
// the folders leading to it, each path once: what an installation record lists.
QStringList relativeWritten(const QString& root, const QList<QString>& paths)
{
    QStringList out;
    QSet<QString> seen;
    auto add = [&](const QString& rel) {
        if (!seen.contains(rel)) {
            seen.insert(rel);
            out.append(rel);
        }
    };
    for (const QString& path : paths) {
        if (!path.startsWith(root) || path.size() == root.size())
            continue;
        const QString rel = path.mid(root.size());
        for (qsizetype slash = rel.indexOf(QLatin1Char('/')); slash >= 0 && slash + 1 < rel.size();
             slash = rel.indexOf(QLatin1Char('/'), slash + 1))
            add(rel.left(slash + 1));
        add(rel);
    }
    return out;
}

// Sizes, CRC, method and flags as the directory reader read them: the overlap
// and free-space checks judged those numbers, not QuaZip's.
EntryMeta storedMeta(const QuaZipFileInfo64& info, const CentralEntry& stored)
{
    EntryMeta meta = entryMeta(info);
    meta.method = stored.method;
    meta.flags = stored.flags;
    meta.crc = stored.crc;
    meta.compressedSize = stored.compressedSize;
    meta.uncompressedSize = stored.uncompressedSize;
    return meta;
}

// One extraction: a pre-scan that judges the archive as a whole before anything
// is written, a pass in archive order on the calling thread (checks, folders,
// links, files queued), then a pool that inflates the queued files.
class ArchiveRun {
public:
    ArchiveRun(const QString& archivePath, const QString& destDir, const Hooks& hooks);
    OrbExtractReport run(QList<QString>* written);

private:
    bool open();
    bool countEntries();
    bool readDirectory();
    bool fitsFreeSpace();
    bool isTheArchive(const QString& dest) const;
    bool prepareAll();
    bool prepareCurrent(int index, const QString& storedName, const QString& dest, QString* reason);
    bool inflateAll();
    void recordPositions();
    void runPool(int threads);
    void inflateWorker(QuaZip* handle);
    void noteFailure(const QString& reason, int index);
    OrbExtractReport finish(QList<QString>* written);
    void stepDone();
    bool isCancelled() const { return m_hooks.cancelled && m_hooks.cancelled(); }
    bool giveUp(OrbExtractReport::Outcome outcome, const QString& error);
    bool cancelledNow();
    bool fail(const QString& error);

    const QString m_archivePath;
    const QString m_destDir;
    const Hooks& m_hooks;
    OrbExtractReport m_report;
    QuaZip m_zip;
    QString m_root;
    int m_count = 0;
    QList<CentralEntry> m_central;
    QFileInfo m_archiveInfo;
    QString m_archiveCanonical;
    std::unique_ptr<EntrySink> m_sink;
    Rollback m_rollback;
    std::vector<bool> m_isWritten;
    std::vector<QString> m_destinations;
    std::vector<PendingFile> m_pending;
    std::vector<unz64_file_pos> m_positions;
    std::atomic_int m_done {0};
    std::atomic_size_t m_next {0};
    std::atomic_bool m_stop {false};
    QMutex m_failureMutex;
    QString m_failure;
    QString m_failureEntry;
};

ArchiveRun::ArchiveRun(const QString& archivePath, const QString& destDir, const Hooks& hooks)
    : m_archivePath(archivePath), m_destDir(destDir), m_hooks(hooks), m_zip(archivePath)
{
    m_report.archivePath = archivePath;
    m_report.destDir = destDir;
    m_report.outcome = OrbExtractReport::Failed;
}

// Ends a run before anything was written.
bool ArchiveRun::fail(const QString& error)
{
    m_report.error = error;
    if (m_zip.isOpen())
        m_zip.close();
    return false;
}

bool ArchiveRun::open()
{
    // An empty folder name would mean the working folder: never a place to install into.
    if (m_destDir.trimmed().isEmpty())
        return fail(QStringLiteral("no destination folder"));
    if (!m_zip.open(QuaZip::mdUnzip))
        return fail(QStringLiteral("cannot open the archive"));
    m_root = QDir(QDir::cleanPath(m_destDir)).absolutePath();
    if (!m_root.endsWith(QLatin1Char('/')))
        m_root += QLatin1Char('/');
    return true;
}

bool ArchiveRun::countEntries()
{
    if (!m_zip.goToFirstFile()) {
        const int error = m_zip.getZipError();
        return fail(error == 0 || error == UNZ_END_OF_LIST_OF_FILE ? QStringLiteral("archive has no entries")
                                                                   : QStringLiteral("cannot read the archive's directory"));
    }
    int count = 0;
    do {
        ++count;
    } while (m_zip.goToNextFile());
    if (m_zip.getZipError() != 0)
        return fail(QStringLiteral("cannot read the archive's directory"));
    m_count = count;
    m_report.entryCount = count;
    return true;
}

// The directory as stored: names as bytes, sizes and where the data lie.
bool ArchiveRun::readDirectory()
{
    QString problem;
    if (!readCentralDirectory(m_archivePath, &m_central, &problem) || m_central.size() != m_count)
        return fail(problem.isEmpty() ? QStringLiteral("cannot read the archive's directory") : problem);
    return true;
}

// The output is bounded by the declared sizes (an entry cannot inflate past its
// own); all of it must fit before anything is written.
bool ArchiveRun::fitsFreeSpace()
{
    quint64 declared = 0;
    for (const CentralEntry& e : qAsConst(m_central))
        declared += e.uncompressedSize;
    const qint64 available = freeSpaceFor(m_root);
    if (available >= 0 && declared > quint64(available))
        return fail(QStringLiteral("not enough free space: the archive unpacks to %1 bytes, %2 are free")
                        .arg(declared)
                        .arg(available));
    return true;
}

// The package may lie inside the destination (download and install folder
// chosen alike); an entry of the same name must not overwrite it while it is read.
bool ArchiveRun::isTheArchive(const QString& dest) const
{
    if (QFileInfo(dest).fileName().compare(m_archiveInfo.fileName(), Qt::CaseInsensitive) != 0)
        return false;
    const QString canonical = QFileInfo(dest).canonicalFilePath();
    return !canonical.isEmpty() && canonical == m_archiveCanonical;
}

void ArchiveRun::stepDone()
{
    const int now = ++m_done;
    if (m_hooks.progress)
        m_hooks.progress(now * 100 / m_count);
}

// Takes back everything the run changed; always false, so callers return it.
bool ArchiveRun::giveUp(OrbExtractReport::Outcome outcome, const QString& error)
{
    m_rollback.undo();
    const QString aside = m_sink ? m_sink->asideFolder() : QString();
    if (!aside.isEmpty() &&
        QDir(aside).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        QDir().rmdir(aside);
    m_report.outcome = outcome;
    m_report.error = error;
    m_report.extractedCount = 0;
    if (m_zip.isOpen())
        m_zip.close();
    return false;
}

bool ArchiveRun::cancelledNow()
{
    qDebug() << "Task has been cancelled.";
    return giveUp(OrbExtractReport::Cancelled, QStringLiteral("cancelled"));
}

// In archive order, on this thread: every check, folders, links, and moving
// aside what files replace. Files are only queued.
bool ArchiveRun::prepareAll()
{
    m_zip.goToFirstFile();
    int index = 0;
    for (bool more = true; more; more = m_zip.goToNextFile(), ++index) {
        const CentralEntry& stored = m_central.at(index);
        const QString storedName = decodeEntryName(stored.rawName, stored.flags, m_hooks.legacyCodePage);
        // Archives made on Windows separate folders with backslashes; read them as
        // separators and judge the result like any other name.
        QString name = storedName;
        name.replace(QLatin1Char('\\'), QLatin1Char('/'));
        QString reason = nameProblem(name);
        const QString dest = reason.isEmpty() ? m_sink->destinationFor(name, &reason) : QString();
        if (reason.isEmpty() && isTheArchive(dest))
            reason = QStringLiteral("would overwrite the package being extracted");
        if (reason.isEmpty() && !prepareCurrent(index, storedName, dest, &reason))
            return false;
        if (!reason.isEmpty()) {
            m_report.skipped.append({storedName, reason});
            qDebug() << "Skipped entry" << storedName << "-" << reason;
        }
        if (isCancelled())
            return cancelledNow();
    }
    if (m_zip.getZipError() != 0)
        return giveUp(OrbExtractReport::Failed, QStringLiteral("cannot read the archive's directory"));
    return true;
}

// The current entry through the sink; `reason` receives why it was skipped.
// False when the run ends here.
bool ArchiveRun::prepareCurrent(int index, const QString& storedName, const QString& dest, QString* reason)
{
    QuaZipFileInfo64 info;
    if (!m_zip.getCurrentFileInfo(&info)) {
        m_report.failedEntry = storedName;
        return giveUp(OrbExtractReport::Failed, QStringLiteral("cannot read the entry's information"));
    }
    PendingFile file;
    const EntryResult result = m_sink->prepare(&m_zip, storedMeta(info, m_central.at(index)), dest, &m_rollback, &file);
    switch (result.status) {
    case EntryStatus::Failed:
        if (isCancelled())
            return cancelledNow();
        m_report.failedEntry = storedName;
        return giveUp(OrbExtractReport::Failed, result.reason);
    case EntryStatus::Skipped:
        *reason = result.reason;
        break;
    case EntryStatus::Pending:
        m_destinations[size_t(index)] = dest;
        file.index = index;
        m_pending.push_back(file);
        break;
    case EntryStatus::Written:
        m_destinations[size_t(index)] = dest;
        m_isWritten[size_t(index)] = true;
        stepDone();
        break;
    }
    return true;
}

void ArchiveRun::recordPositions()
{
    m_positions.resize(size_t(m_count));
    m_zip.goToFirstFile();
    int i = 0;
    for (bool more = true; more && i < m_count; more = m_zip.goToNextFile(), ++i)
        unzGetFilePos64(m_zip.getUnzFile(), &m_positions[size_t(i)]);
    // QuaZip opens entries only while it knows of a current one; the workers
    // then move between entries through minizip's file positions.
    m_zip.goToFirstFile();
}

void ArchiveRun::noteFailure(const QString& reason, int index)
{
    QMutexLocker locker(&m_failureMutex);
    if (m_failure.isEmpty()) {
        m_failure = reason;
        m_failureEntry = decodeEntryName(m_central.at(index).rawName, m_central.at(index).flags,
                                         m_hooks.legacyCodePage);
    }
}

void ArchiveRun::inflateWorker(QuaZip* handle)
{
    for (;;) {
        if (m_stop.load())
            return;
        const size_t i = m_next.fetch_add(1);
        if (i >= m_pending.size())
            return;
        const PendingFile& file = m_pending[i];
        EntryResult result;
        if (unzGoToFilePos64(handle->getUnzFile(), &m_positions[size_t(file.index)]) != UNZ_OK)
            result = {EntryStatus::Failed, QStringLiteral("cannot find the entry")};
        else
            result = writeFile(handle, file, m_hooks.cancelled);
        if (result.status != EntryStatus::Written) {
            noteFailure(result.reason, file.index);
            m_stop = true;
            return;
        }
        stepDone();
        if (isCancelled()) {
            m_stop = true;
            return;
        }
    }
}

// Each worker reads through its own handle on the archive.
void ArchiveRun::runPool(int threads)
{
    QThreadPool pool;
    pool.setMaxThreadCount(threads);
    std::vector<std::unique_ptr<QuaZip>> handles;
    for (int t = 0; t < threads; ++t) {
        handles.push_back(std::make_unique<QuaZip>(m_archivePath));
        QuaZip* handle = handles.back().get();
        if (!handle->open(QuaZip::mdUnzip) || !handle->goToFirstFile()) {
            m_stop = true;
            QMutexLocker locker(&m_failureMutex);
            m_failure = QStringLiteral("cannot open the archive");
            break;
        }
        pool.start([this, handle] { inflateWorker(handle); });
    }
    pool.waitForDone();
    for (auto& handle : handles)
        handle->close();
}

// File data: independent entries inflated by a small pool.
bool ArchiveRun::inflateAll()
{
    recordPositions();
    const int threads = threadCount(m_hooks.threads, int(m_pending.size()));
    if (threads <= 1)
        inflateWorker(&m_zip);
    else
        runPool(threads);
    if (isCancelled())
        return cancelledNow();
    if (!m_failure.isEmpty()) {
        m_report.failedEntry = m_failureEntry;
        return giveUp(OrbExtractReport::Failed, m_failure);
    }
    // No failure and no cancellation: the workers wrote every pending file.
    for (const PendingFile& file : m_pending)
        m_isWritten[size_t(file.index)] = true;
    return true;
}

OrbExtractReport ArchiveRun::finish(QList<QString>* written)
{
    m_zip.close();
    if (m_zip.getZipError() != 0) {
        giveUp(OrbExtractReport::Failed, QStringLiteral("archive reported an error on close"));
        return m_report;
    }
    QList<QString> paths;
    for (int i = 0; i < m_count; ++i) {
        if (m_isWritten[size_t(i)]) {
            paths.append(m_destinations[size_t(i)]);
            ++m_report.extractedCount;
        }
    }
    if (m_report.extractedCount == 0) {
        giveUp(OrbExtractReport::Failed, QStringLiteral("no entry could be extracted safely"));
        return m_report;
    }
    // Success: what the run replaced is no longer needed.
    m_rollback.clear();
    if (!m_sink->asideFolder().isEmpty())
        QDir(m_sink->asideFolder()).removeRecursively();

    m_report.outcome = m_report.skipped.isEmpty() ? OrbExtractReport::Complete : OrbExtractReport::Partial;
    m_report.written = relativeWritten(m_root, paths);
    if (written)
        *written = paths;
    return m_report;
}

OrbExtractReport ArchiveRun::run(QList<QString>* written)
{
    if (!open() || !countEntries() || !readDirectory() || !fitsFreeSpace())
        return m_report;
    m_archiveInfo = QFileInfo(m_archivePath);
    m_archiveCanonical = m_archiveInfo.canonicalFilePath();
    m_sink = std::make_unique<EntrySink>(m_root);
    m_isWritten.assign(size_t(m_count), false);
    m_destinations.assign(size_t(m_count), QString());
    if (isCancelled()) {
        cancelledNow();
        return m_report;
    }
    if (!prepareAll() || !inflateAll())
        return m_report;
    return finish(written);
}

} // namespace

OrbExtractReport extractArchive(const QString& archivePath, const QString& destDir, const Hooks& hooks,
                                QList<QString>* written)
{
    ArchiveRun run(archivePath, destDir, hooks);
    return run.run(written);
}

} // namespace OrbZip
