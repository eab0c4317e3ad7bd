#pragma once

#include "OrbNetworkExport.h"

#include <cstdint>
#include <string>

// Object-storage credentials and where to get them, supplied by the library's user.
// "Cos" is "cloud object storage": the temporary S3 credentials (access key, secret
// key, session token, bucket, region) an upload is signed with (SigV4, see
// OrbNetS3Signer); the uploader and its notes call the same thing S3 credentials.
// A subclass names the credential service (MakeRequest) and fills the fields from
// its answer (ParseConfig). The library calls both on its worker thread.
class ORBNETWORK_EXPORT IOrbCosGetConfig {
public:
    IOrbCosGetConfig();
    IOrbCosGetConfig(const IOrbCosGetConfig& other);
    IOrbCosGetConfig(IOrbCosGetConfig&& other) noexcept;
    void operator=(const IOrbCosGetConfig& other);
    void operator=(IOrbCosGetConfig&& other) noexcept;

    // URL of the credential service and the JSON body to POST to it.
    virtual void MakeRequest(std::string& url, std::string& body) = 0;
    // Fills the fields from the service's answer; true when it was accepted.
    virtual bool ParseConfig(const std::string& body) = 0;
    virtual ~IOrbCosGetConfig();

    // Lifetime of the credentials in seconds: expiry time - start time.
    int Expire() const;
    int32_t StartTime() const;
    int32_t ExpiredTime() const;
    std::string Region() const;
    uint64_t AppId() const;
    std::string Bucket() const;
    std::string GroupImgPath() const;
    std::string AccessKey() const;
    std::string SecretKey() const;
    std::string Token() const;
    // Base URL of the S3-compatible bucket the objects go to, path-style
    // ("http://host:port/bucket") or virtual-hosted ("https://bucket.host").
    std::string Endpoint() const;

protected:
    int32_t m_startTime = 0;    // seconds since 1970
    int32_t m_expiredTime = 0;  // seconds since 1970; 0: no expiry known
    std::string m_region;
    uint64_t m_appId = 0;
    std::string m_bucket;
    std::string m_groupImgPath;
    std::string m_accessKey;
    std::string m_secretKey;
    std::string m_token;
    std::string m_endpoint;
};
