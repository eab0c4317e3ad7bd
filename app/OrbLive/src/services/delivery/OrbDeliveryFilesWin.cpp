#include "OrbDeliveryFiles.h"

#include <windows.h>

#include <string>

namespace OrbDeliveryFiles {

bool FlushFile(const QString& path)
{
    const std::wstring wide = path.toStdWString();
    HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = ::FlushFileBuffers(file) != FALSE;
    ::CloseHandle(file);
    return ok;
}

} // namespace OrbDeliveryFiles
