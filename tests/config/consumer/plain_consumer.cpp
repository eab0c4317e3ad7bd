// A program that knows OrbConfig only as a header folder and "-lOrbConfig": it
// uses the store and the libobs util functions the library hands on (logging,
// memory, folder and file helpers, INI files) without naming libobs itself.
//
//   plain_consumer FOLDER   works in FOLDER and prints what it saw
#include <OrbConfig.h>

#include <util/base.h>
#include <util/bmem.h>
#include <util/config-file.h>
#include <util/platform.h>

#include <cstdarg>
#include <cstdio>
#include <string>

static void printLog(int level, const char* format, va_list args, void*)
{
    std::printf("log %d: ", level);
    std::vprintf(format, args);
    std::printf("\n");
}

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    base_set_log_handler(printLog, nullptr);
    blog(LOG_INFO, "consumer %d", 42);

    const std::string folder = std::string(argv[1]) + "/made/by/consumer";
    if (os_mkdirs(folder.c_str()) == MKDIR_ERROR || !os_file_exists(folder.c_str()))
        return 3;

    const std::string path = folder + "/plain.ini";
    config_t* ini = config_create(path.c_str());
    if (!ini)
        return 4;
    config_set_string(ini, "Plain", "Key", "written by libobs");
    config_save(ini);
    config_close(ini);

    char* text = os_quick_read_utf8_file(path.c_str());
    std::printf("file: %s\n", text && std::string(text).find("Key=written by libobs") != std::string::npos
                                  ? "has the key" : "lacks the key");
    bfree(text);

    OrbConfig store;
    std::printf("store: %s\n", store.GetSpecifyConfigValue(path, "Plain", "Key").c_str());
    return 0;
}
