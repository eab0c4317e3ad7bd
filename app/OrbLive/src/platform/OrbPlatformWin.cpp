#include "OrbPlatform.h"

#include <QSharedMemory>
#include <QString>

#include <mutex>
#include <string>
#include <vector>

#include <windows.h>

namespace OrbPlatform {

bool IsDebuggerAttached()
{
    return ::IsDebuggerPresent() != FALSE;
}

void WriteDebuggerText(const char* utf8)
{
    static std::mutex bufferMutex;
    static std::vector<wchar_t> buffer;
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (length <= 1)
        return;
    std::lock_guard<std::mutex> guard(bufferMutex);
    buffer.assign(static_cast<std::size_t>(length) + 1, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, buffer.data(), length);
    buffer[length - 1] = L'\n';
    ::OutputDebugStringW(buffer.data());
}

std::uint64_t CurrentThreadId()
{
    return static_cast<std::uint64_t>(::GetCurrentThreadId());
}

// Windows ends a GUI program through its windows (WM_CLOSE, WM_ENDSESSION),
// which Qt already turns into an orderly quit.
void QuitOnTerminationRequest() {}

bool LocalTime(std::time_t seconds, std::tm& out)
{
    return ::localtime_s(&out, &seconds) == 0;
}

// Windows drops a named section with the last handle to it, so a crashed holder
// frees the key as well.
struct InstanceLock::Impl {
    std::string key;
    std::unique_ptr<QSharedMemory> segment;
};

InstanceLock::InstanceLock(const std::string& key) : d(std::make_unique<Impl>())
{
    d->key = key;
}

InstanceLock::~InstanceLock() = default;

bool InstanceLock::TryAcquire()
{
    if (d->segment)
        return true;
    auto segment = std::make_unique<QSharedMemory>(QString::fromUtf8(d->key.c_str()));
    if (!segment->create(1, QSharedMemory::ReadWrite))
        return false;
    d->segment = std::move(segment);
    return true;
}

} // namespace OrbPlatform
