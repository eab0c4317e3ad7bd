// Test helper for the store's save safety, working on the application file
// "OrbLauncher.ini" of the given folder.
//
//   orbconfig_saver FOLDER [ID [COUNT]]   saves generation after generation
//   orbconfig_saver --load FOLDER         loads the file over and over
//
// A saver starts after the generation on disk, writes "ID:generation:filler"
// (the filler is large, so a torn file is easy to tell) and then the generation
// alone as "Check", and prints "saved <generation>" once both are on disk. It
// runs until killed, or for COUNT generations. A loader only ever loads.
#include <OrbConfig.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    if (std::strcmp(argv[1], "--load") == 0) {
        if (argc < 3)
            return 2;
        for (bool first = true;; first = false) {
            OrbConfig store;
            store.SetSDKConfigFile("OrbLauncher.ini");
            if (!store.LoadAppConfig(argv[2]))
                return 1;
            if (first) {
                std::puts("loading");
                std::fflush(stdout);
            }
        }
    }
    const std::string id = argc > 2 ? argv[2] : "a";
    const long count = argc > 3 ? std::atol(argv[3]) : 0;
    OrbConfig store;
    store.SetSDKConfigFile("OrbLauncher.ini");
    if (!store.LoadAppConfig(argv[1]))
        return 1;
    const std::string filler(64 * 1024, 'x');
    int start = store.GetIntValue(OrbConfig::AppConfig, "Save", "Check");
    if (start < 0)
        start = 0;
    for (int generation = start + 1; count == 0 || generation <= start + count; ++generation) {
        const std::string value = id + ":" + std::to_string(generation) + ":" + filler;
        store.SetString(OrbConfig::AppConfig, "Save", "Value", value.c_str());
        store.SetInt(OrbConfig::AppConfig, "Save", "Check", generation);
        std::printf("saved %d\n", generation);
        std::fflush(stdout);
    }
    return 0;
}
