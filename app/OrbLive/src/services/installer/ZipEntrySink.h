#pragma once

// Writes folders and links of an archive below one destination root, and gets
// every file's place ready for its data: names are checked against what is
// already on disk, link entries for where they lead, and nothing is ever
// written or chmod-ed through an existing link.

#include "ZipRollback.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QString>

class QuaZip;
struct QuaZipFileInfo64;

namespace OrbZip {

enum class EntryStatus { Written, Pending, Skipped, Failed };

struct EntryResult {
    EntryStatus status = EntryStatus::Failed;
    QString reason;
};

// What is known of an entry before its data are read.
struct EntryMeta {
    QFile::Permissions permissions;
    bool isLink = false;
    quint16 method = 0;
    quint16 flags = 0;
    quint32 crc = 0;
    quint64 compressedSize = 0;
    quint64 uncompressedSize = 0;
};

// An entry's metadata as QuaZip reports it.
EntryMeta entryMeta(const QuaZipFileInfo64& info);

// A file entry whose destination is ready (folders made, what was there moved
// aside) and whose data still have to be written.
struct PendingFile {
    int index = 0; // position in the archive
    QString path;
    EntryMeta meta;
};

class EntrySink {
public:
    // `root` must be absolute and clean; a trailing '/' is added if missing.
    explicit EntrySink(const QString& root);

    const QString& root() const { return m_root; }

    // Destination of an entry name (ending in '/' for folders) or an empty
    // string and the reason when the name does not lead below the root.
    QString destinationFor(const QString& name, QString* reason) const;

    // Everything for the archive's current entry except writing a file's data:
    // the checks, folders and links, and moving aside what a file would replace.
    // Written: a folder or link, done. Pending: `pending` is to be written with
    // writeFile. Skipped: writing would pass through or replace an existing
    // link, or a link entry would lead outside the root.
    EntryResult prepare(QuaZip* zip, const EntryMeta& meta, const QString& destPath, Rollback* rollback,
                        PendingFile* pending);

    // Where replaced files go until the run ends (inside the root, so the same volume).
    QString asideFolder() const { return m_aside; }

private:
    EntryResult prepareFolder(const QString& path, const EntryMeta& meta, bool existingIsLink, Rollback* rollback);
    EntryResult prepareLink(QuaZip* zip, const QString& path, const QFileInfo& existing, bool existingIsLink,
                            Rollback* rollback);
    EntryResult prepareFile(const QString& path, const EntryMeta& meta, const QFileInfo& existing,
                            bool existingIsLink, Rollback* rollback, PendingFile* pending);
    bool ensureRoot(Rollback* rollback);
    bool makeDirs(const QString& dir, Rollback* rollback);
    bool passesThroughLink(const QString& path);
    QString linkTargetProblem(const QString& target, const QString& linkPath);
    QString existingTargetProblem(const QString& resolved) const;
    bool moveAside(const QString& path, Rollback* rollback);

    QString m_root;          // with trailing '/'
    QString m_rootNoSlash;
    QString m_canonicalRoot; // filled once the root exists
    QSet<QString> m_realDirs; // folders below the root known to be real folders
    QSet<QString> m_claimed;  // destinations this run writes
    QString m_aside;          // created on first use
    int m_asideCount = 0;
};

} // namespace OrbZip
