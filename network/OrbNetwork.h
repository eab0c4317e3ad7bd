#pragma once

#include "OrbNetworkExport.h"

// Placeholder facade; the engine lands with the network core.
class ORBNETWORK_EXPORT OrbNetwork {
public:
    OrbNetwork();
    virtual ~OrbNetwork();
};
