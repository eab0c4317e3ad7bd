#include "OrbUtils.h"
