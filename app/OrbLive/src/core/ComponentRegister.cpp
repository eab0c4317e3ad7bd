#include "ComponentRegister.h"

#include "ComponentRegistry.h"
#include "IOrbLog.h"

#include <cstdio>

namespace {

template <class Base, class Make>
Base* registerInto(OrbRegistry::Map<Base>& map, const std::string& name, const Make& make)
{
    {
        std::lock_guard<std::mutex> guard(map.mutex);
        if (map.entries.count(name))
            return nullptr;
    }
    Base* created = make();
    if (!created)
        return nullptr;
    std::lock_guard<std::mutex> guard(map.mutex);
    map.entries[name].reset(created);
    return created;
}

} // namespace

ComponentRegister::ComponentRegister() = default;

ComponentRegister::~ComponentRegister()
{
    for (IComponent* component : m_components)
        component->Uninit();
    {
        auto& map = OrbRegistry::components();
        std::lock_guard<std::mutex> guard(map.mutex);
        map.entries.clear();
    }
    {
        auto& map = OrbRegistry::logs();
        std::lock_guard<std::mutex> guard(map.mutex);
        map.entries.clear();
    }
    std::fputs("~ComponentRegister called\n", stdout);
    std::fflush(stdout);
    m_components.clear();
}

void ComponentRegister::RegisterLog(const std::string& name, const LogFactory& make)
{
    if (IOrbLog* log = registerInto(OrbRegistry::logs(), name, make))
        m_components.push_back(log);
}

void ComponentRegister::Register(const std::string& name, const ComponentFactory& make)
{
    if (IComponent* component = registerInto(OrbRegistry::components(), name, make))
        m_components.push_back(component);
}

void ComponentRegister::InitAll()
{
    for (IComponent* component : m_components)
        component->Init();
}
