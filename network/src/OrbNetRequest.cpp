#include "OrbNetRequest.h"

#include "OrbNetOptions_p.h"

#include <QUrl>
#include <QUrlQuery>

#include <vector>

struct OrbNetRequestPrivate {
    OrbNetOptions options;
    OrbHttpMethod method = HttpGet;
    std::string scheme, userInfo, host;
    int port = 0;
    std::string path;
    std::map<std::string, std::string> params;
    std::string fragment;
    std::string contentType;
    int bodyKind = 0;  // 0 none, 1 text, 2 bytes
    std::string textBody;
    std::vector<unsigned char> byteBody;
    std::map<std::string, std::string> headers;
    long long maxSize = -1;   // body bytes; -1 none
    long long deadline = -1;  // milliseconds from submission; -1 none

    void fromConfig(const OrbNetConfig& config)
    {
        if (const OrbNetOptions* o = OrbNetConfigOptions(config)) {
            options = *o;
        } else {
            options = OrbNetOptions();
            options.mode = ProxyDirect;  // what an empty config reports
        }
    }
};

static const std::map<std::string, std::string>& emptyMap()
{
    static const std::map<std::string, std::string> empty;
    return empty;
}

OrbNetRequest::OrbNetRequest(const OrbNetConfig& config) : d(new OrbNetRequestPrivate)
{
    d->fromConfig(config);
}

OrbNetRequest::OrbNetRequest(const std::string& url, OrbHttpMethod method, const std::string& body,
                             const std::string& contentType, const OrbNetConfig& config)
    : d(new OrbNetRequestPrivate)
{
    d->fromConfig(config);
    SetUrl(url, false);
    d->method = method;
    d->contentType = contentType;
    d->textBody = body;
    d->bodyKind = 1;
}

OrbNetRequest::OrbNetRequest(const OrbNetRequest& other)
    : d(other.d ? new OrbNetRequestPrivate(*other.d) : nullptr)
{
}

OrbNetRequest::OrbNetRequest(OrbNetRequest&& other) noexcept : d(other.d) { other.d = nullptr; }

OrbNetRequest::~OrbNetRequest() { delete d; }

void OrbNetRequest::operator=(const OrbNetRequest& other)
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

void OrbNetRequest::operator=(OrbNetRequest&& other) noexcept
{
    if (this == &other)
        return;
    delete d;
    d = other.d;
    other.d = nullptr;
}

OrbNetRequest& OrbNetRequest::SetUrl(const std::string& url, bool keepParams)
{
    if (!d)
        return *this;
    std::map<std::string, std::string> kept;
    if (keepParams)
        kept.swap(d->params);
    const QUrl u(QString::fromStdString(url), QUrl::TolerantMode);
    d->scheme = u.scheme().toStdString();
    d->userInfo = u.userInfo(QUrl::PrettyDecoded).toStdString();
    d->host = u.host(QUrl::FullyDecoded).toStdString();
    d->port = u.port(0);
    d->path = u.path(QUrl::FullyDecoded).toStdString();
    d->fragment = u.fragment(QUrl::PrettyDecoded).toStdString();
    d->params.clear();
    if (u.hasQuery()) {
        const QUrlQuery q(u);
        for (const auto& item : q.queryItems(QUrl::PrettyDecoded))
            d->params[item.first.toStdString()] = item.second.toStdString();
    }
    for (auto& p : kept)
        d->params.insert(p);  // keeps the new URL's value for keys it names
    return *this;
}

std::string OrbNetRequest::Url() const
{
    if (!d)
        return std::string();
    std::string out;
    if (!d->scheme.empty())
        out += d->scheme + "://";
    if (!d->userInfo.empty())
        out += d->userInfo + "@";
    out += d->host;
    if (d->port != 0)
        out += ":" + std::to_string(d->port);
    out += d->path;
    bool first = true;
    for (const auto& p : d->params) {
        out += first ? "?" : "&";
        first = false;
        out += p.first + "=" + p.second;
    }
    if (!d->fragment.empty())
        out += "#" + d->fragment;
    return out;
}

std::string OrbNetRequest::Scheme() const { return d ? d->scheme : std::string(); }
std::string OrbNetRequest::UserInfo() const { return d ? d->userInfo : std::string(); }
std::string OrbNetRequest::Host() const { return d ? d->host : std::string(); }
int OrbNetRequest::Port() const { return d ? d->port : 0; }
std::string OrbNetRequest::Path() const { return d ? d->path : std::string(); }
std::string OrbNetRequest::Fragment() const { return d ? d->fragment : std::string(); }

OrbNetRequest& OrbNetRequest::AddUrlParam(const std::string& key, const std::string& value)
{
    if (d)
        d->params[key] = value;
    return *this;
}

OrbNetRequest& OrbNetRequest::DeleteUrlParam(const std::string& key)
{
    if (d)
        d->params.erase(key);
    return *this;
}

