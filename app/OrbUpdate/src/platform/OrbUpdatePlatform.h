#pragma once

#include <QString>

// The updater's door to operating-system specifics: OrbUpdatePlatformWin.cpp and
// OrbUpdatePlatformUnix.cpp hold the two implementations.
namespace OrbUpdatePlatform {

// True while some process other than this one runs the program file at `path`.
bool IsProgramRunning(const QString& path);

} // namespace OrbUpdatePlatform
