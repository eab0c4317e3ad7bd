#pragma once

// The file-system call building staged files needs beyond Qt, one implementation
// per platform (OrbDeliveryFilesUnix.cpp, OrbDeliveryFilesWin.cpp).

#include <QString>

namespace OrbDeliveryFiles {

// Pushes the file's data to the disk (fdatasync / FlushFileBuffers).
bool FlushFile(const QString& path);

} // namespace OrbDeliveryFiles
