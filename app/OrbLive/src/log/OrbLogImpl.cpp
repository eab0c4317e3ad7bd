#include "OrbLogImpl.h"

#include "core/ComponentRegistry.h"
#include "platform/OrbPlatform.h"

#include "OrbUserFolders.h"

#include <util/base.h>
#include <util/bmem.h>
#include <util/lexer.h>
#include <util/platform.h>

#include <QFile>
#include <QString>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <mutex>

namespace {

const char* const kLogRelativeDir = OrbUserFolders::kLog;
constexpr int kPathBufferSize = 512;
constexpr int kMessageBufferSize = 4096;
constexpr int kRepeatSumTolerance = 765;

// The handler's parameter is the stream it writes to. The stream that may be
// written is published here under a lock, so that a stream that was closed or
// destroyed is never touched even while a message is being handled elsewhere.
std::mutex g_streamMutex;
std::fstream* g_activeStream = nullptr;

// Repeated-entry folding, process-wide.
std::mutex g_repeatMutex;
const char* g_lastFormat = nullptr;
std::int32_t g_lastSum = 0;
std::int32_t g_repeatCount = 0;

std::string resolveConfigPath(const std::string& relative)
{
    char buffer[kPathBufferSize] = {};
    if (os_get_config_path(buffer, kPathBufferSize - 1, relative.c_str()) <= 0)
        return {};
    return buffer;
}

// The hours-minutes-seconds part changes once a second; formatting it (and
// converting to local time) per line would cost more than the rest of the line.
struct SecondText {
    std::time_t second = -1;
    char text[80] = {};
    std::size_t length = 0;
};

std::string timeField()
{
    using namespace std::chrono;
    const auto now = system_clock::now().time_since_epoch();
    const auto ticks = duration_cast<duration<long long, std::ratio<1, 10000000>>>(now).count();
    const std::time_t seconds = static_cast<std::time_t>(ticks / 10000000);
    thread_local SecondText cached;
    if (cached.second != seconds) {
        std::tm local {};
        cached.text[0] = '\0';
        if (OrbPlatform::LocalTime(seconds, local))
            // %H:%M:%S rather than %T, which older Windows C runtimes reject.
            std::strftime(cached.text, sizeof(cached.text), "%H:%M:%S", &local);
        cached.length = std::strlen(cached.text);
        cached.second = seconds;
    }
    std::string text(cached.text, cached.length);
    if (cached.length > 0) {
        const unsigned millis = static_cast<unsigned>((ticks % 10000000) / 10000);
        char digits[8];
        std::snprintf(digits, sizeof(digits), ".%03u", millis);
        text.append(digits);
    }
    return text;
}

const char* levelTag(int level)
{
    switch (level) {
    case LOG_ERROR:
        return "[E]";
    case LOG_WARNING:
        return "[W]";
    default:
        return "[I]";
    }
}

std::int32_t byteSum(const char* text)
{
    std::int32_t sum = 0;
    for (const char* p = text; *p; ++p)
        sum += static_cast<signed char>(*p);
    return sum;
}

// Splits at line feeds (a carriage return right before one is dropped); the part
// after the last line feed is always written, even when empty.
void writeLines(std::fstream& stream, const std::string& prefix, const char* message)
{
    thread_local std::string line; // keeps its capacity from line to line
    const char* start = message;
    for (;;) {
        const char* feed = std::strchr(start, '\n');
        std::size_t length = feed ? static_cast<std::size_t>(feed - start) : std::strlen(start);
        if (feed && length > 0 && start[length - 1] == '\r')
            --length;
        line.assign(prefix).append(start, length).push_back('\n');
        stream.write(line.data(), static_cast<std::streamsize>(line.size()));
        stream.flush();
        if (!feed)
            break;
        start = feed + 1;
    }
}

// Returns false when the message is folded away. Sets summaryCount when a summary
// line for earlier suppressed repeats must be written first.
bool passesRepeatCheck(const char* format, const char* message, std::int32_t& summaryCount)
{
    summaryCount = 0;
    const std::int32_t sum = byteSum(message);
    std::lock_guard<std::mutex> guard(g_repeatMutex);
    const bool repeat = format == g_lastFormat && std::abs(sum - g_lastSum) < kRepeatSumTolerance;
    if (repeat) {
        const bool suppressed = g_repeatCount >= OrbLogImpl::kMaxWrittenRepeats;
        ++g_repeatCount;
        return !suppressed;
    }
    if (g_repeatCount > OrbLogImpl::kMaxWrittenRepeats)
        summaryCount = g_repeatCount - OrbLogImpl::kMaxWrittenRepeats;
    g_lastFormat = format;
    g_lastSum = sum;
    g_repeatCount = 0;
    return true;
}

} // namespace

