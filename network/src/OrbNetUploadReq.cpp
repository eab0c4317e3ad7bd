#include "OrbNetUploadReq.h"

struct OrbNetUploadReqPrivate {
    std::string prefix;
    std::string localPath;
    int timeout = 0;
};

OrbNetUploadReq::OrbNetUploadReq(const OrbNetConfig& config) : d(new OrbNetUploadReqPrivate)
{
    d->timeout = config.Timeout();
}

OrbNetUploadReq::OrbNetUploadReq(const std::string& prefix, const std::string& localPath,
                                 const OrbNetConfig& config)
    : d(new OrbNetUploadReqPrivate{prefix, localPath, config.Timeout()})
{
}

OrbNetUploadReq::OrbNetUploadReq(const OrbNetUploadReq& other)
    : d(other.d ? new OrbNetUploadReqPrivate(*other.d) : nullptr)
{
}

OrbNetUploadReq::OrbNetUploadReq(OrbNetUploadReq&& other) noexcept : d(other.d) { other.d = nullptr; }

OrbNetUploadReq::~OrbNetUploadReq() { delete d; }

void OrbNetUploadReq::operator=(const OrbNetUploadReq& other)
{
    if (this == &other || !d)
        return;
    *d = other.d ? *other.d : OrbNetUploadReqPrivate();
}

void OrbNetUploadReq::operator=(OrbNetUploadReq&& other) noexcept
{
    if (this == &other)
        return;
    delete d;
    d = other.d;
    other.d = nullptr;
}

std::string OrbNetUploadReq::Prefix() const { return d ? d->prefix : std::string(); }

OrbNetUploadReq& OrbNetUploadReq::SetPrefix(const std::string& prefix)
{
    if (d)
        d->prefix = prefix;
    return *this;
}

std::string OrbNetUploadReq::LocalPath() const { return d ? d->localPath : std::string(); }

OrbNetUploadReq& OrbNetUploadReq::SetLocalPath(const std::string& path)
{
    if (d)
        d->localPath = path;
    return *this;
}

int OrbNetUploadReq::Timeout() const { return d ? d->timeout : 0; }

OrbNetUploadReq& OrbNetUploadReq::SetTimeout(int seconds)
{
    if (d)
        d->timeout = seconds;
    return *this;
}