OrbNetRequest& OrbNetRequest::ClearUrlParam()
{
    if (d)
        d->params.clear();
    return *this;
}

bool OrbNetRequest::GetUrlParam(const std::string& key, std::string& value) const
{
    if (!d)
        return false;
    auto it = d->params.find(key);
    if (it == d->params.end())
        return false;
    value = it->second;
    return true;
}

const std::map<std::string, std::string>& OrbNetRequest::GetUrlParams() const
{
    return d ? d->params : emptyMap();
}

OrbNetRequest& OrbNetRequest::AddHeader(const std::string& name, const std::string& value)
{
    if (d)
        d->headers[name] = value;
    return *this;
}

OrbNetRequest& OrbNetRequest::DeleteHeader(const std::string& name)
{
    if (d)
        d->headers.erase(name);
    return *this;
}

OrbNetRequest& OrbNetRequest::ClearHeader()
{
    if (d)
        d->headers.clear();
    return *this;
}

bool OrbNetRequest::GetHeader(const std::string& name, std::string& value) const
{
    if (!d)
        return false;
    auto it = d->headers.find(name);
    if (it == d->headers.end())
        return false;
    value = it->second;
    return true;
}

const std::map<std::string, std::string>& OrbNetRequest::GetHeaders() const
{
    return d ? d->headers : emptyMap();
}

OrbNetRequest& OrbNetRequest::SetBody(const std::string& body, const std::string& contentType)
{
    if (!d)
        return *this;
    d->contentType = contentType;
    std::vector<unsigned char>().swap(d->byteBody);
    d->textBody = body;
    d->bodyKind = 1;
    return *this;
}

OrbNetRequest& OrbNetRequest::SetBody(const unsigned char* data, int len, const std::string& contentType)
{
    if (!d || !data || len <= 0)
        return *this;
    d->contentType = contentType;
    d->byteBody.assign(data, data + len);
    std::string().swap(d->textBody);  // never read again once the body is bytes
    d->bodyKind = 2;
    return *this;
}

bool OrbNetRequest::GetBody(std::string& body) const
{
    if (!d || d->bodyKind != 1)
        return false;
    body = d->textBody;
    return true;
}

const unsigned char* OrbNetRequest::GetBodyData() const
{
    if (!d)
        return nullptr;
    if (d->bodyKind == 1)
        return reinterpret_cast<const unsigned char*>(d->textBody.data());
    if (d->bodyKind == 2)
        return d->byteBody.data();
    return nullptr;
}

int OrbNetRequest::GetBodyLen() const
{
    if (!d)
        return 0;
    if (d->bodyKind == 1)
        return int(d->textBody.size());
    if (d->bodyKind == 2)
        return int(d->byteBody.size());
    return 0;
}

std::string OrbNetRequest::ContentType() const { return d ? d->contentType : std::string(); }

OrbHttpMethod OrbNetRequest::Method() const { return d ? d->method : HttpGet; }

OrbNetRequest& OrbNetRequest::SetMethod(OrbHttpMethod method)
{
    if (d)
        d->method = method;
    return *this;
}

ProxyMode OrbNetRequest::GetProxy(std::string& host, int& port) const
{
    return d ? d->options.GetProxy(host, port) : ProxyDirect;
}

OrbNetRequest& OrbNetRequest::SetProxy(ProxyMode mode, const std::string& host, int port)
{
    if (d)
        d->options.SetProxy(mode, host, port);
    return *this;
}

int OrbNetRequest::Timeout() const { return d ? d->options.timeout : 0; }

OrbNetRequest& OrbNetRequest::SetTimeout(int seconds)
{
    if (d)
        d->options.timeout = seconds;
    return *this;
}

int OrbNetRequest::RetryCount() const { return d ? d->options.retryCount : 0; }

OrbNetRequest& OrbNetRequest::SetRetryCount(int count)
{
    if (d)
        d->options.SetRetryCount(count);
    return *this;
}

std::string OrbNetRequest::UserAgent() const { return d ? d->options.userAgent : std::string(); }

OrbNetRequest& OrbNetRequest::SetUserAgent(const std::string& userAgent)
{
    if (d)
        d->options.userAgent = userAgent;
    return *this;
}

bool OrbNetRequest::VerifyPeer() const { return d ? d->options.verifyPeer : false; }

OrbNetRequest& OrbNetRequest::SetVerifyPeer(bool verify)
{
    if (d)
        d->options.verifyPeer = verify;
    return *this;
}

long long OrbNetRequest::MaxSize() const { return d ? d->maxSize : -1; }

OrbNetRequest& OrbNetRequest::SetMaxSize(long long bytes)
{
    if (d)
        d->maxSize = bytes < 0 ? -1 : bytes;
    return *this;
}

long long OrbNetRequest::Deadline() const { return d ? d->deadline : -1; }

OrbNetRequest& OrbNetRequest::SetDeadline(long long milliseconds)
{
    if (d)
        d->deadline = milliseconds < 0 ? -1 : milliseconds;
    return *this;
}
