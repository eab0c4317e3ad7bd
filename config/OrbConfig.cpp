#include "OrbConfig.h"

#include <util/bmem.h>
#include <util/config-file.h>
#include <util/platform.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <stdexcept>

namespace {

const char* const kGameSettingsFile = "game_settings.ini";

struct RequiredKey {
    const char* section;
    const char* key;
};

const RequiredKey kGameSettingKeys[] = {
    {"launcher", "Version"},   {"launcher", "LauncherPackageUrl"}, {"launcher", "GameSettingsUrl"},
    {"launcher", "IsForceUpdate"}, {"launcher", "IsHintUpdate"},   {"launcher", "Channel"},
    {"Basic", "GameName"},     {"Basic", "GameNickName"},          {"Basic", "GameSize"},
    {"Basic", "GamePackageUrl"}, {"Basic", "WebPageUrl"},          {"Basic", "Version"},
    {"Basic", "IsClearGamePath"}, {"Basic", "IsOpenMoreGames"},
};

std::string backupPathOf(const std::string& path)
{
    return path + "." + OrbConfig::kBackupSuffix;
}

bool isMissingOrEmpty(const std::string& path)
{
    QFileInfo info(QString::fromStdString(path));
    return !info.exists() || info.size() == 0;
}

// A save replaces the file by renaming a fully written temporary over it and keeps
// the previous content as a backup. A process killed between those renames (or a
// file emptied by any other means) would otherwise cost the user the whole file:
// bring the backup back in that case before opening.
void restoreFromBackupIfNeeded(const std::string& path)
{
    const std::string backup = backupPathOf(path);
    if (!isMissingOrEmpty(path) || isMissingOrEmpty(backup))
        return;
    const std::string temp = path + ".restore";
    if (os_copyfile(backup.c_str(), temp.c_str()) == 0) {
        if (os_rename(temp.c_str(), path.c_str()) != 0)
            os_unlink(temp.c_str());
    }
}

std::string cleanPath(const char* path)
{
    if (!path)
        return {};
    return QDir::cleanPath(QString::fromUtf8(path)).toStdString();
}

} // namespace

OrbConfig::OrbConfig() = default;

OrbConfig::~OrbConfig()
{
    std::fputs("~OrbConfig called\n", stdout);
    std::fflush(stdout);
    std::lock_guard<std::mutex> guard(m_lock);
    // Every write has been saved already; closing must not save again.
    config_close(m_appConfig);
    config_close(m_userConfig);
    config_close(m_gameSettingConfig);
    m_appConfig = m_userConfig = m_gameSettingConfig = nullptr;
}

bool OrbConfig::SetConfigDir(const std::string& dir)
{
    m_configDir = dir;
    return true;
}

bool OrbConfig::SetSDKConfigFile(const std::string& fileName)
{
    m_appFileName = fileName;
    return true;
}

bool OrbConfig::SetUserConfigFile(const std::string& fileName)
{
    m_userFileName = fileName;
    return true;
}

std::string OrbConfig::ConfigFolderPath() const
{
    char buffer[2048] = {};
    if (os_get_config_path(buffer, sizeof(buffer) - 1, m_configDir.c_str()) <= 0)
        return {};
    return buffer;
}

std::string OrbConfig::GameSettingsFolderPath()
{
    char* path = os_get_executable_path_ptr("/config");
    std::string result = cleanPath(path);
    bfree(path);
    return result;
}

static bool ensureFolder(const std::string& folder)
{
    if (folder.empty())
        return false;
    if (os_file_exists(folder.c_str()))
        return true;
    // A launcher starting at the same moment may have created it meanwhile.
    return os_mkdirs(folder.c_str()) != MKDIR_ERROR;
}

bool OrbConfig::Init()
{
    const std::string folder = ConfigFolderPath();
    if (!ensureFolder(folder))
        return false;
    if (!LoadAppConfig(folder))
        return false;
    if (!LoadUserConfig(folder))
        return false;
    const std::string gameFolder = GameSettingsFolderPath();
    if (!ensureFolder(gameFolder))
        return false;
    return LoadGameSettingConfig(gameFolder);
}

bool OrbConfig::loadInto(config_t*& store, const std::string& path)
{
    if (store) {
        config_close(store);
        store = nullptr;
    }
    restoreFromBackupIfNeeded(path);
    if (config_open(&store, path.c_str(), CONFIG_OPEN_EXISTING) != CONFIG_SUCCESS) {
        store = config_create(path.c_str());
    }
    return store != nullptr;
}

