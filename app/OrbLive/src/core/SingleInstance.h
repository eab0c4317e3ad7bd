#pragma once

// True when another launcher process for the same game already runs. The first
// call takes the game's instance token (and the launcher-wide one) for the rest
// of the process's life.
#include <string>

bool IsAlreadyRunning(const std::string& gameName);
