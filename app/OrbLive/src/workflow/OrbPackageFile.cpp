#include "workflow/OrbPackageFile.h"

#include "OrbPackageManifest.h"

#include <QFileInfo>

namespace OrbPackageFile {

bool Matches(const QString& path, const QString& sha256, qint64 size, QString* why)
{
    auto mismatch = [why](const QString& text) {
        if (why)
            *why = text;
        return false;
    };
    const QFileInfo info(path);
    if (!info.isFile())
        return mismatch(QStringLiteral("the package %1 is missing").arg(path));
    if (size >= 0 && info.size() != size)
        return mismatch(QStringLiteral("it holds %1 bytes, %2 are declared").arg(info.size()).arg(size));
    if (!sha256.isEmpty() &&
        QString::fromLatin1(OrbPackageManifest::HashFile(path)).compare(sha256.trimmed(), Qt::CaseInsensitive) != 0)
        return mismatch(QStringLiteral("its SHA-256 is not the declared one"));
    return true;
}

} // namespace OrbPackageFile
