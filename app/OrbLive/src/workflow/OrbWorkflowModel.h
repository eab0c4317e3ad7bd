#pragma once

#include "services/download/IOrbNetwork.h"

#include <QString>

class IOrbModel;

// The launcher state as stored on disk. Key names are spelt exactly as the files
// hold them (misspelt ones included: stored files rely on them); each key has one
// feature that writes it, named beside it.
namespace OrbKey {
// Application file, this game's section.
inline constexpr char InstallDirectory[] = "InstallDirectory";       // game install (folder choice)
inline constexpr char DownLoadPath[] = "DownLoadPath";               // model defaults, bridge
inline constexpr char DownLoadGamePackage[] = "DownLoadGamePackage"; // game install
inline constexpr char IsDownloadStart[] = "IsDownloadStart";         // game install
inline constexpr char IsDownloadFinish[] = "IsDownloadFinish";       // game install; update check on a new version
inline constexpr char IsInstallGmae[] = "IsInstallGmae";             // game install; update check on a new version
inline constexpr char IsUpdateGmaeHint[] = "IsUpdateGmaeHint";       // update check sets, game install clears
inline constexpr char GameExecutablePath[] = "GameExecutablePath";   // game install: the client, relative to the game folder
inline constexpr char Storage[] = "Storage";                         // model
inline constexpr char Backup[] = "Backup";                           // model
inline constexpr char Version[] = "Version";                         // self-update, once the new launcher runs
inline constexpr char UpdateCheckDeadline[] = "UpdateCheckDeadline"; // seconds for the whole check; read only
inline constexpr char DeliveryConnections[] = "DeliveryConnections"; // chunk fetches at once; read only
// User file, section [Game].
inline constexpr char UserGame[] = "Game";
inline constexpr char GameSettingsPackage[] = "GameSettingsPackage"; // update check
inline constexpr char LauncherPackage[] = "LauncherPackage";         // self-update
inline constexpr char PendingLauncherVersion[] = "PendingLauncherVersion"; // self-update
inline constexpr char PendingLauncherSha256[] = "PendingLauncherSha256";   // self-update
// User file, section [Serials]: the highest accepted settings serial per
// publisher key and game (update check).
inline constexpr char UserSerials[] = "Serials";
} // namespace OrbKey

// The controller's reads and writes of the model, shared by its features: the
// application file's section of this game, the user file and the game-settings file.
namespace OrbWorkflowModel {

QString AppString(IOrbModel* model, const char* key);
void SetAppString(IOrbModel* model, const char* key, const QString& value);
bool AppBool(IOrbModel* model, const char* key);
void SetAppBool(IOrbModel* model, const char* key, bool value);
QString UserString(IOrbModel* model, const char* section, const char* key);
void SetUserString(IOrbModel* model, const char* section, const char* key, const QString& value);
// A key of the local game-settings file.
QString Setting(IOrbModel* model, const char* section, const char* key);
void SetSetting(IOrbModel* model, const char* section, const char* key, const QString& value);

// What the local settings declare for a package: `section`'s <prefix>Sha256 and
// <prefix>Size ("Basic", "GamePackage"; "launcher", "LauncherPackage").
OrbPackageCheck DeclaredPackage(IOrbModel* model, const char* section, const char* prefix);

// The server's copy of the settings: Storage + "/" + GameSettingsPackage.
QString ServerCopyPath(IOrbModel* model);

} // namespace OrbWorkflowModel
