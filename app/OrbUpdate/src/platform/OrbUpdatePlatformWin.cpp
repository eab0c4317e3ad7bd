#include "OrbUpdatePlatform.h"

#include <QDir>
#include <QFileInfo>

#include <string>

#include <windows.h>
#include <tlhelp32.h>

namespace OrbUpdatePlatform {

bool IsProgramRunning(const QString& path)
{
    const QString target = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    bool running = false;
    const DWORD self = GetCurrentProcessId();
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !running; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == self || entry.th32ProcessID == 0)
            continue;
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (!process)
            continue;
        wchar_t buffer[MAX_PATH * 4];
        DWORD size = DWORD(sizeof(buffer) / sizeof(buffer[0]));
        if (QueryFullProcessImageNameW(process, 0, buffer, &size)) {
            const QString image = QString::fromWCharArray(buffer, int(size));
            running = image.compare(target, Qt::CaseInsensitive) == 0;
        }
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    return running;
}

} // namespace OrbUpdatePlatform
