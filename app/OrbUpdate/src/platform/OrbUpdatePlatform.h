#pragma once

#include <QString>

// The updater's door to operating-system specifics: OrbUpdatePlatformWin.cpp and
// OrbUpdatePlatformUnix.cpp hold the two implementations.
namespace OrbUpdatePlatform {

// True while some process other than this one runs the program file at `path`.
bool IsProgramRunning(const QString& path);

// True when `path` itself is a symbolic link, or on Windows any reparse point
// (junction, mount point, symbolic link) or shortcut file; never follows it.
bool IsLinkOrJunction(const QString& path);

} // namespace OrbUpdatePlatform
