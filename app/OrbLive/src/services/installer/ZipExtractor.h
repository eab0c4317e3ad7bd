#pragma once

// ZIP extraction that never changes anything outside one destination folder.
// A package is a hostile input: names are checked as text and against what is
// already on disk, link entries are checked for where they lead, and nothing is
// ever written or chmod-ed through an existing link.

#include "IOrbArchieve.h"

#include <QFile>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>

class QuaZip;
struct QuaZipFileInfo64;

namespace OrbZip {

// Why an entry called `name` must not be written on any platform the package
// may be installed on; empty when it may. Only the text is judged here.
QString nameProblem(const QString& name);

enum class EntryStatus { Written, Pending, Skipped, Failed };

struct EntryResult {
    EntryStatus status = EntryStatus::Failed;
    QString reason;
};

// What one run changed on disk, in order, so that a failed run can take it
// back: what it created is removed, what it replaced is put back.
class Rollback {
public:
    void addFile(const QString& path);
    void addDir(const QString& path);
    // `original` was moved to `aside` before an entry took its place.
    void addMovedAside(const QString& original, const QString& aside);
    // Newest first: files and links removed as such, folders only when empty,
    // replaced files and links moved back. Returns the number of leftovers.
    int undo();
    void clear() { m_items.clear(); }

private:
    enum Kind { File, Dir, MovedAside };
    struct Item {
        QString path;
        Kind kind;
        QString aside;
    };
    QList<Item> m_items;
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

// Writes entries below one destination root.
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
    bool ensureRoot(Rollback* rollback);
    bool makeDirs(const QString& dir, Rollback* rollback);
    bool passesThroughLink(const QString& path);
    QString linkTargetProblem(const QString& target, const QString& linkPath);
    bool moveAside(const QString& path, Rollback* rollback);

    QString m_root;          // with trailing '/'
    QString m_rootNoSlash;
    QString m_canonicalRoot; // filled once the root exists
    QSet<QString> m_realDirs; // folders below the root known to be real folders
    QSet<QString> m_claimed;  // destinations this run writes
    QString m_aside;          // created on first use
    int m_asideCount = 0;
};

// Writes the data of the archive's current entry to `file.path`, which must not
// exist. Inflates with zlib itself so that an entry producing more than its
// declared size, or other data than its checksum, fails. Nothing is left at
// the path on failure.
EntryResult writeFile(QuaZip* zip, const PendingFile& file, const std::function<bool()>& cancelled);

struct Hooks {
    std::function<void(int)> progress; // percentage of entries written
    std::function<bool()> cancelled;
    int threads = 0;                   // inflating threads; 0: one per core
    QByteArray legacyCodePage = "GBK"; // for names neither flagged nor valid UTF-8
};

// Extracts the whole archive below `destDir`. On failure or cancellation
// everything the run created is removed again and what it replaced put back.
// `written` receives the destination paths of the written entries, in archive order.
OrbExtractReport extractArchive(const QString& archivePath, const QString& destDir, const Hooks& hooks,
                                QList<QString>* written);

} // namespace OrbZip
