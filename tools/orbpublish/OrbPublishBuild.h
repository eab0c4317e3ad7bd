#pragma once

#include <QString>

#include <cstdint>

struct OrbPublishBuildOptions {
    QString gameFolder;
    QString storeFolder;
    QString version;
    QString game;
    QString keyPath;
    std::int64_t serial = -1;  // -1: the store's highest serial plus one
    std::int64_t days = 30;
};

// Chunks every file of the game folder into the store and writes the signed
// manifest of the version. Returns the process exit code; messages go to stdout
// and stderr.
int OrbPublishBuild(const OrbPublishBuildOptions& options);
