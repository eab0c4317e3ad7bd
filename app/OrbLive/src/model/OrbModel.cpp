#include "OrbModel.h"

#include "core/ComponentRegistry.h"

#include "OrbUserFolders.h"

#include <util/bmem.h>
#include <util/platform.h>

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <mutex>
#include <stdexcept>

namespace {

std::mutex g_sectionMutex;
std::string g_gameSection;

QString gameSettingsPath()
{
    char* folder = os_get_executable_path_ptr("/config");
    const QString path = QDir::toNativeSeparators(QDir::cleanPath(QString::fromUtf8(folder ? folder : "")) +
                                                  "/game_settings.ini");
    bfree(folder);
    return path;
}

} // namespace

OrbModel::OrbModel(QObject* parent) : QObject(parent) {}

OrbModel::~OrbModel()
{
    qDebug() << "~OrbModel called";
    OrbRegistry::ResetCache<IOrbModel>();
}

std::string OrbModel::GetName()
{
    return "OrbModel";
}

std::string OrbModel::GameSection()
{
    std::lock_guard<std::mutex> guard(g_sectionMutex);
    return g_gameSection;
}

void OrbModel::Init()
{
    if (m_config)
        return;
    m_config = std::make_unique<OrbConfig>();
    m_config->SetConfigDir(OrbUserFolders::kConfig);
    m_config->SetSDKConfigFile("OrbLauncher.ini");
    m_config->SetUserConfigFile("User.ini");
    m_config->Init();

    if (!QFile::exists(gameSettingsPath())) {
        qDebug() << "Config File does not exist";
        throw std::runtime_error("Config File does not exist");
    }

    const std::string gameName = m_config->GetStringValue(OrbConfig::GameSettingConfig, "Basic", "GameName");
    if (gameName.empty()) {
        qDebug() << "game name is empty";
        throw std::runtime_error("game name is empty");
    }
    {
        std::lock_guard<std::mutex> guard(g_sectionMutex);
        g_gameSection = gameName;
    }

    const char* section = gameName.c_str();
    const QString programDir = QCoreApplication::applicationDirPath();
    auto setIfAbsent = [&](const char* key, const QString& value) {
        if (!m_config->GetConfigHasKey(OrbConfig::AppConfig, section, key))
            m_config->SetString(OrbConfig::AppConfig, section, key, value.toUtf8().constData());
    };
    setIfAbsent("Version", QStringLiteral("v1.0.2"));
    setIfAbsent("Language", QStringLiteral("zh-CN"));
    setIfAbsent("DownLoadPath", programDir + "/Orbdownload");
    setIfAbsent("InstallDirectory", QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    setIfAbsent("IsDownloadStart", QStringLiteral("false"));
    setIfAbsent("IsDownloadFinish", QStringLiteral("false"));
    setIfAbsent("IsInstallGmae", QStringLiteral("false"));
    m_config->SetString(OrbConfig::AppConfig, section, "Storage", (programDir + "/storage").toUtf8().constData());
    m_config->SetString(OrbConfig::AppConfig, section, "Backup", (programDir + "/backup").toUtf8().constData());
}

void OrbModel::Uninit()
{
    m_config.reset();
}

bool OrbModel::GetConfigHasKey(ConfigType type, const char* section, const char* key)
{
    return m_config && m_config->GetConfigHasKey(type, section, key);
}

std::string OrbModel::GetStringValue(ConfigType type, const char* section, const char* key)
{
    return m_config ? m_config->GetStringValue(type, section, key) : std::string();
}

int OrbModel::GetIntValue(ConfigType type, const char* section, const char* key)
{
    return m_config ? m_config->GetIntValue(type, section, key) : -1;
}

bool OrbModel::GetBoolValue(ConfigType type, const char* section, const char* key)
{
    return m_config && m_config->GetBoolValue(type, section, key);
}

void OrbModel::SetString(ConfigType type, const char* section, const char* key, const char* value)
{
    if (m_config)
        m_config->SetString(type, section, key, value);
}

void OrbModel::SetInt(ConfigType type, const char* section, const char* key, int value)
{
    if (m_config)
        m_config->SetInt(type, section, key, value);
}

void OrbModel::SetBool(ConfigType type, const char* section, const char* key, bool value)
{
    if (m_config)
        m_config->SetInt(type, section, key, value ? 1 : 0);
}

std::string OrbModel::GetSpecifyConfigValue(const std::string& path, const char* section, const char* key)
{
    return m_config ? m_config->GetSpecifyConfigValue(path, section, key) : std::string();
}
