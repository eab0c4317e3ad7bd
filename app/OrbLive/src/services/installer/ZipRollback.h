#pragma once

// What one extraction run changed on disk, so that a failed run can take it back.

#include <QList>
#include <QString>

namespace OrbZip {

// Renames the entry itself: a link is moved as a link, dangling or not (QFile::rename
// asks whether the target exists and may fall back to copying what a link points at).
bool renameEntry(const QString& from, const QString& to);

// The changes in order: what the run created is removed, what it replaced put back.
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
    bool undoOne(const Item& item) const;

    QList<Item> m_items;
};

} // namespace OrbZip
