#include "ComponentRegistry.h"

#include "IOrbLog.h"

namespace OrbRegistry {

Map<IComponent>& components()
{
    static Map<IComponent> map;
    return map;
}

Map<IOrbLog>& logs()
{
    static Map<IOrbLog> map;
    return map;
}

} // namespace OrbRegistry
