#include "OrbNetConfig.h"

#include "OrbNetOptions_p.h"

namespace {
// Product default for the second lookup; tests and demos replace it with a loopback address.
constexpr const char* kPublicResolver = "119.29.29.29";
constexpr int kLookupTimeoutMs = 3000;
} // namespace

struct OrbNetConfigPrivate {
    OrbNetOptions options;
    std::string systemResolver;
    std::string publicResolver = kPublicResolver;
    int lookupTimeout = kLookupTimeoutMs;
};

const OrbNetOptions* OrbNetConfigOptions(const OrbNetConfig& config)
{
    return config.d ? &config.d->options : nullptr;
}

static OrbNetConfig makeDefaultConfig()
{
    OrbNetConfig c;
    c.SetProxy(ProxyAuto, std::string(), 0).SetUserAgent("OrbLauncher").SetTimeout(8).SetRetryCount(0);
    return c;
}

OrbNetConfig DefaultNetConfig = makeDefaultConfig();

OrbNetConfig::OrbNetConfig() : d(new OrbNetConfigPrivate) {}

OrbNetConfig::OrbNetConfig(const OrbNetConfig& other)
    : d(other.d ? new OrbNetConfigPrivate(*other.d) : nullptr)
{
}

OrbNetConfig::OrbNetConfig(OrbNetConfig&& other) noexcept : d(other.d) { other.d = nullptr; }

OrbNetConfig::~OrbNetConfig() { delete d; }

void OrbNetConfig::operator=(const OrbNetConfig& other)
{
    if (!d || this == &other)
        return;
    if (!other.d) {
        delete d;
        d = nullptr;
        return;
    }
    *d = *other.d;
}

void OrbNetConfig::operator=(OrbNetConfig&& other) noexcept
{
    if (this == &other)
        return;
    delete d;
    d = other.d;
    other.d = nullptr;
}

ProxyMode OrbNetConfig::GetProxy(std::string& host, int& port) const
{
    return d ? d->options.GetProxy(host, port) : ProxyDirect;
}

OrbNetConfig& OrbNetConfig::SetProxy(ProxyMode mode, const std::string& host, int port)
{
    if (d)
        d->options.SetProxy(mode, host, port);
    return *this;
}

int OrbNetConfig::Timeout() const { return d ? d->options.timeout : 0; }

OrbNetConfig& OrbNetConfig::SetTimeout(int seconds)
{
    if (d)
        d->options.timeout = seconds;
    return *this;
}

int OrbNetConfig::RetryCount() const { return d ? d->options.retryCount : 0; }

OrbNetConfig& OrbNetConfig::SetRetryCount(int count)
{
    if (d)
        d->options.SetRetryCount(count);
    return *this;
}

std::string OrbNetConfig::UserAgent() const { return d ? d->options.userAgent : std::string(); }

OrbNetConfig& OrbNetConfig::SetUserAgent(const std::string& userAgent)
{
    if (d)
        d->options.userAgent = userAgent;
    return *this;
}

bool OrbNetConfig::VerifyPeer() const { return d ? d->options.verifyPeer : false; }

OrbNetConfig& OrbNetConfig::SetVerifyPeer(bool verify)
{
    if (d)
        d->options.verifyPeer = verify;
    return *this;
}

std::string OrbNetConfig::SystemResolver() const { return d ? d->systemResolver : std::string(); }

std::string OrbNetConfig::PublicResolver() const { return d ? d->publicResolver : std::string(); }

OrbNetConfig& OrbNetConfig::SetResolvers(const std::string& systemResolver, const std::string& publicResolver)
{
    if (d) {
        d->systemResolver = systemResolver;
        d->publicResolver = publicResolver;
    }
    return *this;
}

int OrbNetConfig::LookupTimeout() const { return d ? d->lookupTimeout : 0; }

OrbNetConfig& OrbNetConfig::SetLookupTimeout(int milliseconds)
{
    if (d)
        d->lookupTimeout = milliseconds > 0 ? milliseconds : kLookupTimeoutMs;
    return *this;
}
