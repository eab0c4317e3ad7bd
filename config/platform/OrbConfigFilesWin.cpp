#include "OrbConfigFiles.h"

#include <QString>

#include <windows.h>

namespace OrbConfigFiles {

namespace {
std::wstring wide(const std::string& utf8)
{
    return QString::fromUtf8(utf8.c_str()).toStdWString();
}
} // namespace

bool FlushFile(const std::string& path)
{
    HANDLE file = ::CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = ::FlushFileBuffers(file) != FALSE;
    ::CloseHandle(file);
    return ok;
}

// NTFS journals the rename itself.
void FlushFolder(const std::string&) {}

bool HardLink(const std::string& existing, const std::string& newName)
{
    return ::CreateHardLinkW(wide(newName).c_str(), wide(existing).c_str(), nullptr) != FALSE;
}

bool ProcessAlive(std::int64_t pid)
{
    if (pid <= 0)
        return false;
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process)
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool running = ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    ::CloseHandle(process);
    return running;
}

std::int64_t CurrentProcessId()
{
    return static_cast<std::int64_t>(::GetCurrentProcessId());
}

} // namespace OrbConfigFiles
