#pragma once

#include "OrbNetDefine.h"
#include "OrbNetworkExport.h"

#include <string>

struct OrbNetConfigPrivate;
struct OrbNetOptions;

// Defaults for the requests built from it. Moved-from objects are empty: setters do
// nothing, getters return neutral values and GetProxy reports ProxyDirect.
class ORBNETWORK_EXPORT OrbNetConfig {
public:
    OrbNetConfig();
    OrbNetConfig(const OrbNetConfig& other);
    OrbNetConfig(OrbNetConfig&& other) noexcept;
    ~OrbNetConfig();
    void operator=(const OrbNetConfig& other);
    void operator=(OrbNetConfig&& other) noexcept;

    ProxyMode GetProxy(std::string& host, int& port) const;
    OrbNetConfig& SetProxy(ProxyMode mode, const std::string& host, int port);
    int Timeout() const;
    OrbNetConfig& SetTimeout(int seconds);
    int RetryCount() const;
    OrbNetConfig& SetRetryCount(int count);
    std::string UserAgent() const;
    OrbNetConfig& SetUserAgent(const std::string& userAgent);

    // TLS peer verification, on by default. Turning it off lets anyone on the path
    // replace what is fetched; only for a publisher that cannot present a valid certificate.
    bool VerifyPeer() const;
    OrbNetConfig& SetVerifyPeer(bool verify);

    // DNS servers used by the engine that is initialised with this config. An empty
    // system resolver means the operating system's own; the public one is a fixed address.
    std::string SystemResolver() const;
    std::string PublicResolver() const;
    OrbNetConfig& SetResolvers(const std::string& systemResolver, const std::string& publicResolver);
    // Upper bound of one DNS lookup in milliseconds; a slower lookup counts as failed.
    int LookupTimeout() const;
    OrbNetConfig& SetLookupTimeout(int milliseconds);

    bool IsEmpty() const { return d == nullptr; }

private:
    friend const OrbNetOptions* OrbNetConfigOptions(const OrbNetConfig& config);
    OrbNetConfigPrivate* d;
};

// Library-wide defaults: ProxyAuto, user agent "OrbLauncher", 8 s timeout, no retries.
ORBNETWORK_EXPORT extern OrbNetConfig DefaultNetConfig;
