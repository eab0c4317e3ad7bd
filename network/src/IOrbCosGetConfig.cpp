#include "IOrbCosGetConfig.h"

#include <utility>

IOrbCosGetConfig::IOrbCosGetConfig() = default;
IOrbCosGetConfig::~IOrbCosGetConfig() = default;
IOrbCosGetConfig::IOrbCosGetConfig(const IOrbCosGetConfig& other) = default;

IOrbCosGetConfig::IOrbCosGetConfig(IOrbCosGetConfig&& other) noexcept
{
    *this = std::move(other);
}

void IOrbCosGetConfig::operator=(const IOrbCosGetConfig& other)
{
    if (this == &other)
        return;
    m_startTime = other.m_startTime;
    m_expiredTime = other.m_expiredTime;
    m_region = other.m_region;
    m_appId = other.m_appId;
    m_bucket = other.m_bucket;
    m_groupImgPath = other.m_groupImgPath;
    m_accessKey = other.m_accessKey;
    m_secretKey = other.m_secretKey;
    m_token = other.m_token;
    m_endpoint = other.m_endpoint;
}

namespace {

// A moved-from record holds no secret.
std::string take(std::string& s)
{
    std::string out = std::move(s);
    s.clear();
    return out;
}

} // namespace

void IOrbCosGetConfig::operator=(IOrbCosGetConfig&& other) noexcept
{
    if (this == &other)
        return;
    m_startTime = other.m_startTime;
    m_expiredTime = other.m_expiredTime;
    m_region = take(other.m_region);
    m_appId = other.m_appId;
    m_bucket = take(other.m_bucket);
    m_groupImgPath = take(other.m_groupImgPath);
    m_accessKey = take(other.m_accessKey);
    m_secretKey = take(other.m_secretKey);
    m_token = take(other.m_token);
    m_endpoint = take(other.m_endpoint);
}

int IOrbCosGetConfig::Expire() const { return int(m_expiredTime - m_startTime); }
int32_t IOrbCosGetConfig::StartTime() const { return m_startTime; }
int32_t IOrbCosGetConfig::ExpiredTime() const { return m_expiredTime; }
std::string IOrbCosGetConfig::Region() const { return m_region; }
uint64_t IOrbCosGetConfig::AppId() const { return m_appId; }
std::string IOrbCosGetConfig::Bucket() const { return m_bucket; }
std::string IOrbCosGetConfig::GroupImgPath() const { return m_groupImgPath; }
std::string IOrbCosGetConfig::AccessKey() const { return m_accessKey; }
std::string IOrbCosGetConfig::SecretKey() const { return m_secretKey; }
std::string IOrbCosGetConfig::Token() const { return m_token; }
std::string IOrbCosGetConfig::Endpoint() const { return m_endpoint; }
