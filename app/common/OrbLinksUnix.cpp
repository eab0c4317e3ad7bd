#include "OrbLinks.h"

#include <QFile>

#include <sys/stat.h>

namespace OrbLinks {

bool isLink(const QString& path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

} // namespace OrbLinks
