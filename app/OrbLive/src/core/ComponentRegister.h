#pragma once

#include "IComponent.h"

#include <functional>
#include <string>
#include <vector>

class IOrbLog;

// Owns the start-up order: components are initialised and released in the order
// they were registered, the log component first; destruction tears everything
// down with the log component last.
class ComponentRegister {
public:
    using ComponentFactory = std::function<IComponent*()>;
    using LogFactory = std::function<IOrbLog*()>;

    ComponentRegister();
    virtual ~ComponentRegister();

    ComponentRegister(const ComponentRegister&) = delete;
    ComponentRegister& operator=(const ComponentRegister&) = delete;

    // Registers the log component unless the name is taken; it is released last.
    void RegisterLog(const std::string& name, const LogFactory& make);
    template <class T>
    void RegisterLog(const std::string& name)
    {
        RegisterLog(name, [] { return static_cast<IOrbLog*>(new T()); });
    }

    // Creates and registers a component unless the name is taken.
    void Register(const std::string& name, const ComponentFactory& make);
    template <class T>
    void Register(const std::string& name)
    {
        Register(name, [] { return static_cast<IComponent*>(new T()); });
    }

    // Calls Init on every component in registration order. An exception from a
    // component's Init propagates to the caller.
    void InitAll();

    const std::vector<IComponent*>& Components() const { return m_components; }

private:
    std::vector<IComponent*> m_components;
};
