#pragma once

// The launcher's only door to operating-system specifics. Each function does
// what the calling code expects on every platform; OrbPlatformWin.cpp and
// OrbPlatformUnix.cpp hold the two implementations.

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

namespace OrbPlatform {

// True when a debugger is attached (Unix: the process has a tracer). Cheap
// enough to ask for every message: the answer may be up to a second old.
bool IsDebuggerAttached();
// Hands one message line to the debugger (Unix: standard error).
void WriteDebuggerText(const char* utf8);

std::uint64_t CurrentThreadId();

// Ends the application's event loop when the system asks the process to end
// (Unix: SIGTERM, SIGINT, SIGHUP), so the components shut down in order.
void QuitOnTerminationRequest();
bool LocalTime(std::time_t seconds, std::tm& out);

// A per-user, per-key token that at most one process holds at a time. It is
// released by the system when the holder ends, however it ends, so a crashed
// launcher never locks out the next start.
class InstanceLock {
public:
    explicit InstanceLock(const std::string& key);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Tries to become the holder; false when another process holds the key.
    bool TryAcquire();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace OrbPlatform
