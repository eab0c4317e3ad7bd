#pragma once

#include <string>

// Base of every long-lived service of the launcher. Components never hold
// pointers to each other; they look each other up by registry name.
class IComponent {
public:
    virtual void Init() = 0;
    virtual void Uninit() = 0;
    virtual std::string GetName() = 0;
    virtual ~IComponent() = default;
};
