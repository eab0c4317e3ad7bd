#include "OrbUpdatePlatform.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace OrbUpdatePlatform {

bool IsProgramRunning(const QString& path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    if (target.isEmpty())
        return false;
    const QString self = QString::number(::getpid());
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : pids) {
        if (pid == self || pid.isEmpty() || !pid.at(0).isDigit())
            continue;
        QString exe = QFile::symLinkTarget(QStringLiteral("/proc/") + pid + QStringLiteral("/exe"));
        // A program file replaced while it runs reads back with this suffix.
        if (exe.endsWith(QStringLiteral(" (deleted)")))
            exe.chop(10);
        if (exe == target)
            return true;
    }
    return false;
}

} // namespace OrbUpdatePlatform
