#pragma once

#include "ComponentRegistry.h"
#include "IOrbLog.h"

#include <cstdio>

namespace OrbLogDetail {

// The source file's name without its folders (either separator).
constexpr const char* BaseName(const char* path)
{
    const char* name = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '/' || *p == '\\')
            name = p + 1;
    }
    return name;
}

inline IOrbLog* Instance()
{
    return GetComponent<IOrbLog>("OrbLogImpl");
}

inline void Unavailable()
{
    std::fputs("Error: Log instance is not available.\n", stderr);
}

} // namespace OrbLogDetail

// Logs through the registered log component with the caller's file, line and
// function in front of the message. The format must be a string literal: it is
// joined to the prefix at compile time, and repeated-entry folding keys on it.
#define ORB_LOG(level, format, ...)                                                               \
    do {                                                                                          \
        if (IOrbLog* orbLogInstance_ = OrbLogDetail::Instance())                                  \
            orbLogInstance_->Log((level), "[%s:%d][%s] ---> " format,                             \
                                 OrbLogDetail::BaseName(__FILE__), __LINE__, __FUNCTION__,        \
                                 ##__VA_ARGS__);                                                  \
        else                                                                                      \
            OrbLogDetail::Unavailable();                                                          \
    } while (0)
