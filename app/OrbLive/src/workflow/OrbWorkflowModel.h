#pragma once

#include <QString>

class IOrbModel;

// The controller's reads and writes of the model, shared by its source files:
// the application file's section of this game, and the game-settings file.
namespace OrbWorkflowModel {

QString AppString(IOrbModel* model, const char* key);
void SetAppString(IOrbModel* model, const char* key, const QString& value);
bool AppBool(IOrbModel* model, const char* key);
void SetAppBool(IOrbModel* model, const char* key, bool value);
// A key of the local game-settings file.
QString Setting(IOrbModel* model, const char* section, const char* key);

} // namespace OrbWorkflowModel
