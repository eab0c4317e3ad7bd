#include "OrbWorkflowModel.h"

#include "model/IOrbModel.h"
#include "model/OrbModel.h"
#include "workflow/OrbWorkflowRules.h"

#include <string>

namespace OrbWorkflowModel {

QString AppString(IOrbModel* model, const char* key)
{
    const std::string section = OrbModel::GameSection();
    return QString::fromStdString(model->GetStringValue(OrbConfig::AppConfig, section.c_str(), key));
}

void SetAppString(IOrbModel* model, const char* key, const QString& value)
{
    const std::string section = OrbModel::GameSection();
    model->SetString(OrbConfig::AppConfig, section.c_str(), key, value.toUtf8().constData());
}

bool AppBool(IOrbModel* model, const char* key)
{
    const std::string section = OrbModel::GameSection();
    return model->GetBoolValue(OrbConfig::AppConfig, section.c_str(), key);
}

void SetAppBool(IOrbModel* model, const char* key, bool value)
{
    const std::string section = OrbModel::GameSection();
    model->SetBool(OrbConfig::AppConfig, section.c_str(), key, value);
}

QString UserString(IOrbModel* model, const char* section, const char* key)
{
    return QString::fromStdString(model->GetStringValue(OrbConfig::UserConfig, section, key));
}

void SetUserString(IOrbModel* model, const char* section, const char* key, const QString& value)
{
    model->SetString(OrbConfig::UserConfig, section, key, value.toUtf8().constData());
}

QString Setting(IOrbModel* model, const char* section, const char* key)
{
    return QString::fromStdString(model->GetStringValue(OrbConfig::GameSettingConfig, section, key));
}

void SetSetting(IOrbModel* model, const char* section, const char* key, const QString& value)
{
    model->SetString(OrbConfig::GameSettingConfig, section, key, value.toUtf8().constData());
}

OrbPackageCheck DeclaredPackage(IOrbModel* model, const char* section, const char* prefix)
{
    OrbPackageCheck check;
    check.sha256 = Setting(model, section, (std::string(prefix) + "Sha256").c_str()).trimmed();
    check.size = OrbWorkflowRules::DeclaredSize(Setting(model, section, (std::string(prefix) + "Size").c_str()));
    return check;
}

QString ServerCopyPath(IOrbModel* model)
{
    return AppString(model, OrbKey::Storage) + QLatin1Char('/') +
           UserString(model, OrbKey::UserGame, OrbKey::GameSettingsPackage);
}

} // namespace OrbWorkflowModel
