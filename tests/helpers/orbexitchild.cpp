// Registers one component, then ends the process with exit(3) from another
// thread while the component is live, as a library may do (Qt WebEngine calls
// exit() when Chromium cannot start). The component's destructor prints
// "destroyed": it must not run from the exit handlers, on the wrong thread,
// with the program's objects still in use.
#include "core/ComponentRegister.h"
#include "core/IComponent.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

class LiveComponent : public IComponent {
public:
    ~LiveComponent() override
    {
        std::puts("destroyed");
        std::fflush(stdout);
    }
    void Init() override {}
    void Uninit() override {}
    std::string GetName() override { return "Live"; }
};

} // namespace

int main()
{
    ComponentRegister registry;
    registry.Register("Live", [] { return static_cast<IComponent*>(new LiveComponent); });
    registry.InitAll();
    std::puts("running");
    std::fflush(stdout);
    std::thread([] { std::exit(3); }).detach();
    std::this_thread::sleep_for(std::chrono::seconds(30));
    return 0;
}
