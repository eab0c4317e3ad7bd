#pragma once

#include <QString>

// The per-user folders of the launcher, below the roaming application-data
// root. The relative names go to libobs' os_get_config_path (the launcher);
// absolute() applies the same root rule for a program without libobs (the updater).
namespace OrbUserFolders {

inline constexpr char kConfig[] = "OrbLauncher/config";   // OrbLauncher.ini, User.ini
inline constexpr char kLog[] = "OrbLauncher/log";         // one log file per start
inline constexpr char kRun[] = "OrbLauncher/run";         // single-instance locks
inline constexpr char kInstall[] = "OrbLauncher/install"; // installation records

// The roaming application-data root: %APPDATA% on Windows, elsewhere
// $XDG_CONFIG_HOME or, when unset or empty, ~/.config.
QString roamingRoot();

// `folder` (one of the names above) below roamingRoot().
QString absolute(const char* folder);

} // namespace OrbUserFolders
