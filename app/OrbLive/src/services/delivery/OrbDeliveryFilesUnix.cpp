#include "OrbDeliveryFiles.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

namespace OrbDeliveryFiles {

bool FlushFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
#if defined(__APPLE__)
    const bool ok = ::fsync(fd) == 0;
#else
    const bool ok = ::fdatasync(fd) == 0;
#endif
    ::close(fd);
    return ok;
}

} // namespace OrbDeliveryFiles
