#include "OrbConfigFiles.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace OrbConfigFiles {

bool FlushFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

void FlushFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

bool HardLink(const std::string& existing, const std::string& newName)
{
    return ::link(existing.c_str(), newName.c_str()) == 0;
}

bool ProcessAlive(std::int64_t pid)
{
    if (pid <= 0)
        return false;
    // EPERM: it exists, it just is not ours to signal.
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

std::int64_t CurrentProcessId()
{
    return static_cast<std::int64_t>(::getpid());
}

} // namespace OrbConfigFiles
