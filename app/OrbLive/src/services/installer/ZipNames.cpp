#include "ZipNames.h"

#include <QFileInfo>
#include <QStringList>

namespace OrbZip {

namespace {

bool hasDriveLetter(const QString& segment)
{
    return segment.size() >= 2 && segment.at(1) == QLatin1Char(':') && segment.at(0).isLetter() &&
           segment.at(0).unicode() < 128;
}

} // namespace

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

QString nameProblem(const QString& name)
{
    return pathTextProblem(name);
}

QString parentOf(const QString& path)
{
    return QFileInfo(path).path();
}

bool insideOrEqual(const QString& path, const QString& folderNoSlash)
{
    return path == folderNoSlash || path.startsWith(folderNoSlash + QLatin1Char('/'));
}

} // namespace OrbZip
