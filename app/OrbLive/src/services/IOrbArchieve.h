#pragma once

#include "core/IComponent.h"

#include <QString>

class QuaZip;

// The ZIP installer: unpacks the game and launcher packages, empties folders.
class IOrbArchieve : public IComponent {
public:
    enum extractType {
        extractLauncher = 0,
        extractGame = 1,
    };

    virtual bool extractEntry(QuaZip* zip, const QString& fileName, const QString& destPath) = 0;
    virtual void extractDir(const QString& archivePath, const QString& destDir, IOrbArchieve::extractType type) = 0;
    virtual bool removeDirContents(const QString& path) = 0;
};
