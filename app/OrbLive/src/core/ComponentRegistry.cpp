#include "ComponentRegistry.h"

#include "IOrbLog.h"

namespace OrbRegistry {

// Both maps are never destroyed. A library may end the process with exit() from
// one of its threads while the program runs (Qt WebEngine does when Chromium
// cannot start); destroying the live components from the exit handlers would
// tear down the scene's Qt objects on that thread and crash. The normal shutdown
// empties the maps in ~ComponentRegister, on the GUI thread.

Map<IComponent>& components()
{
    static auto* map = new Map<IComponent>;
    return *map;
}

Map<IOrbLog>& logs()
{
    static auto* map = new Map<IOrbLog>;
    return *map;
}

} // namespace OrbRegistry
