#pragma once
//
//  W A R N I N G
//  -------------
//
// This file is not part of the OrbNetwork API. It exists purely as an
// implementation detail. This header file may change from version to
// version without notice, or even be removed.
//
// We mean it.
//
// The options a configuration hands to every request built from it and that a request
// may then change for itself: routing, limits, identity and TLS verification.

#include "OrbNetDefine.h"

#include <string>

class OrbNetConfig;

struct OrbNetOptions {
    ProxyMode mode = ProxyAuto;
    std::string proxyHost;  // SOCKS5 endpoint, meaningful for ProxySocks5 only
    int proxyPort = 0;
    std::string userAgent;  // empty: no User-Agent header
    int timeout = 0;        // seconds; 0 or less: no transfer timeout
    int retryCount = 0;     // attempts in total; never negative
    bool verifyPeer = true;

    // Fills host and port only for ProxySocks5.
    ProxyMode GetProxy(std::string& host, int& port) const
    {
        if (mode == ProxySocks5) {
            host = proxyHost;
            port = proxyPort;
        }
        return mode;
    }
    void SetProxy(ProxyMode m, const std::string& host, int port)
    {
        mode = m;
        proxyHost = host;
        proxyPort = port;
    }
    void SetRetryCount(int count) { retryCount = count > 0 ? count : 0; }
};

// The options of a configuration; null for an empty (moved-from) one.
const OrbNetOptions* OrbNetConfigOptions(const OrbNetConfig& config);
