#include "ZipRollback.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>

namespace OrbZip {

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

bool Rollback::undoOne(const Item& item) const
{
    switch (item.kind) {
    case File:
        // QFile::remove never follows a link. A file a worker never got to is fine.
        return QFile::remove(item.path) || (!QFileInfo(item.path).exists() && !QFileInfo(item.path).isSymLink());
    case Dir:
        return QDir().rmdir(item.path);
    case MovedAside:
        // The entry written in its place was removed just before (newest first).
        return renameEntry(item.aside, item.path);
    }
    return false;
}

int Rollback::undo()
{
    int leftovers = 0;
    for (auto it = m_items.crbegin(); it != m_items.crend(); ++it) {
        if (!undoOne(*it)) {
            ++leftovers;
            qDebug() << "Rollback could not restore" << it->path;
        }
    }
    m_items.clear();
    return leftovers;
}

} // namespace OrbZip
