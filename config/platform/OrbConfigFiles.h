#pragma once

// The few file-system operations the store's saves need beyond libobs and Qt,
// one implementation per platform (OrbConfigFilesUnix.cpp, OrbConfigFilesWin.cpp).
// Private to the library.

#include <cstdint>
#include <string>

namespace OrbConfigFiles {

// Pushes the file's data to the disk (fsync / FlushFileBuffers).
bool FlushFile(const std::string& path);
// Makes a completed rename in `folder` durable; a no-op where the system needs none.
void FlushFolder(const std::string& folder);
// A second name for the same file where the file system allows it; false otherwise.
bool HardLink(const std::string& existing, const std::string& newName);
// True while a process with this id runs (or cannot be ruled out).
bool ProcessAlive(std::int64_t pid);
std::int64_t CurrentProcessId();

} // namespace OrbConfigFiles
