#include "OrbNetwork.h"

OrbNetwork::OrbNetwork() = default;
OrbNetwork::~OrbNetwork() = default;
