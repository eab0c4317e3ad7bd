#include "ZipExtractor.h"

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipfileinfo.h>
#include <quazip/unzip.h>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace OrbZip {

namespace {

// Entries are streamed through one buffer, so memory does not grow with entry size.
constexpr qint64 kCopyBufferSize = 4096;
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

// ---- Rollback -------------------------------------------------------------

void Rollback::addFile(const QString& path)
{
    m_items.append({path, false});
}

void Rollback::addDir(const QString& path)
{
    m_items.append({path, true});
}

int Rollback::undo()
{
    int leftovers = 0;
    for (auto it = m_items.crbegin(); it != m_items.crend(); ++it) {
        // Files and links we created are removed as such; QFile::remove never
        // follows a link, rmdir only takes an empty real folder.
        const bool removed = it->dir ? QDir().rmdir(it->path) : QFile::remove(it->path);
        if (!removed) {
            ++leftovers;
            qDebug() << "Rollback could not remove" << it->path;
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
    while (!QFileInfo::exists(probe)) {
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

EntryResult EntrySink::extractCurrent(QuaZip* zip, const QString& destPath, Rollback* rollback,
                                      const std::function<bool()>& cancelled)
{
    auto failed = [](const QString& why) { return EntryResult{EntryStatus::Failed, why}; };
    auto skipped = [](const QString& why) { return EntryResult{EntryStatus::Skipped, why}; };

    if (!zip || zip->getMode() != QuaZip::mdUnzip)
        return failed(QStringLiteral("archive is not open for reading"));
    if (!destPath.startsWith(m_root) || destPath.size() <= m_root.size())
        return skipped(QStringLiteral("destination is not below the destination folder"));

    QuaZipFile entry(zip);
    if (!entry.open(QIODevice::ReadOnly) || entry.getZipError() != 0)
        return failed(QStringLiteral("cannot open the entry"));
    QuaZipFileInfo64 info;
    if (!zip->getCurrentFileInfo(&info))
        return failed(QStringLiteral("cannot read the entry's information"));
    const QFile::Permissions permissions = info.getPermissions();

    const bool isDir = destPath.endsWith(QLatin1Char('/'));
    const QString path = isDir ? destPath.left(destPath.size() - 1) : destPath;
    if (passesThroughLink(path))
        return skipped(QStringLiteral("destination passes through an existing link"));
    const QFileInfo existing(path);
    const bool existingIsLink = isLink(existing);

    if (!ensureRoot(rollback))
        return failed(QStringLiteral("cannot create the destination folder"));

    if (isDir) {
        if (existingIsLink)
            return skipped(QStringLiteral("destination is an existing link"));
        if (!makeDirs(path, rollback))
            return failed(QStringLiteral("cannot create the folder"));
        // Known to be a real folder now, so the change lands on it, not on a link target.
        if (permissions != QFile::Permissions() && !QFile::setPermissions(path, permissions))
            qDebug() << "Cannot apply permissions to" << path;
        return {EntryStatus::Written, {}};
    }

    if (info.isSymbolicLink()) {
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
        if ((existingIsLink || (existing.exists() && !existing.isDir())) && !QFile::remove(path))
            return failed(QStringLiteral("cannot replace the existing file"));
        // Link entries carry mode bits too; chmod would reach the target, so none are applied.
        if (!QFile::link(target, path))
            return failed(QStringLiteral("cannot create the link"));
        rollback->addFile(path);
        return {EntryStatus::Written, {}};
    }

    if (existingIsLink)
        return skipped(QStringLiteral("destination is an existing link"));
    if (!makeDirs(parentOf(path), rollback))
        return failed(QStringLiteral("cannot create the folder"));

    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return failed(QStringLiteral("cannot open the destination file"));

    auto abort = [&](const QString& why) {
        out.close();
        QFile::remove(path);
        return failed(why);
    };

    char buffer[kCopyBufferSize];
    qint64 sinceCheck = 0;
    while (!entry.atEnd()) {
        const qint64 n = entry.read(buffer, kCopyBufferSize);
        if (n < 1)
            return abort(QStringLiteral("cannot read the entry"));
        if (out.write(buffer, n) != n)
            return abort(QStringLiteral("cannot write the destination file"));
        sinceCheck += n;
        if (sinceCheck >= kCancelCheckBytes) {
            sinceCheck = 0;
            if (cancelled && cancelled())
                return abort(QStringLiteral("cancelled"));
        }
    }
    if (entry.getZipError() != 0)
        return abort(QStringLiteral("entry data are damaged"));
    if (!out.flush())
        return abort(QStringLiteral("cannot write the destination file"));
    entry.close();
    if (entry.getZipError() != 0)
        return abort(QStringLiteral("entry data are damaged"));
    // Through the open handle: the mode lands on the file just written, even
    // if its name were swapped for a link meanwhile.
    if (permissions != QFile::Permissions() && !out.setPermissions(permissions))
        qDebug() << "Cannot apply permissions to" << path;
    out.close();
    if (out.error() != QFileDevice::NoError)
        return abort(QStringLiteral("cannot write the destination file"));
    rollback->addFile(path);
    return {EntryStatus::Written, {}};
}

// ---- whole archive --------------------------------------------------------

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
    int done = 0;

    auto giveUp = [&](OrbExtractReport::Outcome outcome, const QString& error) {
        rollback.undo();
        report.outcome = outcome;
        report.error = error;
        report.extractedCount = 0;
        if (zip.isOpen())
            zip.close();
        return report;
    };

    if (isCancelled()) {
        qDebug() << "Task has been cancelled.";
        return giveUp(OrbExtractReport::Cancelled, QStringLiteral("cancelled"));
    }

    zip.goToFirstFile();
    for (bool more = true; more; more = zip.goToNextFile()) {
        const QString name = zip.getCurrentFileName();
        QString reason = nameProblem(name);
        const QString dest = reason.isEmpty() ? sink.destinationFor(name, &reason) : QString();
        if (reason.isEmpty() && isTheArchive(dest))
            reason = QStringLiteral("would overwrite the package being extracted");
        if (reason.isEmpty()) {
            const EntryResult result = sink.extractCurrent(&zip, dest, &rollback, hooks.cancelled);
            if (result.status == EntryStatus::Failed) {
                if (isCancelled()) {
                    qDebug() << "Task has been cancelled.";
                    return giveUp(OrbExtractReport::Cancelled, QStringLiteral("cancelled"));
                }
                report.failedEntry = name;
                return giveUp(OrbExtractReport::Failed, result.reason);
            }
            if (result.status == EntryStatus::Skipped) {
                reason = result.reason;
            } else {
                paths.append(dest);
                ++report.extractedCount;
                done += 100;
                if (hooks.progress)
                    hooks.progress(done / count);
            }
        }
        if (!reason.isEmpty()) {
            report.skipped.append({name, reason});
            qDebug() << "Skipped entry" << name << "-" << reason;
        }
        if (isCancelled()) {
            qDebug() << "Task has been cancelled.";
            return giveUp(OrbExtractReport::Cancelled, QStringLiteral("cancelled"));
        }
    }
    if (zip.getZipError() != 0)
        return giveUp(OrbExtractReport::Failed, QStringLiteral("cannot read the archive's directory"));

    zip.close();
    if (zip.getZipError() != 0)
        return giveUp(OrbExtractReport::Failed, QStringLiteral("archive reported an error on close"));

    if (report.extractedCount == 0)
        return giveUp(OrbExtractReport::Failed, QStringLiteral("no entry could be extracted safely"));

    report.outcome = report.skipped.isEmpty() ? OrbExtractReport::Complete : OrbExtractReport::Partial;
    if (written)
        *written = paths;
    return report;
}

} // namespace OrbZip
