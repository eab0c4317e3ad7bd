#include "OrbNetDownloadReq.h"

#include "OrbNetDownloadSink_p.h"

#include <QByteArray>

struct OrbNetDownloadReqPrivate {
    explicit OrbNetDownloadReqPrivate(const OrbNetConfig& config) : request(config) {}
    OrbNetRequest request;
    std::string path;
    bool hasRange = false;
    long long start = 0;
    long long length = 0;
    long long expectedSize = -1;
    std::string expectedSha256;
};

OrbNetDownloadReq::OrbNetDownloadReq(const OrbNetConfig& config) : d(new OrbNetDownloadReqPrivate(config)) {}

OrbNetDownloadReq::OrbNetDownloadReq(const std::string& url, const std::string& path, const OrbNetConfig& config)
    : d(new OrbNetDownloadReqPrivate(config))
{
    d->request.SetMethod(HttpGet).SetUrl(url, false);
    d->path = path;
}

OrbNetDownloadReq::OrbNetDownloadReq(const OrbNetDownloadReq& other)
    : d(other.d ? new OrbNetDownloadReqPrivate(*other.d) : nullptr)
{
}

OrbNetDownloadReq::OrbNetDownloadReq(OrbNetDownloadReq&& other) noexcept : d(other.d) { other.d = nullptr; }

OrbNetDownloadReq::~OrbNetDownloadReq() { delete d; }

void OrbNetDownloadReq::operator=(const OrbNetDownloadReq& other)
{
    if (this == &other)
        return;
    if (!other.d) {
        delete d;
        d = nullptr;
        return;
    }
    if (d)
        *d = *other.d;
    else
        d = new OrbNetDownloadReqPrivate(*other.d);
}

void OrbNetDownloadReq::operator=(OrbNetDownloadReq&& other) noexcept
{
    if (this == &other)
        return;
    delete d;
    d = other.d;
    other.d = nullptr;
}

std::string OrbNetDownloadReq::Url() const { return d ? d->request.Url() : std::string(); }

OrbNetDownloadReq& OrbNetDownloadReq::SetUrl(const std::string& url)
{
    if (d)
        d->request.SetUrl(url, false);
    return *this;
}

OrbNetDownloadReq& OrbNetDownloadReq::SetExpectedSize(long long bytes)
{
    if (d)
        d->expectedSize = bytes < 0 ? -1 : bytes;
    return *this;
}

long long OrbNetDownloadReq::ExpectedSize() const { return d ? d->expectedSize : -1; }

OrbNetDownloadReq& OrbNetDownloadReq::SetExpectedSha256(const std::string& hex)
{
    if (d)
        d->expectedSha256 = QByteArray::fromStdString(hex).trimmed().toLower().toStdString();
    return *this;
}

std::string OrbNetDownloadReq::ExpectedSha256() const { return d ? d->expectedSha256 : std::string(); }

std::string OrbNetDownloadReq::Path() const { return d ? d->path : std::string(); }

OrbNetDownloadReq& OrbNetDownloadReq::SetPath(const std::string& path)
{
    if (d)
        d->path = path;
    return *this;
}

OrbNetDownloadReq& OrbNetDownloadReq::SetRange(long long start, long long length)
{
    if (!d)
        return *this;
    if (start < 0 || length < 0) {
        d->hasRange = false;
        return *this;
    }
    d->hasRange = true;
    d->start = start;
    d->length = length;
    return *this;
}

bool OrbNetDownloadReq::GetRange(long long& start, long long& length) const
{
    if (!d || !d->hasRange)
        return false;
    start = d->start;
    length = d->length;
    return true;
}

OrbNetDownloadReq& OrbNetDownloadReq::SetMaxSize(long long bytes)
{
    if (d)
        d->request.SetMaxSize(bytes);
    return *this;
}

long long OrbNetDownloadReq::MaxSize() const { return d ? d->request.MaxSize() : -1; }

OrbNetDownloadReq& OrbNetDownloadReq::SetDeadline(long long milliseconds)
{
    if (d)
        d->request.SetDeadline(milliseconds);
    return *this;
}

long long OrbNetDownloadReq::Deadline() const { return d ? d->request.Deadline() : -1; }

int OrbNetDownloadReq::Timeout() const { return d ? d->request.Timeout() : 0; }

OrbNetDownloadReq& OrbNetDownloadReq::SetTimeout(int seconds)
{
    if (d)
        d->request.SetTimeout(seconds);
    return *this;
}

int OrbNetDownloadReq::RetryCount() const { return d ? d->request.RetryCount() : 0; }

OrbNetDownloadReq& OrbNetDownloadReq::SetRetryCount(int count)
{
    if (d)
        d->request.SetRetryCount(count);
    return *this;
}

OrbNetRequest OrbNetDownloadReq::GetRuquest() const
{
    if (!d)
        return OrbNetRequest();
    OrbNetRequest r(d->request);
    if (d->hasRange)
        r.AddHeader("Range", OrbNetDownloadSink::RangeValue(d->start, d->length));
    return r;
}
