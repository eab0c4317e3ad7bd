#include "OrbWorkflowModel.h"

#include "model/IOrbModel.h"
#include "model/OrbModel.h"

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

QString Setting(IOrbModel* model, const char* section, const char* key)
{
    return QString::fromStdString(model->GetStringValue(OrbConfig::GameSettingConfig, section, key));
}

} // namespace OrbWorkflowModel
