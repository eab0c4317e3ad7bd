#pragma once

#include <QString>

class IOrbModel;

// Which game and channel this copy of the launcher is for. Taken from the
// settings file the copy shipped with and recorded beside the program when the
// copy first starts, so that no server answer can change it later (copies for
// two games may share one user account, and the server's copy renames keys).
struct OrbLauncherIdentity {
    QString game;
    QString channel;

    // The recorded identity; records it from the local settings when there is none.
    static OrbLauncherIdentity Establish(IOrbModel* model);

    // config/identity.ini beside the program.
    static QString FilePath();
};
