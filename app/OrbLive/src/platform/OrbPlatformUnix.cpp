#include "OrbPlatform.h"

#include "OrbUserFolders.h"

#include <util/platform.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QCryptographicHash>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <fstream>
#include <string>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace OrbPlatform {

namespace {
bool readTracerState()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("TracerPid:", 0) == 0)
            return std::strtol(line.c_str() + 10, nullptr, 10) != 0;
    }
    return false;
}
} // namespace

bool IsDebuggerAttached()
{
    // Reading the status file costs far more than formatting a log line, and a
    // debugger is attached rarely: look again at most once a second.
    constexpr std::int64_t kRecheckNs = 1000000000;
    static std::atomic<std::int64_t> checkedAt {std::numeric_limits<std::int64_t>::min()};
    static std::atomic_bool attached {false};
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    std::int64_t last = checkedAt.load(std::memory_order_relaxed);
    if (last == std::numeric_limits<std::int64_t>::min() || now - last >= kRecheckNs) {
        // One thread refreshes; the others use the value at hand meanwhile.
        if (checkedAt.compare_exchange_strong(last, now, std::memory_order_relaxed))
            attached.store(readTracerState(), std::memory_order_relaxed);
    }
    return attached.load(std::memory_order_relaxed);
}

void WriteDebuggerText(const char* utf8)
{
    std::fprintf(stderr, "%s\n", utf8);
}

std::uint64_t CurrentThreadId()
{
    // A thread keeps its id: one system call per thread, not per log line.
    thread_local const std::uint64_t id = static_cast<std::uint64_t>(::syscall(SYS_gettid));
    return id;
}

namespace {
int g_terminationPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_terminationPipe[1], &byte, 1);
}
} // namespace

void QuitOnTerminationRequest()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || g_terminationPipe[0] >= 0)
        return;
    if (::pipe2(g_terminationPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_terminationPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [] {
        char buffer[16];
        while (::read(g_terminationPipe[0], buffer, sizeof(buffer)) > 0) {
        }
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

bool LocalTime(std::time_t seconds, std::tm& out)
{
    return ::localtime_r(&seconds, &out) != nullptr;
}

// A Unix shared-memory segment outlives a crashed holder; an flock()ed file does
// not: the kernel drops the lock with the last descriptor of the process.
struct InstanceLock::Impl {
    std::string key;
    int fd = -1;
};

InstanceLock::InstanceLock(const std::string& key) : d(std::make_unique<Impl>())
{
    d->key = key;
}

InstanceLock::~InstanceLock()
{
    if (d->fd >= 0)
        ::close(d->fd);
}

bool InstanceLock::TryAcquire()
{
    if (d->fd >= 0)
        return true;
    char folder[1024] = {};
    if (os_get_config_path(folder, sizeof(folder) - 1, OrbUserFolders::kRun) <= 0)
        return false;
    if (!os_file_exists(folder) && os_mkdirs(folder) == MKDIR_ERROR)
        return false;
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(d->key), QCryptographicHash::Sha1).toHex();
    const std::string path = std::string(folder) + "/" + digest.toStdString() + ".lock";
    // Close-on-exec: a game client started by the launcher must not keep the lock.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    d->fd = fd;
    return true;
}

} // namespace OrbPlatform
