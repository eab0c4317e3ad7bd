#pragma once

#include "core/IOrbLog.h"

#include <cstdarg>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <string>

// Writes one log file per launcher start below the user's application-data
// folder and receives every message of the util library's logger.
class OrbLogImpl : public IOrbLog {
public:
    static constexpr int kMaxLogFiles = 20;
    static constexpr int kMaxWrittenRepeats = 30;

    OrbLogImpl();
    ~OrbLogImpl() override;

    void Init() override;
    void Uninit() override;
    std::string GetName() override;

    void OpenLogFile(const std::string& relativeDir) override;
    void GetLogDir(std::string& out) override;
    void GetLogFileName(std::string& out) override;
    void CloseLogFile() override;
    void Log(int level, const char* format, ...) override ORB_PRINTF_FORMAT(3, 4);

    // Building blocks, public for the tests.
    static std::string FileNameFor(const std::tm& localTime);
    // The time stamp a log file name stands for, or 0 when the name does not count.
    static std::uint64_t FileTimestamp(const char* name, bool prefixed);
    // Deletes the oldest counted file when more than kMaxLogFiles are counted.
    static void CleanupOldFiles(const std::string& folder, bool prefixed);

private:
    static void Handler(int level, const char* format, va_list args, void* param);
    void restoreHandler();

    std::string m_logDir; // never filled; kept for GetLogDir
    std::string m_fileName;
    std::fstream m_stream;

    bool m_handlerInstalled = false;
    void (*m_previousHandler)(int, const char*, va_list, void*) = nullptr;
    void* m_previousParam = nullptr;
};
