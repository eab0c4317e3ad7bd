#include "OrbConfig.h"
#include "OrbConfig_p.h"

#include "platform/OrbConfigFiles.h"

#include <util/bmem.h>
#include <util/config-file.h>
#include <util/platform.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <QDateTime>
#include <QList>

#include <atomic>
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

// Temporaries older than this are nobody's save in progress, whatever their id says
// (process ids are reused).
constexpr qint64 kStaleTemporarySeconds = 10 * 60;

std::string backupPathOf(const std::string& path)
{
    return path + "." + OrbConfig::kBackupSuffix;
}

QString qpath(const std::string& path)
{
    return QString::fromUtf8(path.c_str());
}

// "<file>.tmp<pid>" followed by anything: the temporaries of one process.
std::string temporaryPrefixOf(const std::string& path)
{
    return path + "." + OrbConfig::kTempSuffix;
}

std::string newTemporaryName(const std::string& path, const char* tag)
{
    // Several stores of one process may work on the same file: a serial keeps them apart.
    static std::atomic<unsigned> serial {0};
    return temporaryPrefixOf(path) + std::to_string(OrbConfigFiles::CurrentProcessId()) + "-" +
           std::to_string(++serial) + tag;
}

struct Temporary {
    QString path;
    qint64 pid = 0;
    QDateTime modified;
};

QList<Temporary> temporariesOf(const std::string& path)
{
    const QFileInfo file(qpath(path));
    const QString prefix = file.fileName() + QLatin1Char('.') + QLatin1String(OrbConfig::kTempSuffix);
    QList<Temporary> found;
    const QFileInfoList entries =
        QDir(file.path()).entryInfoList({prefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo& entry : entries) {
        const QString rest = entry.fileName().mid(prefix.size());
        int digits = 0;
        while (digits < rest.size() && rest.at(digits).isDigit())
            ++digits;
        if (digits == 0)
            continue;
        found.append({entry.filePath(), rest.left(digits).toLongLong(), entry.lastModified()});
    }
    return found;
}

// Temporaries of processes that died mid-save would pile up beside the file.
void removeStaleTemporaries(const std::string& path)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const qint64 self = OrbConfigFiles::CurrentProcessId();
    for (const Temporary& t : temporariesOf(path)) {
        const bool old = t.modified.isValid() && t.modified.secsTo(now) > kStaleTemporarySeconds;
        const bool orphaned = t.pid != self && !OrbConfigFiles::ProcessAlive(t.pid);
        if (old || orphaned)
            QFile::remove(t.path);
    }
}

// A save never leaves the file missing or empty. Older saves (and power cuts)
// could: an empty file next to a newer backup, or a missing file next to the
// backup and the temporary of the save that was interrupted. Only those are
// restored; a file that has content is never replaced, and a file the user
// deleted (no trace of a save) starts fresh.
void restoreInterruptedSave(const std::string& path)
{
    const QFileInfo file(qpath(path));
    const QFileInfo backup(qpath(backupPathOf(path)));
    if (!backup.exists() || backup.size() == 0)
        return;
    if (file.exists() && file.size() > 0)
        return;
    const bool interrupted =
        file.exists() ? backup.lastModified() >= file.lastModified() : !temporariesOf(path).isEmpty();
    if (!interrupted)
        return;
    const QString staged = qpath(newTemporaryName(path, "r"));
    if (!QFile::copy(backup.filePath(), staged))
        return;
    if (!file.exists()) {
        // Does not replace: a file that appeared meanwhile wins.
        QFile::rename(staged, file.filePath());
    } else if (QFileInfo(file.filePath()).size() == 0) {
        os_rename(staged.toUtf8().constData(), path.c_str());
    }
    QFile::remove(staged);
}

std::string cleanPath(const char* path)
{
    if (!path)
        return {};
    return QDir::cleanPath(QString::fromUtf8(path)).toStdString();
}

} // namespace

OrbConfig::OrbConfig() : d(std::make_unique<OrbConfigPrivate>()) {}

OrbConfig::~OrbConfig()
{
    std::fputs("~OrbConfig called\n", stdout);
    std::fflush(stdout);
    std::lock_guard<std::mutex> guard(d->lock);
    // Every write has been saved already; closing must not save again.
    config_close(d->appConfig);
    config_close(d->userConfig);
    config_close(d->gameSettingConfig);
    d->appConfig = d->userConfig = d->gameSettingConfig = nullptr;
}

bool OrbConfig::SetConfigDir(const std::string& dir)
{
    d->configDir = dir;
    return true;
}

bool OrbConfig::SetSDKConfigFile(const std::string& fileName)
{
    d->appFileName = fileName;
    return true;
}

bool OrbConfig::SetUserConfigFile(const std::string& fileName)
{
    d->userFileName = fileName;
    return true;
}

