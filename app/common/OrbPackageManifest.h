#pragma once

#include <QMap>
#include <QString>

// The seal the launcher puts on an unpacked launcher package once the package
// passed its checks: every regular file of the folder with its SHA-256. The
// updater installs only a folder whose files are exactly those of the seal, so
// nothing that did not come out of an accepted package reaches the program folder.
//
// The file ".orbpackage" in the folder:
//   OrbPackage 1
//   <sha256 hex> <path relative to the folder>
class OrbPackageManifest {
public:
    static constexpr const char* kFileName = ".orbpackage";

    // Hashes every regular file below dir (links and special files are left out,
    // as the updater never copies them) and writes the seal. False when a file
    // cannot be read or a name cannot be written on one line.
    static bool Write(const QString& dir, QString* error = nullptr);

    // The sealed files, path → hex hash; false when there is no readable seal.
    static bool Read(const QString& dir, QMap<QString, QByteArray>* files, QString* error = nullptr);

    // SHA-256 of a file as lower-case hex; empty when it cannot be read.
    static QByteArray HashFile(const QString& path);
};
