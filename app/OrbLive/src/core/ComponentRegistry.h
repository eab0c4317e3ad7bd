#pragma once

#include "IComponent.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <type_traits>

class IOrbLog;

// Process-wide storage of the components. Two maps with separate mutexes: the log
// component lives apart so that it can outlive every other component at shutdown.
namespace OrbRegistry {

template <class Base>
struct Map {
    std::mutex mutex;
    std::map<std::string, std::unique_ptr<Base>> entries;
};

Map<IComponent>& components();
Map<IOrbLog>& logs();

// Cached lookup result per looked-up interface type; a component's destructor
// clears its own type's cache.
template <class T>
struct Cache {
    static inline std::atomic<T*> pointer{nullptr};
};

template <class T>
void ResetCache()
{
    Cache<T>::pointer.store(nullptr);
}

template <class T>
auto& mapFor()
{
    if constexpr (std::is_same_v<T, IOrbLog>)
        return logs();
    else
        return components();
}

} // namespace OrbRegistry

// Looks a component up by registry name. Null when no such component is
// registered (or it is of another class). Safe from any thread.
template <class T>
T* GetComponent(const std::string& name)
{
    if (T* cached = OrbRegistry::Cache<T>::pointer.load())
        return cached;

    auto& map = OrbRegistry::mapFor<T>();
    {
        std::lock_guard<std::mutex> guard(map.mutex);
        if (map.entries.find(name) == map.entries.end())
            return OrbRegistry::Cache<T>::pointer.load();
    }
    std::lock_guard<std::mutex> guard(map.mutex);
    auto it = map.entries.find(name);
    if (it == map.entries.end())
        throw std::runtime_error("Component not found");
    T* found = dynamic_cast<T*>(it->second.get());
    OrbRegistry::Cache<T>::pointer.store(found);
    return found;
}
