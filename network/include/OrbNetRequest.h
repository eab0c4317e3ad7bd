#pragma once

#include "OrbNetConfig.h"
#include "OrbNetDefine.h"
#include "OrbNetworkExport.h"

#include <map>
#include <string>

struct OrbNetRequestPrivate;

// One HTTP request: URL kept in parts, method, headers, body, routing and limits.
// Moved-from objects are empty and stay empty.
class ORBNETWORK_EXPORT OrbNetRequest {
public:
    OrbNetRequest(const OrbNetConfig& config = DefaultNetConfig);
    OrbNetRequest(const std::string& url, OrbHttpMethod method, const std::string& body,
                  const std::string& contentType, const OrbNetConfig& config);
    OrbNetRequest(const OrbNetRequest& other);
    OrbNetRequest(OrbNetRequest&& other) noexcept;
    virtual ~OrbNetRequest();
    void operator=(const OrbNetRequest& other);
    void operator=(OrbNetRequest&& other) noexcept;

    OrbNetRequest& SetUrl(const std::string& url, bool keepParams);
    std::string Url() const;

    // URL parts as parsed (host and path fully decoded).
    std::string Scheme() const;
    std::string UserInfo() const;
    std::string Host() const;
    int Port() const;
    std::string Path() const;
    std::string Fragment() const;

    OrbNetRequest& AddUrlParam(const std::string& key, const std::string& value);
    OrbNetRequest& DeleteUrlParam(const std::string& key);
    OrbNetRequest& ClearUrlParam();
    bool GetUrlParam(const std::string& key, std::string& value) const;
    const std::map<std::string, std::string>& GetUrlParams() const;

    OrbNetRequest& AddHeader(const std::string& name, const std::string& value);
    OrbNetRequest& DeleteHeader(const std::string& name);
    OrbNetRequest& ClearHeader();
    bool GetHeader(const std::string& name, std::string& value) const;
    const std::map<std::string, std::string>& GetHeaders() const;

    OrbNetRequest& SetBody(const std::string& body, const std::string& contentType);
    OrbNetRequest& SetBody(const unsigned char* data, int len, const std::string& contentType);
    bool GetBody(std::string& body) const;
    const unsigned char* GetBodyData() const;
    int GetBodyLen() const;
    std::string ContentType() const;

    OrbHttpMethod Method() const;
    OrbNetRequest& SetMethod(OrbHttpMethod method);

    ProxyMode GetProxy(std::string& host, int& port) const;
    OrbNetRequest& SetProxy(ProxyMode mode, const std::string& host, int port);
    int Timeout() const;
    OrbNetRequest& SetTimeout(int seconds);
    int RetryCount() const;
    OrbNetRequest& SetRetryCount(int count);
    std::string UserAgent() const;
    OrbNetRequest& SetUserAgent(const std::string& userAgent);
    bool VerifyPeer() const;
    OrbNetRequest& SetVerifyPeer(bool verify);

    // Bounds of the whole exchange, -1 (or any negative value) for none. A body that would
    // grow beyond maxSize bytes ends the request with NetTooLarge; a request still running
    // `milliseconds` after it was submitted (waiting for its address, connecting, retrying or
    // reading) ends with NetDeadline. Unlike the transfer timeout, a trickle of data does not
    // postpone the deadline.
    long long MaxSize() const;
    OrbNetRequest& SetMaxSize(long long bytes);
    long long Deadline() const;
    OrbNetRequest& SetDeadline(long long milliseconds);

    bool IsEmpty() const { return d == nullptr; }

private:
    OrbNetRequestPrivate* d;
};
