#pragma once

#include "OrbConfigExport.h"

// Host and network information, string encryption and the game window tracker.
class ORBCONFIG_EXPORT OrbUtils {
public:
    OrbUtils() = delete;
};
