#include "ZipExtractor.h"

#include "ZipDirectory.h"

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipfileinfo.h>
#include <quazip/unzip.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QAtomicInt>
#include <QCoreApplication>
#include <QDateTime>
#include <QMutex>
#include <QStorageInfo>
#include <QStringList>
#include <QThread>
#include <QThreadPool>

#include <zlib.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <vector>

namespace OrbZip {

namespace {

// Entries are streamed through fixed buffers (compressed in, inflated out), so
// memory does not grow with entry size.
constexpr qint64 kInBufferSize = 64 * 1024;
constexpr qint64 kOutBufferSize = 64 * 1024;
// Polling the cancellation flag per buffer would cost more than it saves.
constexpr qint64 kCancelCheckBytes = 256 * 1024;
// A link target longer than any path a system accepts is not a link target.
constexpr qint64 kMaxLinkTarget = 4096;

bool isLink(const QFileInfo& info)
{
    // Junctions are links too: following one would leave the root just the same.
    return info.isSymLink() || info.isJunction();
}

bool hasDriveLetter(const QString& segment)
{
    return segment.size() >= 2 && segment.at(1) == QLatin1Char(':') && segment.at(0).isLetter() &&
           segment.at(0).unicode() < 128;
}

// Problems shared by entry names and link targets: anything that is not a plain
// relative path with '/' separators on every platform.
QString pathTextProblem(const QString& text)
{
    if (text.isEmpty())
        return QStringLiteral("empty name");
    if (text.contains(QChar(0)))
        return QStringLiteral("contains a NUL byte");
    if (text.contains(QLatin1Char('\\')))
        return QStringLiteral("contains a backslash");
    if (text.startsWith(QLatin1Char('/')))
        return QStringLiteral("absolute path");
    const QStringList segments = text.split(QLatin1Char('/'));
    for (const QString& segment : segments) {
        if (hasDriveLetter(segment))
            return QStringLiteral("carries a drive letter");
    }
    // On Windows a colon anywhere else names an alternate data stream, not a file.
    if (text.contains(QLatin1Char(':')))
        return QStringLiteral("contains a colon");
    return {};
}

// Renames the entry itself: a link is moved as a link, dangling or not (QFile::rename
// asks whether the target exists and may fall back to copying what a link points at).
bool renameEntry(const QString& from, const QString& to)
{
    auto fsPath = [](const QString& p) {
#ifdef Q_OS_WIN
        return std::filesystem::path(p.toStdWString());
#else
        return std::filesystem::path(QFile::encodeName(p).toStdString());
#endif
    };
    std::error_code error;
    std::filesystem::rename(fsPath(from), fsPath(to), error);
    return !error;
}

QString parentOf(const QString& path)
{
    return QFileInfo(path).path();
}

bool insideOrEqual(const QString& path, const QString& folderNoSlash)
{
    return path == folderNoSlash || path.startsWith(folderNoSlash + QLatin1Char('/'));
}

} // namespace

QString nameProblem(const QString& name)
{
    return pathTextProblem(name);
}

EntryMeta entryMeta(const QuaZipFileInfo64& info)
{
    EntryMeta meta;
    meta.permissions = info.getPermissions();
    meta.isLink = info.isSymbolicLink();
    meta.method = info.method;
    meta.flags = info.flags;
    meta.crc = info.crc;
    meta.compressedSize = info.compressedSize;
    meta.uncompressedSize = info.uncompressedSize;
    return meta;
}

// ---- Rollback -------------------------------------------------------------

void Rollback::addFile(const QString& path)
{
    m_items.append({path, File, {}});
}

void Rollback::addDir(const QString& path)
{
    m_items.append({path, Dir, {}});
}

void Rollback::addMovedAside(const QString& original, const QString& aside)
{
    m_items.append({original, MovedAside, aside});
}

int Rollback::undo()
{
    int leftovers = 0;
    for (auto it = m_items.crbegin(); it != m_items.crend(); ++it) {
        bool ok = true;
        switch (it->kind) {
        case File:
            // QFile::remove never follows a link. A file a worker never got to is fine.
            ok = QFile::remove(it->path) || (!QFileInfo(it->path).exists() && !QFileInfo(it->path).isSymLink());
            break;
        case Dir:
            ok = QDir().rmdir(it->path);
            break;
        case MovedAside:
            // The entry written in its place was removed just before (newest first).
            ok = renameEntry(it->aside, it->path);
            break;
        }
        if (!ok) {
            ++leftovers;
            qDebug() << "Rollback could not restore" << it->path;
        }
    }
    m_items.clear();
    return leftovers;
}

// ---- EntrySink ------------------------------------------------------------

EntrySink::EntrySink(const QString& root)
    : m_root(root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/'))
{
    m_rootNoSlash = m_root.size() > 1 ? m_root.left(m_root.size() - 1) : m_root;
}

QString EntrySink::destinationFor(const QString& name, QString* reason) const
{
    const QString normalised = QDir::cleanPath(m_root + name);
    if (!normalised.startsWith(m_root)) {
        if (reason)
            *reason = normalised == m_rootNoSlash ? QStringLiteral("names the destination folder itself")
                                                  : QStringLiteral("climbs out of the destination");
        return {};
    }
    return name.endsWith(QLatin1Char('/')) ? normalised + QLatin1Char('/') : normalised;
}

bool EntrySink::ensureRoot(Rollback* rollback)
{
    if (!m_canonicalRoot.isEmpty())
        return true;
    if (!makeDirs(m_rootNoSlash, rollback))
        return false;
    m_canonicalRoot = QFileInfo(m_rootNoSlash).canonicalFilePath();
    return !m_canonicalRoot.isEmpty();
}

bool EntrySink::makeDirs(const QString& dir, Rollback* rollback)
{
    if (m_realDirs.contains(dir))
        return true;
    QStringList missing;
    QString probe = dir;
    while (!QFileInfo::exists(probe) && !QFileInfo(probe).isSymLink()) {
        missing.prepend(probe);
        const QString parent = parentOf(probe);
        if (parent == probe)
            break;
        probe = parent;
    }
    for (const QString& level : qAsConst(missing)) {
        if (!QDir().mkdir(level))
            return false;
        if (rollback)
            rollback->addDir(level);
        m_realDirs.insert(level);
    }
    const QFileInfo info(dir);
    if (!info.isDir())
        return false;
    if (dir.startsWith(m_root) && !isLink(info))
        m_realDirs.insert(dir);
    return true;
}

// True when a folder between the root and `path` (both excluded) is a link.
bool EntrySink::passesThroughLink(const QString& path)
{
    const QStringList segments = path.mid(m_root.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString current = m_rootNoSlash;
    for (int i = 0; i + 1 < segments.size(); ++i) {
        current += QLatin1Char('/') + segments.at(i);
        if (m_realDirs.contains(current))
            continue;
        const QFileInfo info(current);
        if (isLink(info))
            return true;
        if (!info.exists())
            return false; // nothing below can exist yet; we create real folders
        if (info.isDir())
            m_realDirs.insert(current);
    }
    return false;
}

QString EntrySink::linkTargetProblem(const QString& target, const QString& linkPath)
{
    const QString textProblem = pathTextProblem(target);
    if (!textProblem.isEmpty())
        return QStringLiteral("link target ") + textProblem;

    // ".." after a name would be resolved from wherever that name leads, not
    // from where it stands, so only leading climbs can be judged as text.
    int climbs = 0;
    bool seenName = false;
    for (const QString& segment : target.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (segment == QLatin1String("."))
            continue;
        if (segment == QLatin1String("..")) {
            if (seenName)
                return QStringLiteral("link target climbs after a name");
            ++climbs;
        } else {
            seenName = true;
        }
    }
    const QString linkDir = parentOf(linkPath);
    const int depth = linkDir.mid(m_rootNoSlash.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts).size();
    if (climbs > depth)
        return QStringLiteral("link target points outside the destination");

    const QString resolved = QDir::cleanPath(linkDir + QLatin1Char('/') + target);
    if (!insideOrEqual(resolved, m_rootNoSlash))
        return QStringLiteral("link target points outside the destination");

    // What already exists along the target may itself be a link: follow the
    // existing part for real and make sure it stays inside.
    QString current = m_rootNoSlash;
    for (const QString& segment : resolved.mid(m_rootNoSlash.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        const QString next = current + QLatin1Char('/') + segment;
        const QFileInfo info(next);
        if (!info.exists()) {
            if (isLink(info))
                return QStringLiteral("link target passes through a dangling link");
            break;
        }
        current = next;
    }
    const QString canonical = QFileInfo(current).canonicalFilePath();
    if (canonical.isEmpty() || !insideOrEqual(canonical, m_canonicalRoot))
        return QStringLiteral("link target resolves outside the destination");
    return {};
}

// A file or link that an entry replaces is kept until the run has succeeded:
// a failed update must leave the previous installation as it was.
bool EntrySink::moveAside(const QString& path, Rollback* rollback)
{
    if (m_aside.isEmpty()) {
        const QString name = QStringLiteral(".orb-replaced-%1-%2")
                                 .arg(QCoreApplication::applicationPid())
                                 .arg(QDateTime::currentMSecsSinceEpoch());
        if (!QDir().mkdir(m_root + name))
            return false;
        m_aside = m_root + name;
    }
    const QString aside = m_aside + QLatin1Char('/') + QString::number(++m_asideCount);
    if (!renameEntry(path, aside))
        return false;
    rollback->addMovedAside(path, aside);
    return true;
}

EntryResult EntrySink::prepare(QuaZip* zip, const EntryMeta& meta, const QString& destPath, Rollback* rollback,
                               PendingFile* pending)
{
    auto failed = [](const QString& why) { return EntryResult{EntryStatus::Failed, why}; };
    auto skipped = [](const QString& why) { return EntryResult{EntryStatus::Skipped, why}; };

    if (!zip || zip->getMode() != QuaZip::mdUnzip)
        return failed(QStringLiteral("archive is not open for reading"));
    if (!destPath.startsWith(m_root) || destPath.size() <= m_root.size())
        return skipped(QStringLiteral("destination is not below the destination folder"));
    if (!m_aside.isEmpty() && insideOrEqual(QDir::cleanPath(destPath), m_aside))
        return skipped(QStringLiteral("destination is the installer's own folder"));

    const bool isDir = destPath.endsWith(QLatin1Char('/'));
    const QString path = isDir ? destPath.left(destPath.size() - 1) : destPath;
    if (passesThroughLink(path))
        return skipped(QStringLiteral("destination passes through an existing link"));
    // Files are written later, possibly in parallel: a second entry for the same
    // place would race the first (or replace it by a link while it is written).
    if (!isDir && m_claimed.contains(path))
        return skipped(QStringLiteral("duplicate entry name"));
    const QFileInfo existing(path);
    const bool existingIsLink = isLink(existing);

    if (!ensureRoot(rollback))
        return failed(QStringLiteral("cannot create the destination folder"));

    if (isDir) {
        if (existingIsLink)
            return skipped(QStringLiteral("destination is an existing link"));
        if (m_claimed.contains(path))
            return failed(QStringLiteral("a file of the archive stands where a folder goes"));
        if (!makeDirs(path, rollback))
            return failed(QStringLiteral("cannot create the folder"));
        // Known to be a real folder now, so the change lands on it, not on a link target.
        if (meta.permissions != QFile::Permissions() && !QFile::setPermissions(path, meta.permissions))
            qDebug() << "Cannot apply permissions to" << path;
        return {EntryStatus::Written, {}};
    }

    if (meta.isLink) {
        QuaZipFile entry(zip);
        if (!entry.open(QIODevice::ReadOnly) || entry.getZipError() != 0)
            return failed(QStringLiteral("cannot open the entry"));
        QByteArray bytes;
        char chunk[512];
        while (!entry.atEnd() && bytes.size() <= kMaxLinkTarget) {
            const qint64 n = entry.read(chunk, sizeof(chunk));
            if (n < 1)
                break;
            bytes.append(chunk, static_cast<int>(n));
        }
        if (bytes.size() > kMaxLinkTarget)
            return skipped(QStringLiteral("link target is too long"));
        entry.close();
        if (entry.getZipError() != 0)
            return failed(QStringLiteral("entry data are damaged"));
        const QString target = QFile::decodeName(bytes);
        const QString problem = linkTargetProblem(target, path);
        if (!problem.isEmpty())
            return skipped(problem);
        if (!makeDirs(parentOf(path), rollback))
            return failed(QStringLiteral("cannot create the folder"));
        // A link or file at this place (a previous installation) is replaced;
        // a link goes as such, never what it points at. A folder stays and fails the link.
        if ((existingIsLink || (existing.exists() && !existing.isDir())) && !moveAside(path, rollback))
            return failed(QStringLiteral("cannot replace the existing file"));
        // Link entries carry mode bits too; chmod would reach the target, so none are applied.
        if (!QFile::link(target, path))
            return failed(QStringLiteral("cannot create the link"));
        rollback->addFile(path);
        m_claimed.insert(path);
        return {EntryStatus::Written, {}};
    }

    if (existingIsLink)
        return skipped(QStringLiteral("destination is an existing link"));
    if (!makeDirs(parentOf(path), rollback))
        return failed(QStringLiteral("cannot create the folder"));
    if (existing.exists()) {
        if (existing.isDir())
            return failed(QStringLiteral("a folder stands where the file goes"));
        if (!moveAside(path, rollback))
            return failed(QStringLiteral("cannot replace the existing file"));
    }
    rollback->addFile(path);
    m_claimed.insert(path);
    pending->path = path;
    pending->meta = meta;
    return {EntryStatus::Pending, {}};
}

// ---- file data --------------------------------------------------------------

EntryResult writeFile(QuaZip* zip, const PendingFile& file, const std::function<bool()>& cancelled)
{
    auto failed = [](const QString& why) { return EntryResult{EntryStatus::Failed, why}; };
    const EntryMeta& meta = file.meta;
    if (meta.flags & 0x0001)
        return failed(QStringLiteral("entry is encrypted"));
    if (meta.method != 0 && meta.method != Z_DEFLATED)
        return failed(QStringLiteral("unsupported compression method"));

    QuaZipFile entry(zip);
    int method = 0;
    int level = 0;
    if (!entry.open(QIODevice::ReadOnly, &method, &level, true) || entry.getZipError() != 0)
        return failed(QStringLiteral("cannot open the entry"));

    // A new file: never one that a link or another process put there meanwhile.
    QFile out(file.path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return failed(QStringLiteral("cannot open the destination file"));
    auto abort = [&](const QString& why) {
        out.close();
        QFile::remove(file.path);
        return failed(why);
    };

    z_stream zs {};
    const bool deflated = meta.method == Z_DEFLATED;
    if (deflated && inflateInit2(&zs, -MAX_WBITS) != Z_OK)
        return abort(QStringLiteral("cannot start inflating"));
    struct InflateEnd {
        z_stream* zs;
        bool active;
        ~InflateEnd()
        {
            if (active)
                inflateEnd(zs);
        }
    } inflateGuard {&zs, deflated};

    std::vector<char> in(static_cast<size_t>(kInBufferSize));
    std::vector<char> outBuffer(static_cast<size_t>(kOutBufferSize));
    quint64 remainingIn = meta.compressedSize;
    quint64 produced = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    qint64 sinceCheck = 0;
    bool streamEnded = !deflated;

    auto consume = [&](const char* data, qint64 n) -> QString {
        produced += quint64(n);
        // The declared size bounds the output: a stream that goes on is a bomb or damage.
        if (produced > meta.uncompressedSize)
            return QStringLiteral("entry inflates past its declared size");
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data), uInt(n));
        if (out.write(data, n) != n)
            return QStringLiteral("cannot write the destination file");
        sinceCheck += n;
        if (sinceCheck >= kCancelCheckBytes) {
            sinceCheck = 0;
            if (cancelled && cancelled())
                return QStringLiteral("cancelled");
        }
        return {};
    };

    // One inflate call into the output buffer, its output consumed.
    auto inflateStep = [&](int& rc, qint64& n) -> QString {
        zs.next_out = reinterpret_cast<Bytef*>(outBuffer.data());
        zs.avail_out = uInt(kOutBufferSize);
        rc = inflate(&zs, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
            return QStringLiteral("entry data are damaged");
        n = kOutBufferSize - qint64(zs.avail_out);
        if (n > 0) {
            const QString problem = consume(outBuffer.data(), n);
            if (!problem.isEmpty())
                return problem;
        }
        streamEnded = rc == Z_STREAM_END;
        return {};
    };

    while (remainingIn > 0) {
        const qint64 want = qint64(std::min<quint64>(remainingIn, quint64(kInBufferSize)));
        const qint64 got = entry.read(in.data(), want);
        if (got < 1)
            return abort(QStringLiteral("cannot read the entry"));
        remainingIn -= quint64(got);
        if (!deflated) {
            const QString problem = consume(in.data(), got);
            if (!problem.isEmpty())
                return abort(problem);
            continue;
        }
        if (streamEnded)
            return abort(QStringLiteral("entry data are damaged")); // bytes after the stream's end
        zs.next_in = reinterpret_cast<Bytef*>(in.data());
        zs.avail_in = uInt(got);
        int rc = Z_OK;
        qint64 n = 0;
        while (zs.avail_in > 0 && !streamEnded) {
            const QString problem = inflateStep(rc, n);
            if (!problem.isEmpty())
                return abort(problem);
            // Input left but no progress: the stream is broken.
            if (rc == Z_BUF_ERROR || (rc == Z_OK && n == 0 && zs.avail_in > 0))
                return abort(QStringLiteral("entry data are damaged"));
        }
        // Output still held inside zlib once the input is used up.
        while (!streamEnded && zs.avail_in == 0 && remainingIn == 0) {
            const QString problem = inflateStep(rc, n);
            if (!problem.isEmpty())
                return abort(problem);
            if (n == 0 && !streamEnded)
                break;
        }
    }
    if (!streamEnded || produced != meta.uncompressedSize || crc != meta.crc)
        return abort(QStringLiteral("entry data are damaged"));
    entry.close();
    if (entry.getZipError() != 0)
        return abort(QStringLiteral("entry data are damaged"));
    if (!out.flush())
        return abort(QStringLiteral("cannot write the destination file"));
    // Through the open handle: the mode lands on the file just written, even
    // if its name were swapped for a link meanwhile.
    if (meta.permissions != QFile::Permissions() && !out.setPermissions(meta.permissions))
        qDebug() << "Cannot apply permissions to" << file.path;
    out.close();
    if (out.error() != QFileDevice::NoError)
        return abort(QStringLiteral("cannot write the destination file"));
    return {EntryStatus::Written, {}};
}

// ---- whole archive --------------------------------------------------------

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

} // namespace

OrbExtractReport extractArchive(const QString& archivePath, const QString& destDir, const Hooks& hooks,
                                QList<QString>* written)
{
    OrbExtractReport report;
    report.archivePath = archivePath;
    report.destDir = destDir;
    report.outcome = OrbExtractReport::Failed;
    auto isCancelled = [&hooks] { return hooks.cancelled && hooks.cancelled(); };

    // An empty folder name would mean the working folder: never a place to install into.
    if (destDir.trimmed().isEmpty()) {
        report.error = QStringLiteral("no destination folder");
        return report;
    }

    QuaZip zip(archivePath);
    if (!zip.open(QuaZip::mdUnzip)) {
        report.error = QStringLiteral("cannot open the archive");
        return report;
    }

    QString root = QDir(QDir::cleanPath(destDir)).absolutePath();
    if (!root.endsWith(QLatin1Char('/')))
        root += QLatin1Char('/');

    if (!zip.goToFirstFile()) {
        const int error = zip.getZipError();
        report.error = error == 0 || error == UNZ_END_OF_LIST_OF_FILE ? QStringLiteral("archive has no entries")
                                                                      : QStringLiteral("cannot read the archive's directory");
        zip.close();
        return report;
    }
    int count = 0;
    do {
        ++count;
    } while (zip.goToNextFile());
    if (zip.getZipError() != 0) {
        report.error = QStringLiteral("cannot read the archive's directory");
        zip.close();
        return report;
    }
    report.entryCount = count;

    // The directory as stored: names as bytes, sizes and where the data lie.
    QList<CentralEntry> central;
    QString directoryProblem;
    if (!readCentralDirectory(archivePath, &central, &directoryProblem) || central.size() != count) {
        report.error = directoryProblem.isEmpty() ? QStringLiteral("cannot read the archive's directory")
                                                  : directoryProblem;
        zip.close();
        return report;
    }
    // The output is bounded by the declared sizes (an entry cannot inflate past
    // its own); all of it must fit before anything is written.
    quint64 declared = 0;
    for (const CentralEntry& e : central)
        declared += e.uncompressedSize;
    const qint64 available = freeSpaceFor(root);
    if (available >= 0 && declared > quint64(available)) {
        report.error = QStringLiteral("not enough free space: the archive unpacks to %1 bytes, %2 are free")
                           .arg(declared)
                           .arg(available);
        zip.close();
        return report;
    }

    // The package may lie inside the destination (download and install folder
    // chosen alike); an entry of the same name must not overwrite it while it is read.
    const QFileInfo archiveInfo(archivePath);
    const QString archiveCanonical = archiveInfo.canonicalFilePath();
    auto isTheArchive = [&](const QString& dest) {
        if (QFileInfo(dest).fileName().compare(archiveInfo.fileName(), Qt::CaseInsensitive) != 0)
            return false;
        const QString canonical = QFileInfo(dest).canonicalFilePath();
        return !canonical.isEmpty() && canonical == archiveCanonical;
    };

    EntrySink sink(root);
    Rollback rollback;
    QList<QString> paths;
    std::vector<bool> isWritten(static_cast<size_t>(count), false);
    std::vector<QString> destinations(static_cast<size_t>(count));
    std::vector<PendingFile> pending;
    std::atomic_int done {0};
    auto stepDone = [&] {
        const int now = ++done;
        if (hooks.progress)
            hooks.progress(now * 100 / count);
    };

    auto giveUp = [&](OrbExtractReport::Outcome outcome, const QString& error) {
        rollback.undo();
        if (!sink.asideFolder().isEmpty() && QDir(sink.asideFolder()).isEmpty(QDir::AllEntries | QDir::Hidden |
                                                                               QDir::System | QDir::NoDotAndDotDot))
            QDir().rmdir(sink.asideFolder());
        report.outcome = outcome;
        report.error = error;
        report.extractedCount = 0;
        if (zip.isOpen())
            zip.close();
        return report;
    };
    auto cancelledNow = [&] {
        qDebug() << "Task has been cancelled.";
        return giveUp(OrbExtractReport::Cancelled, QStringLiteral("cancelled"));
    };

    if (isCancelled())
        return cancelledNow();

    // 1. In archive order, on this thread: every check, folders, links, and
    //    moving aside what files replace. Files are only queued.
    zip.goToFirstFile();
    int index = 0;
    for (bool more = true; more; more = zip.goToNextFile(), ++index) {
        const CentralEntry& stored = central.at(index);
        const QString storedName = decodeEntryName(stored.rawName, stored.flags, hooks.legacyCodePage);
        // Archives made on Windows separate folders with backslashes; read them as
        // separators and judge the result like any other name.
        QString name = storedName;
        name.replace(QLatin1Char('\\'), QLatin1Char('/'));
        QString reason = nameProblem(name);
        const QString dest = reason.isEmpty() ? sink.destinationFor(name, &reason) : QString();
        if (reason.isEmpty() && isTheArchive(dest))
            reason = QStringLiteral("would overwrite the package being extracted");
        if (reason.isEmpty()) {
            QuaZipFileInfo64 info;
            if (!zip.getCurrentFileInfo(&info)) {
                report.failedEntry = storedName;
                return giveUp(OrbExtractReport::Failed, QStringLiteral("cannot read the entry's information"));
            }
            // Sizes, CRC, method and flags as the directory reader read them: the
            // overlap and free-space checks above judged those numbers.
            EntryMeta meta = entryMeta(info);
            meta.method = stored.method;
            meta.flags = stored.flags;
            meta.crc = stored.crc;
            meta.compressedSize = stored.compressedSize;
            meta.uncompressedSize = stored.uncompressedSize;
            PendingFile file;
            const EntryResult result = sink.prepare(&zip, meta, dest, &rollback, &file);
            if (result.status == EntryStatus::Failed) {
                if (isCancelled())
                    return cancelledNow();
                report.failedEntry = storedName;
                return giveUp(OrbExtractReport::Failed, result.reason);
            }
            if (result.status == EntryStatus::Skipped) {
                reason = result.reason;
            } else {
                destinations[size_t(index)] = dest;
                if (result.status == EntryStatus::Pending) {
                    file.index = index;
                    pending.push_back(file);
                } else {
                    isWritten[size_t(index)] = true;
                    stepDone();
                }
            }
        }
        if (!reason.isEmpty()) {
            report.skipped.append({storedName, reason});
            qDebug() << "Skipped entry" << storedName << "-" << reason;
        }
        if (isCancelled())
            return cancelledNow();
    }
    if (zip.getZipError() != 0)
        return giveUp(OrbExtractReport::Failed, QStringLiteral("cannot read the archive's directory"));

    // 2. File data: independent entries inflated by a small pool, each worker
    //    reading through its own handle on the archive.
    std::vector<unz64_file_pos> positions(static_cast<size_t>(count));
    {
        zip.goToFirstFile();
        int i = 0;
        for (bool more = true; more && i < count; more = zip.goToNextFile(), ++i)
            unzGetFilePos64(zip.getUnzFile(), &positions[size_t(i)]);
        // QuaZip opens entries only while it knows of a current one; the workers
        // then move between entries through minizip's file positions.
        zip.goToFirstFile();
    }
    std::atomic_size_t next {0};
    std::atomic_bool stop {false};
    QMutex failureMutex;
    QString failure;
    QString failureEntry;
    auto worker = [&](QuaZip* handle) {
        for (;;) {
            if (stop.load())
                return;
            const size_t i = next.fetch_add(1);
            if (i >= pending.size())
                return;
            const PendingFile& file = pending[i];
            EntryResult result;
            if (unzGoToFilePos64(handle->getUnzFile(), &positions[size_t(file.index)]) != UNZ_OK)
                result = {EntryStatus::Failed, QStringLiteral("cannot find the entry")};
            else
                result = writeFile(handle, file, hooks.cancelled);
            if (result.status != EntryStatus::Written) {
                QMutexLocker locker(&failureMutex);
                if (failure.isEmpty()) {
                    failure = result.reason;
                    failureEntry = decodeEntryName(central.at(file.index).rawName, central.at(file.index).flags,
                                                   hooks.legacyCodePage);
                }
                stop = true;
                return;
            }
            stepDone();
            if (isCancelled()) {
                stop = true;
                return;
            }
        }
    };
    const int threads = threadCount(hooks.threads, int(pending.size()));
    if (threads <= 1) {
        worker(&zip);
    } else {
        QThreadPool pool;
        pool.setMaxThreadCount(threads);
        std::vector<std::unique_ptr<QuaZip>> handles;
        for (int t = 0; t < threads; ++t) {
            handles.push_back(std::make_unique<QuaZip>(archivePath));
            QuaZip* handle = handles.back().get();
            if (!handle->open(QuaZip::mdUnzip) || !handle->goToFirstFile()) {
                stop = true;
                QMutexLocker locker(&failureMutex);
                failure = QStringLiteral("cannot open the archive");
                break;
            }
            pool.start([&worker, handle] { worker(handle); });
        }
        pool.waitForDone();
        for (auto& handle : handles)
            handle->close();
    }
    if (isCancelled())
        return cancelledNow();
    if (!failure.isEmpty()) {
        report.failedEntry = failureEntry;
        return giveUp(OrbExtractReport::Failed, failure);
    }
    // No failure and no cancellation: the workers wrote every pending file.
    for (const PendingFile& file : pending)
        isWritten[size_t(file.index)] = true;

    zip.close();
    if (zip.getZipError() != 0)
        return giveUp(OrbExtractReport::Failed, QStringLiteral("archive reported an error on close"));

    for (int i = 0; i < count; ++i) {
        if (isWritten[size_t(i)]) {
            paths.append(destinations[size_t(i)]);
            ++report.extractedCount;
        }
    }
    if (report.extractedCount == 0)
        return giveUp(OrbExtractReport::Failed, QStringLiteral("no entry could be extracted safely"));

    // Success: what the run replaced is no longer needed.
    rollback.clear();
    if (!sink.asideFolder().isEmpty())
        QDir(sink.asideFolder()).removeRecursively();

    report.outcome = report.skipped.isEmpty() ? OrbExtractReport::Complete : OrbExtractReport::Partial;
    report.written = relativeWritten(root, paths);
    if (written)
        *written = paths;
    return report;
}

} // namespace OrbZip
