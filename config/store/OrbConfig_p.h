#pragma once

//
//  W A R N I N G
//  -------------
//
// This file is not part of the OrbConfig API. It exists for the implementation
// of OrbConfig only and may change from version to version without notice, or
// even be removed.
//

#include "OrbConfig.h"

#include <mutex>
#include <string>

struct config_data;
typedef struct config_data config_t;

class OrbConfigPrivate {
public:
    config_t*& storeFor(OrbConfig::OrbConfigType type);
    bool loadInto(OrbConfig::OrbConfigType type, const std::string& path);
    void save(config_t* store);

    config_t* appConfig = nullptr;
    config_t* userConfig = nullptr;
    config_t* gameSettingConfig = nullptr;
    std::string configDir;
    std::string appFileName;
    std::string userFileName;
    std::mutex lock;
    // Per store (application, user, game settings): the file and the temporary
    // name its saves are written to.
    std::string paths[3];
    std::string temps[3];
};
