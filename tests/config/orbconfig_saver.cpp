// Test helper: saves the application file of the given folder in a loop until
// it is killed. Each save carries a generation number twice and a large filler,
// so a torn file is easy to tell from a complete one.
#include <OrbConfig.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    OrbConfig store;
    store.SetSDKConfigFile("OrbLauncher.ini");
    if (!store.LoadAppConfig(argv[1]))
        return 1;
    const std::string filler(64 * 1024, 'x');
    int start = store.GetIntValue(OrbConfig::AppConfig, "Save", "Check");
    if (start < 0)
        start = 0;
    for (int generation = start + 1;; ++generation) {
        const std::string value = std::to_string(generation) + ":" + filler;
        store.SetString(OrbConfig::AppConfig, "Save", "Value", value.c_str());
        store.SetInt(OrbConfig::AppConfig, "Save", "Check", generation);
        if (generation == start + 1) {
            std::puts("saved");
            std::fflush(stdout);
        }
    }
}