std::string OrbConfig::ConfigFolderPath() const
{
    char buffer[2048] = {};
    if (os_get_config_path(buffer, sizeof(buffer) - 1, d->configDir.c_str()) <= 0)
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

bool OrbConfigPrivate::loadInto(OrbConfig::OrbConfigType type, const std::string& path)
{
    config_t*& store = storeFor(type);
    if (store) {
        config_close(store);
        store = nullptr;
    }
    restoreInterruptedSave(path);
    removeStaleTemporaries(path);

    // The store is bound to a temporary name of its own and reads a copy of the
    // file: libobs saves to the name a store was opened with, so every save
    // writes that temporary, which is then flushed and renamed over the file.
    // The file itself is only ever replaced whole.
    const std::string temp = newTemporaryName(path, "");
    const QString qtemp = qpath(temp);
    QFile::remove(qtemp);
    if (QFile::copy(qpath(path), qtemp)) {
        if (config_open(&store, temp.c_str(), CONFIG_OPEN_EXISTING) != CONFIG_SUCCESS)
            store = nullptr;
    }
    if (!store) {
        // Missing or unreadable: an empty store, and an empty file where none is.
        store = config_create(temp.c_str());
        if (store && !QFile::rename(qtemp, qpath(path)) && !QFileInfo::exists(qpath(path))) {
            config_close(store);
            store = nullptr;
        }
    }
    QFile::remove(qtemp);
    const int index = type == OrbConfig::UserConfig ? 1 : type == OrbConfig::GameSettingConfig ? 2 : 0;
    paths[index] = store ? path : std::string();
    temps[index] = store ? temp : std::string();
    return store != nullptr;
}

bool OrbConfig::LoadAppConfig(const std::string& folder)
{
    std::lock_guard<std::mutex> guard(d->lock);
    return d->loadInto(AppConfig, folder + "/" + d->appFileName);
}

bool OrbConfig::LoadUserConfig(const std::string& folder)
{
    std::lock_guard<std::mutex> guard(d->lock);
    return d->loadInto(UserConfig, folder + "/" + d->userFileName);
}

bool OrbConfig::LoadGameSettingConfig(const std::string& folder)
{
    std::lock_guard<std::mutex> guard(d->lock);
    if (!d->loadInto(GameSettingConfig, folder + "/" + kGameSettingsFile))
        return false;
    for (const RequiredKey& k : kGameSettingKeys) {
        if (!config_has_user_value(d->gameSettingConfig, k.section, k.key))
            config_set_string(d->gameSettingConfig, k.section, k.key, "");
    }
    d->save(d->gameSettingConfig);
    return true;
}

config_t*& OrbConfigPrivate::storeFor(OrbConfig::OrbConfigType type)
{
    switch (type) {
    case OrbConfig::UserConfig:
        return userConfig;
    case OrbConfig::GameSettingConfig:
        return gameSettingConfig;
    default:
        return appConfig;
    }
}

void OrbConfigPrivate::save(config_t* store)
{
    const int index = store == userConfig ? 1 : store == gameSettingConfig ? 2 : 0;
    const std::string& path = paths[index];
    const std::string& temp = temps[index];
    if (!store || path.empty())
        return;
    // 1. The complete new content, on disk, under the temporary name.
    if (config_save(store) != CONFIG_SUCCESS || !OrbConfigFiles::FlushFile(temp)) {
        os_unlink(temp.c_str());
        return;
    }
    // 2. The current content becomes the backup by a second name (or a copy),
    //    renamed into place whole; the file itself stays where it is.
    const std::string backup = backupPathOf(path);
    const std::string staged = newTemporaryName(path, "b");
    if (OrbConfigFiles::HardLink(path, staged) || QFile::copy(qpath(path), qpath(staged))) {
        if (os_rename(staged.c_str(), backup.c_str()) != 0)
            os_unlink(staged.c_str());
    }
    // 3. One rename replaces the file: a reader sees the old or the new file, never none.
    if (os_rename(temp.c_str(), path.c_str()) != 0) {
        os_unlink(temp.c_str());
        return;
    }
    OrbConfigFiles::FlushFolder(QFileInfo(qpath(path)).path().toStdString());
}

bool OrbConfig::GetConfigHasKey(OrbConfigType type, const char* section, const char* key)
{
    std::lock_guard<std::mutex> guard(d->lock);
    config_t* store = d->storeFor(type);
    return store && config_has_user_value(store, section, key);
}

std::string OrbConfig::GetStringValue(OrbConfigType type, const char* section, const char* key)
{
    std::lock_guard<std::mutex> guard(d->lock);
    config_t* store = d->storeFor(type);
    if (!store || !config_has_user_value(store, section, key))
        return {};
    const char* value = config_get_string(store, section, key);
    return value ? std::string(value) : std::string();
}

int OrbConfig::GetIntValue(OrbConfigType type, const char* section, const char* key)
{
    std::lock_guard<std::mutex> guard(d->lock);
    config_t* store = d->storeFor(type);
    if (!store || !config_has_user_value(store, section, key))
        return -1;
    return static_cast<int>(config_get_int(store, section, key));
}

bool OrbConfig::GetBoolValue(OrbConfigType type, const char* section, const char* key)
{
    std::lock_guard<std::mutex> guard(d->lock);
    config_t* store = d->storeFor(type);
    if (!store)
        return false;
    return config_get_bool(store, section, key);
}

void OrbConfig::SetString(OrbConfigType type, const char* section, const char* key, const char* value)
{
    std::lock_guard<std::mutex> guard(d->lock);
    config_t* store = d->storeFor(type);
    if (!store)
        return;
    config_set_string(store, section, key, value ? value : "");
    d->save(store);
}

void OrbConfig::SetInt(OrbConfigType type, const char* section, const char* key, int value)
{
    std::lock_guard<std::mutex> guard(d->lock);
    config_t* store = d->storeFor(type);
    if (!store)
        return;
    config_set_int(store, section, key, value);
    d->save(store);
}

void OrbConfig::SetBool(OrbConfigType type, const char* section, const char* key, bool value)
{
    std::lock_guard<std::mutex> guard(d->lock);
    config_t* store = d->storeFor(type);
    if (!store)
        return;
    config_set_bool(store, section, key, value);
    d->save(store);
}

std::string OrbConfig::GetSpecifyConfigValue(const std::string& path, const char* section, const char* key)
{
    std::lock_guard<std::mutex> guard(d->lock);
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
