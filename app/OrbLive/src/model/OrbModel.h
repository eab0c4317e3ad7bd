#pragma once

#include "IOrbModel.h"

#include <QObject>
#include <QString>

#include <memory>

// Owns the launcher's persistent state: the configuration store over the three
// INI files and the start-up defaults of the game's section.
class OrbModel : public QObject, public IOrbModel {
    Q_OBJECT
public:
    explicit OrbModel(QObject* parent = nullptr);
    ~OrbModel() override;

    void Init() override;
    void Uninit() override;
    std::string GetName() override;

    bool GetConfigHasKey(ConfigType type, const char* section, const char* key) override;
    std::string GetStringValue(ConfigType type, const char* section, const char* key) override;
    int GetIntValue(ConfigType type, const char* section, const char* key) override;
    bool GetBoolValue(ConfigType type, const char* section, const char* key) override;
    void SetString(ConfigType type, const char* section, const char* key, const char* value) override;
    void SetInt(ConfigType type, const char* section, const char* key, int value) override;
    void SetBool(ConfigType type, const char* section, const char* key, bool value) override;
    std::string GetSpecifyConfigValue(const std::string& path, const char* section, const char* key) override;

    // The application-file section that holds this game's state (the game name).
    static std::string GameSection();

private:
    std::unique_ptr<OrbConfig> m_config;
};
