#pragma once

// The data of one file entry, inflated with zlib directly rather than through
// minizip, which stops silently at the declared size.

#include "ZipEntrySink.h"

#include <functional>

class QuaZip;

namespace OrbZip {

// Writes the data of the archive's current entry to `file.path`, which must not
// exist. An entry producing more than its declared size, or other data than
// its checksum, fails. Nothing is left at the path on failure.
EntryResult writeFile(QuaZip* zip, const PendingFile& file, const std::function<bool()>& cancelled);

} // namespace OrbZip
