#pragma once

#include "orbconfig_export.h"

#include <memory>
#include <string>

class OrbConfigPrivate;

// Typed, thread-safe access to the launcher's three INI files. Every write is on
// disk when it returns; reads hand out copies, so a concurrent write of the same
// key can never pull a value out from under a reader.
class ORBCONFIG_EXPORT OrbConfig {
public:
    enum OrbConfigType {
        AppConfig = 0,
        UserConfig = 1,
        GameSettingConfig = 2,
    };

    OrbConfig();
    virtual ~OrbConfig();

    OrbConfig(const OrbConfig&) = delete;
    OrbConfig& operator=(const OrbConfig&) = delete;

    bool SetConfigDir(const std::string& dir);
    bool SetSDKConfigFile(const std::string& fileName);
    bool SetUserConfigFile(const std::string& fileName);

    bool Init();

    bool LoadAppConfig(const std::string& folder);
    bool LoadUserConfig(const std::string& folder);
    bool LoadGameSettingConfig(const std::string& folder);

    bool GetConfigHasKey(OrbConfigType type, const char* section, const char* key);
    std::string GetStringValue(OrbConfigType type, const char* section, const char* key);
    int GetIntValue(OrbConfigType type, const char* section, const char* key);
    bool GetBoolValue(OrbConfigType type, const char* section, const char* key);

    void SetString(OrbConfigType type, const char* section, const char* key, const char* value);
    void SetInt(OrbConfigType type, const char* section, const char* key, int value);
    void SetBool(OrbConfigType type, const char* section, const char* key, bool value);

    // Reads one value from any INI file without keeping it open. Throws
    // std::runtime_error("Failed to create config") when the file can be neither
    // opened nor created.
    std::string GetSpecifyConfigValue(const std::string& path, const char* section, const char* key);

    // Folders the store works in (resolved from the names given above).
    std::string ConfigFolderPath() const;
    static std::string GameSettingsFolderPath();

    // Suffixes of the files a save writes beside an INI file: "<file>.tmp<pid>-<n>"
    // while it is written (renamed over the file when complete) and "<file>.bak",
    // the content before the last save.
    static constexpr const char* kTempSuffix = "tmp";
    static constexpr const char* kBackupSuffix = "bak";

private:
    // The libobs stores and the lock stay out of this header: callers need
    // neither libobs's config types nor the layout of this class.
    std::unique_ptr<OrbConfigPrivate> d;
};
