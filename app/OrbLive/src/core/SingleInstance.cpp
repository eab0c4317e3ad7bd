#include "SingleInstance.h"

#include "ComponentRegistry.h"
#include "platform/OrbPlatform.h"
#include "workflow/IOrbModel.h"

#include <memory>

bool IsAlreadyRunning()
{
    IOrbModel* model = GetComponent<IOrbModel>("OrbModel");
    if (!model)
        return false;

    // Held until the process exits.
    static std::unique_ptr<OrbPlatform::InstanceLock> gameLock;
    static std::unique_ptr<OrbPlatform::InstanceLock> launcherLock;

    if (!gameLock)
        gameLock = std::make_unique<OrbPlatform::InstanceLock>(
            model->GetStringValue(OrbConfig::GameSettingConfig, "Basic", "GameName"));
    if (!gameLock->TryAcquire())
        return true;

    if (!launcherLock)
        launcherLock = std::make_unique<OrbPlatform::InstanceLock>("OrbLauncher");
    launcherLock->TryAcquire();
    return false;
}
