#pragma once

#include <QString>

// A downloaded package against what the settings declare for it.
namespace OrbPackageFile {

// True when the file exists and has the declared size (when size >= 0) and
// SHA-256 (when sha256 is not empty). `why` says what did not match.
bool Matches(const QString& path, const QString& sha256, qint64 size, QString* why = nullptr);

} // namespace OrbPackageFile
