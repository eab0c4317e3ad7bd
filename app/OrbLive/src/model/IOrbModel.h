#pragma once

#include "core/IComponent.h"

#include <OrbConfig.h>

#include <string>

// Every INI read and write of the launcher goes through this interface. String
// reads return copies: a value stays valid however other threads write the key.
class IOrbModel : public IComponent {
public:
    using ConfigType = OrbConfig::OrbConfigType;

    virtual bool GetConfigHasKey(ConfigType type, const char* section, const char* key) = 0;
    virtual std::string GetStringValue(ConfigType type, const char* section, const char* key) = 0;
    virtual int GetIntValue(ConfigType type, const char* section, const char* key) = 0;
    virtual bool GetBoolValue(ConfigType type, const char* section, const char* key) = 0;
    virtual void SetString(ConfigType type, const char* section, const char* key, const char* value) = 0;
    virtual void SetInt(ConfigType type, const char* section, const char* key, int value) = 0;
    virtual void SetBool(ConfigType type, const char* section, const char* key, bool value) = 0;
    virtual std::string GetSpecifyConfigValue(const std::string& path, const char* section, const char* key) = 0;
};
