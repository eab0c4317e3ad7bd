#include "ZipEntrySink.h"

#include "ZipNames.h"

#include "OrbLinks.h"

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipfileinfo.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QStringList>

namespace OrbZip {

namespace {

// A link target longer than any path a system accepts is not a link target.
constexpr qint64 kMaxLinkTarget = 4096;

EntryResult failed(const QString& why)
{
    return {EntryStatus::Failed, why};
}

EntryResult skipped(const QString& why)
{
    return {EntryStatus::Skipped, why};
}

// The target bytes of a link entry, read with a cap so that memory stays flat.
// False with `problem` when the entry cannot be read or is too long.
bool readLinkTarget(QuaZip* zip, QString* target, EntryResult* problem)
{
    QuaZipFile entry(zip);
    if (!entry.open(QIODevice::ReadOnly) || entry.getZipError() != 0) {
        *problem = failed(QStringLiteral("cannot open the entry"));
        return false;
    }
    QByteArray bytes;
    char chunk[512];
    while (!entry.atEnd() && bytes.size() <= kMaxLinkTarget) {
        const qint64 n = entry.read(chunk, sizeof(chunk));
        if (n < 1)
            break;
        bytes.append(chunk, static_cast<int>(n));
    }
    if (bytes.size() > kMaxLinkTarget) {
        *problem = skipped(QStringLiteral("link target is too long"));
        return false;
    }
    entry.close();
    if (entry.getZipError() != 0) {
        *problem = failed(QStringLiteral("entry data are damaged"));
        return false;
    }
    *target = QFile::decodeName(bytes);
    return true;
}

// ".." after a name would be resolved from wherever that name leads, not from
// where it stands, so only leading climbs can be judged as text. Returns the
// number of leading climbs, or -1 when a climb follows a name.
int leadingClimbs(const QString& target)
{
    int climbs = 0;
    bool seenName = false;
    for (const QString& segment : target.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (segment == QLatin1String("."))
            continue;
        if (segment == QLatin1String("..")) {
            if (seenName)
                return -1;
            ++climbs;
        } else {
            seenName = true;
        }
    }
    return climbs;
}

} // namespace

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
    if (dir.startsWith(m_root) && !OrbLinks::isLink(dir))
        m_realDirs.insert(dir);
    return true;
}

// True when a folder between the root and `path` (both excluded) is a link.
bool EntrySink::passesThroughLink(const QString& path)
{
    return OrbLinks::passesThroughLink(m_rootNoSlash, path.mid(m_root.size()), &m_realDirs);
}

QString EntrySink::linkTargetProblem(const QString& target, const QString& linkPath)
{
    const QString textProblem = pathTextProblem(target);
    if (!textProblem.isEmpty())
        return QStringLiteral("link target ") + textProblem;

    const int climbs = leadingClimbs(target);
    if (climbs < 0)
        return QStringLiteral("link target climbs after a name");
    const QString linkDir = parentOf(linkPath);
    const int depth = linkDir.mid(m_rootNoSlash.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts).size();
    if (climbs > depth)
        return QStringLiteral("link target points outside the destination");

    const QString resolved = QDir::cleanPath(linkDir + QLatin1Char('/') + target);
    if (!insideOrEqual(resolved, m_rootNoSlash))
        return QStringLiteral("link target points outside the destination");
    return existingTargetProblem(resolved);
}

// What already exists along the target may itself be a link: follow the
// existing part for real and make sure it stays inside.
QString EntrySink::existingTargetProblem(const QString& resolved) const
{
    QString current = m_rootNoSlash;
    for (const QString& segment : resolved.mid(m_rootNoSlash.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        const QString next = current + QLatin1Char('/') + segment;
        if (!QFileInfo::exists(next)) {
            if (OrbLinks::isLink(next))
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
    const bool existingIsLink = OrbLinks::isLink(path);

    if (!ensureRoot(rollback))
        return failed(QStringLiteral("cannot create the destination folder"));
    if (isDir)
        return prepareFolder(path, meta, existingIsLink, rollback);
    if (meta.isLink)
        return prepareLink(zip, path, existing, existingIsLink, rollback);
    return prepareFile(path, meta, existing, existingIsLink, rollback, pending);
}

EntryResult EntrySink::prepareFolder(const QString& path, const EntryMeta& meta, bool existingIsLink,
                                     Rollback* rollback)
{
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

EntryResult EntrySink::prepareLink(QuaZip* zip, const QString& path, const QFileInfo& existing, bool existingIsLink,
                                   Rollback* rollback)
{
    QString target;
    EntryResult unreadable;
    if (!readLinkTarget(zip, &target, &unreadable))
        return unreadable;
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

EntryResult EntrySink::prepareFile(const QString& path, const EntryMeta& meta, const QFileInfo& existing,
                                   bool existingIsLink, Rollback* rollback, PendingFile* pending)
{
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

} // namespace OrbZip
