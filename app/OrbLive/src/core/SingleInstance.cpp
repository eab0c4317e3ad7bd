#include "SingleInstance.h"

#include "platform/OrbPlatform.h"

#include <memory>

bool IsAlreadyRunning(const std::string& gameName)
{
    // Held until the process exits.
    static std::unique_ptr<OrbPlatform::InstanceLock> gameLock;
    static std::unique_ptr<OrbPlatform::InstanceLock> launcherLock;

    if (!gameLock)
        gameLock = std::make_unique<OrbPlatform::InstanceLock>(gameName);
    if (!gameLock->TryAcquire())
        return true;

    if (!launcherLock)
        launcherLock = std::make_unique<OrbPlatform::InstanceLock>("OrbLauncher");
    launcherLock->TryAcquire();
    return false;
}
