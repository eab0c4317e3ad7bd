#pragma once

#include "OrbNetConfig.h"
#include "OrbNetworkExport.h"

#include <string>

struct OrbNetUploadReqPrivate;

// What to upload: a local file (UTF-8 path) stored under a remote prefix, and the
// transfer's time limit. Moved-from objects are empty: setters and copy assignment
// into them do nothing and getters return neutral values.
class ORBNETWORK_EXPORT OrbNetUploadReq {
public:
    OrbNetUploadReq(const OrbNetConfig& config = DefaultNetConfig);
    OrbNetUploadReq(const std::string& prefix, const std::string& localPath, const OrbNetConfig& config);
    OrbNetUploadReq(const OrbNetUploadReq& other);
    OrbNetUploadReq(OrbNetUploadReq&& other) noexcept;
    virtual ~OrbNetUploadReq();
    void operator=(const OrbNetUploadReq& other);
    void operator=(OrbNetUploadReq&& other) noexcept;

    std::string Prefix() const;
    OrbNetUploadReq& SetPrefix(const std::string& prefix);
    std::string LocalPath() const;
    OrbNetUploadReq& SetLocalPath(const std::string& path);
    // Seconds without progress after which the transfer ends; 0 or less: no limit.
    int Timeout() const;
    OrbNetUploadReq& SetTimeout(int seconds);

    bool IsEmpty() const { return d == nullptr; }

private:
    OrbNetUploadReqPrivate* d;
};
