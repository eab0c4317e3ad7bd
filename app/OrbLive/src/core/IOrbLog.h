#pragma once

#include "IComponent.h"

#include <string>

#if defined(__GNUC__)
#  define ORB_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#  define ORB_PRINTF_FORMAT(fmt, args)
#endif

// Message levels of the util library's logger.
enum OrbLogLevel {
    OrbLogError = 100,
    OrbLogWarning = 200,
    OrbLogInfo = 300,
    OrbLogDebug = 400,
};

class IOrbLog : public IComponent {
public:
    virtual void OpenLogFile(const std::string& relativeDir) = 0;
    virtual void GetLogDir(std::string& out) = 0;
    virtual void GetLogFileName(std::string& out) = 0;
    virtual void CloseLogFile() = 0;
    virtual void Log(int level, const char* format, ...) ORB_PRINTF_FORMAT(3, 4) = 0;
};
