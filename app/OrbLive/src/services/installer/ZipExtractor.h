#pragma once

// ZIP extraction that never changes anything outside one destination folder.
// A package is a hostile input: names are checked as text and against what is
// already on disk, link entries are checked for where they lead, and nothing is
// ever written or chmod-ed through an existing link.

#include "IOrbArchieve.h"

#include <QList>
#include <QSet>
#include <QString>

#include <functional>

class QuaZip;

namespace OrbZip {

// Why an entry called `name` must not be written on any platform the package
// may be installed on; empty when it may. Only the text is judged here.
QString nameProblem(const QString& name);

enum class EntryStatus { Written, Skipped, Failed };

struct EntryResult {
    EntryStatus status = EntryStatus::Failed;
    QString reason;
};

// What one run created on disk, in creation order, so that a failed run can
// take it back.
class Rollback {
public:
    void addFile(const QString& path);
    void addDir(const QString& path);
    // Removes everything recorded, newest first: files and links as such,
    // folders only when they are empty. Returns the number of leftovers.
    int undo();

private:
    struct Item {
        QString path;
        bool dir;
    };
    QList<Item> m_items;
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

    // Unpacks the archive's current entry to `destPath` (which must lie below
    // the root). Skipped: writing would pass through or replace an existing
    // link, or a link entry would lead outside the root. Failed: the entry
    // could not be written; nothing of it is left behind.
    EntryResult extractCurrent(QuaZip* zip, const QString& destPath, Rollback* rollback,
                               const std::function<bool()>& cancelled);

private:
    bool ensureRoot(Rollback* rollback);
    bool makeDirs(const QString& dir, Rollback* rollback);
    bool passesThroughLink(const QString& path);
    QString linkTargetProblem(const QString& target, const QString& linkPath);

    QString m_root;          // with trailing '/'
    QString m_rootNoSlash;
    QString m_canonicalRoot; // filled once the root exists
    QSet<QString> m_realDirs; // folders below the root known to be real folders
};

struct Hooks {
    std::function<void(int)> progress; // percentage of entries written
    std::function<bool()> cancelled;
};

// Extracts the whole archive below `destDir`. On failure or cancellation
// everything the run created is removed again. `written` receives the
// destination paths of the written entries, in archive order.
OrbExtractReport extractArchive(const QString& archivePath, const QString& destDir, const Hooks& hooks,
                                QList<QString>* written);

} // namespace OrbZip