bool OrbConfig::LoadAppConfig(const std::string& folder)
{
    std::lock_guard<std::mutex> guard(m_lock);
    return loadInto(m_appConfig, folder + "/" + m_appFileName);
}

bool OrbConfig::LoadUserConfig(const std::string& folder)
{
    std::lock_guard<std::mutex> guard(m_lock);
    return loadInto(m_userConfig, folder + "/" + m_userFileName);
}

bool OrbConfig::LoadGameSettingConfig(const std::string& folder)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!loadInto(m_gameSettingConfig, folder + "/" + kGameSettingsFile))
        return false;
    for (const RequiredKey& k : kGameSettingKeys) {
        if (!config_has_user_value(m_gameSettingConfig, k.section, k.key))
            config_set_string(m_gameSettingConfig, k.section, k.key, "");
    }
    save(m_gameSettingConfig);
    return true;
}

config_t*& OrbConfig::storeFor(OrbConfigType type)
{
    switch (type) {
    case UserConfig:
        return m_userConfig;
    case GameSettingConfig:
        return m_gameSettingConfig;
    default:
        return m_appConfig;
    }
}

void OrbConfig::save(config_t* store)
{
    // The temporary is per process: two launchers saving the same file at once
    // must not write into one temporary and rename a mixture into place.
    static const std::string tempSuffix =
        std::string(kTempSuffix) + std::to_string(QCoreApplication::applicationPid());
    config_save_safe(store, tempSuffix.c_str(), kBackupSuffix);
}

bool OrbConfig::GetConfigHasKey(OrbConfigType type, const char* section, const char* key)
{
    std::lock_guard<std::mutex> guard(m_lock);
    config_t* store = storeFor(type);
    return store && config_has_user_value(store, section, key);
}

std::string OrbConfig::GetStringValue(OrbConfigType type, const char* section, const char* key)
{
    std::lock_guard<std::mutex> guard(m_lock);
    config_t* store = storeFor(type);
    if (!store || !config_has_user_value(store, section, key))
        return {};
    const char* value = config_get_string(store, section, key);
    return value ? std::string(value) : std::string();
}

int OrbConfig::GetIntValue(OrbConfigType type, const char* section, const char* key)
{
    std::lock_guard<std::mutex> guard(m_lock);
    config_t* store = storeFor(type);
    if (!store || !config_has_user_value(store, section, key))
        return -1;
    return static_cast<int>(config_get_int(store, section, key));
}

bool OrbConfig::GetBoolValue(OrbConfigType type, const char* section, const char* key)
{
    std::lock_guard<std::mutex> guard(m_lock);
    config_t* store = storeFor(type);
    if (!store)
        return false;
    return config_get_bool(store, section, key);
}

void OrbConfig::SetString(OrbConfigType type, const char* section, const char* key, const char* value)
{
    std::lock_guard<std::mutex> guard(m_lock);
    config_t* store = storeFor(type);
    if (!store)
        return;
    config_set_string(store, section, key, value ? value : "");
    save(store);
}

void OrbConfig::SetInt(OrbConfigType type, const char* section, const char* key, int value)
{
    std::lock_guard<std::mutex> guard(m_lock);
    config_t* store = storeFor(type);
    if (!store)
        return;
    config_set_int(store, section, key, value);
    save(store);
}

void OrbConfig::SetBool(OrbConfigType type, const char* section, const char* key, bool value)
{
    std::lock_guard<std::mutex> guard(m_lock);
    config_t* store = storeFor(type);
    if (!store)
        return;
    config_set_bool(store, section, key, value);
    save(store);
}

std::string OrbConfig::GetSpecifyConfigValue(const std::string& path, const char* section, const char* key)
{
    std::lock_guard<std::mutex> guard(m_lock);
    config_t* temp = nullptr;
    if (config_open(&temp, path.c_str(), CONFIG_OPEN_EXISTING) != CONFIG_SUCCESS) {
        temp = config_create(path.c_str());
        if (!temp)
            throw std::runtime_error("Failed to create config");
    }
    std::string result;
    if (config_has_user_value(temp, section, key)) {
        const char* value = config_get_string(temp, section, key);
        if (value)
            result = value;
    }
    config_close(temp);
    return result;
}

void OrbConfig::SetConfigValueImpl(config_t* config, const char* section, const char* key, const char* value)
{
    config_set_string(config, section, key, value);
}

void OrbConfig::SetConfigValueImpl(config_t* config, const char* section, const char* key, double value)
{
    config_set_double(config, section, key, value);
}