OrbLogImpl::OrbLogImpl() = default;

OrbLogImpl::~OrbLogImpl()
{
    std::fputs("~OrbLogImpl called", stdout);
    std::fflush(stdout);
    OrbRegistry::ResetCache<IOrbLog>();
    restoreHandler();
    std::lock_guard<std::mutex> guard(g_streamMutex);
    if (g_activeStream == &m_stream)
        g_activeStream = nullptr;
}

void OrbLogImpl::Init()
{
    const std::string folder = resolveConfigPath(kLogRelativeDir);
    if (folder.empty())
        return;
    // Another launcher starting at the same moment may create it first: that is fine.
    if (!os_file_exists(folder.c_str()) && os_mkdirs(folder.c_str()) == MKDIR_ERROR)
        return;
    OpenLogFile(kLogRelativeDir);
}

void OrbLogImpl::Uninit()
{
    CloseLogFile();
}

std::string OrbLogImpl::GetName()
{
    return "OrbLogImpl";
}

std::string OrbLogImpl::FileNameFor(const std::tm& t)
{
    char name[256] = {};
    std::snprintf(name, sizeof(name), "%04d-%02d-%02d-%02d-%02d-%02d.log", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return name;
}

void OrbLogImpl::OpenLogFile(const std::string& relativeDir)
{
    // Remember the handler to put back at the end, but never our own: after a
    // second open it would be "restored" and messages would go to a dead stream.
    log_handler_t current = nullptr;
    void* currentParam = nullptr;
    base_get_log_handler(&current, &currentParam);
    if (!m_handlerInstalled && !(current == &OrbLogImpl::Handler && currentParam == &m_stream)) {
        m_previousHandler = current;
        m_previousParam = currentParam;
    }

    std::tm local {};
    OrbPlatform::LocalTime(std::time(nullptr), local);
    const std::string stampName = FileNameFor(local);
    const std::string stem = stampName.substr(0, stampName.size() - 4);

    bool opened = false;
    if (!m_stream.is_open()) {
        // Claim a name nobody uses yet: a second launcher started within the same
        // second must not truncate the running launcher's file. Later claims get a
        // numbered suffix, which the clean-up still reads as the same time stamp.
        for (int attempt = 1; attempt <= 100 && !opened; ++attempt) {
            const std::string name = attempt == 1 ? stampName : stem + "-" + std::to_string(attempt) + ".log";
            const std::string path = resolveConfigPath(relativeDir + "/" + name);
            if (path.empty())
                break;
            QFile claim(QString::fromUtf8(path.c_str()));
            if (!claim.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
                if (!claim.exists())
                    break;
                continue;
            }
            claim.close();
            m_stream.open(std::filesystem::u8path(path), std::ios::in | std::ios::out);
            opened = m_stream.is_open();
            m_fileName = name;
        }
    }

    if (!opened) {
        blog(LOG_ERROR, "Failed to open log file");
        return;
    }

    const std::string folder = resolveConfigPath(relativeDir);
    CleanupOldFiles(folder, true);
    CleanupOldFiles(folder, false);

    {
        std::lock_guard<std::mutex> guard(g_streamMutex);
        g_activeStream = &m_stream;
    }
    base_set_log_handler(&OrbLogImpl::Handler, &m_stream);
    m_handlerInstalled = true;
}

void OrbLogImpl::GetLogDir(std::string& out)
{
    out = m_logDir;
}

void OrbLogImpl::GetLogFileName(std::string& out)
{
    out = m_fileName;
}

void OrbLogImpl::CloseLogFile()
{
    std::lock_guard<std::mutex> guard(g_streamMutex);
    if (m_stream.is_open())
        m_stream.close();
}

void OrbLogImpl::Log(int level, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    blogva(level, format, args);
    va_end(args);
}

void OrbLogImpl::restoreHandler()
{
    if (!m_handlerInstalled)
        return;
    log_handler_t current = nullptr;
    void* param = nullptr;
    base_get_log_handler(&current, &param);
    if (current == &OrbLogImpl::Handler && param == &m_stream)
        base_set_log_handler(m_previousHandler, m_previousParam);
    m_handlerInstalled = false;
}

std::uint64_t OrbLogImpl::FileTimestamp(const char* name, bool prefixed)
{
    if (!name)
        return 0;
    lexer lex;
    lexer_init(&lex);
    lexer_start(&lex, name);

    base_token token;
    auto next = [&]() { return lexer_getbasetoken(&lex, &token, IGNORE_WHITESPACE); };
    auto isOther = [&](const char* text) {
        return token.type == BASETOKEN_OTHER && strref_cmp(&token.text, text) == 0;
    };

    std::uint64_t value = 0;
    bool ok = true;
    if (prefixed) {
        ok = next() && token.type == BASETOKEN_ALPHA && next() && isOther("_");
    }
    for (int group = 0; ok && group < 6; ++group) {
        if (group > 0)
            ok = next() && isOther("-");
        if (ok)
            ok = next() && token.type == BASETOKEN_DIGIT;
        for (std::size_t i = 0; ok && i < token.text.len; ++i) {
            const unsigned digit = static_cast<unsigned>(token.text.array[i] - '0');
            if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
                ok = false; // more digits than 64 bits hold: the name does not count
            else
                value = value * 10 + digit;
        }
    }
    lexer_free(&lex);
    return ok ? value : 0;
}

void OrbLogImpl::CleanupOldFiles(const std::string& folder, bool prefixed)
{
    os_dir_t* dir = os_opendir(folder.c_str());
    if (!dir)
        return;
    int counted = 0;
    std::uint64_t oldest = std::numeric_limits<std::uint64_t>::max();
    std::string oldestName;
    while (os_dirent* entry = os_readdir(dir)) {
        if (entry->directory || entry->d_name[0] == '.')
            continue;
        const std::uint64_t stamp = FileTimestamp(entry->d_name, prefixed);
        if (stamp == 0)
            continue;
        ++counted;
        if (stamp < oldest) {
            oldest = stamp;
            oldestName = entry->d_name;
        }
    }
    os_closedir(dir);
    if (counted > kMaxLogFiles && !oldestName.empty())
        os_unlink((folder + "/" + oldestName).c_str());
}

void OrbLogImpl::Handler(int level, const char* format, va_list args, void* param)
{
    // vsnprintf always terminates, so the buffer needs no clearing beforehand.
    char message[kMessageBufferSize];
    message[0] = '\0';
    std::vsnprintf(message, kMessageBufferSize - 1, format, args);

    if (OrbPlatform::IsDebuggerAttached() && message[0] != '\0')
        OrbPlatform::WriteDebuggerText(message);

    if (level > LOG_INFO)
        return;

    std::int32_t summaryCount = 0;
    if (!passesRepeatCheck(format, message, summaryCount))
        return;

    std::lock_guard<std::mutex> guard(g_streamMutex);
    auto* stream = static_cast<std::fstream*>(param);
    if (!stream || stream != g_activeStream || !stream->is_open())
        return;
    const std::string time = timeField();
    if (summaryCount > 0) {
        const std::string summary =
            time + ": Last log entry repeated for " + std::to_string(summaryCount) + " more lines\n";
        stream->write(summary.data(), static_cast<std::streamsize>(summary.size()));
    }
    thread_local std::string prefix;
    thread_local const std::string threadTag = "[tid:" + std::to_string(OrbPlatform::CurrentThreadId()) + "]";
    prefix.assign("[").append(time).append("]").append(levelTag(level)).append(threadTag);
    writeLines(*stream, prefix, message);
}
