#pragma once

#include "OrbNetDefine.h"
#include "OrbNetworkExport.h"

#include <string>

// What the library knows about one route to a host: address, how it was learnt,
// how it is reached and how it answered its last probe.
struct ORBNETWORK_EXPORT OrbIPStatus {
    std::string ip;
    int source = 0;            // 0 system resolver or fallback, 1 public resolver
    ProxyMode mode = ProxyAuto; // 1 direct, 2 through the system proxy
    bool reachable = false;
    bool selected = false;
    int latency = 0;           // ms of the last probe; 2000 when it failed

    OrbIPStatus();
    OrbIPStatus(const OrbIPStatus&);
    OrbIPStatus(OrbIPStatus&&) noexcept;
    OrbIPStatus& operator=(const OrbIPStatus&);
    OrbIPStatus& operator=(OrbIPStatus&&) noexcept;
    ~OrbIPStatus();
};
