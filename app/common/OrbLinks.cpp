#include "OrbLinks.h"

#include <QFileInfo>
#include <QStringList>

namespace OrbLinks {

bool passesThroughLink(const QString& base, const QString& rel, QSet<QString>* knownDirs)
{
    const QStringList parts = rel.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString current = base;
    while (current.endsWith(QLatin1Char('/')) && current.size() > 1)
        current.chop(1);
    for (int i = 0; i + 1 < parts.size(); ++i) {
        current += QLatin1Char('/') + parts.at(i);
        if (knownDirs && knownDirs->contains(current))
            continue;
        if (isLink(current))
            return true;
        const QFileInfo info(current);
        if (!info.exists())
            return false;
        if (knownDirs && info.isDir())
            knownDirs->insert(current);
    }
    return false;
}

} // namespace OrbLinks
