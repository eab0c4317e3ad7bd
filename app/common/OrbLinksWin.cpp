#include "OrbLinks.h"

#include <QDir>
#include <QFileInfo>

#include <string>

#include <windows.h>

namespace OrbLinks {

bool isLink(const QString& path)
{
    const std::wstring native = QDir::toNativeSeparators(path).toStdWString();
    const DWORD attributes = GetFileAttributesW(native.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return true;
    // Qt makes a shortcut file of QFile::link; it leads elsewhere just the same.
    return QFileInfo(path).isShortcut();
}

} // namespace OrbLinks
