#pragma once

#include "OrbNetConfig.h"
#include "OrbNetRequest.h"
#include "OrbNetworkExport.h"

#include <string>

struct OrbNetDownloadReqPrivate;

// What to download and where: a GET request, the local file (UTF-8 path) and an
// optional byte range. Moved-from objects are empty: setters do nothing and getters
// return neutral values.
class ORBNETWORK_EXPORT OrbNetDownloadReq {
public:
    OrbNetDownloadReq(const OrbNetConfig& config = DefaultNetConfig);
    OrbNetDownloadReq(const std::string& url, const std::string& path, const OrbNetConfig& config);
    OrbNetDownloadReq(const OrbNetDownloadReq& other);
    OrbNetDownloadReq(OrbNetDownloadReq&& other) noexcept;
    virtual ~OrbNetDownloadReq();
    void operator=(const OrbNetDownloadReq& other);
    void operator=(OrbNetDownloadReq&& other) noexcept;

    std::string Url() const;
    OrbNetDownloadReq& SetUrl(const std::string& url);
    std::string Path() const;
    OrbNetDownloadReq& SetPath(const std::string& path);

    // A negative start or length switches the range off (the values are kept);
    // a length of 0 means up to the end of the resource.
    OrbNetDownloadReq& SetRange(long long start, long long length);
    // False, and nothing written, while the range is off.
    bool GetRange(long long& start, long long& length) const;

    // What the finished file must be: its size in bytes (negative: not declared) and its
    // SHA-256 as hex (empty: not declared). With a size, nothing beyond it is ever written
    // (the download fails with NetTooLarge); a finished file that does not match is removed
    // and the download fails with NetVerifyFailed. The hash is taken on the worker thread
    // while the bytes arrive; of a resumed file only the earlier part is read back.
    OrbNetDownloadReq& SetExpectedSize(long long bytes);
    long long ExpectedSize() const;
    OrbNetDownloadReq& SetExpectedSha256(const std::string& hex);
    std::string ExpectedSha256() const;

    // Bounds of the download (negative: none). The file may never grow beyond maxSize bytes,
    // a resumed file counted whole: the download fails with NetTooLarge as soon as a byte
    // more would be written (also when a reply announces more than fits) and the file is
    // removed. The deadline counts milliseconds from the request: once it has passed,
    // whatever the download is doing, it fails with NetDeadline and keeps its partial file.
    OrbNetDownloadReq& SetMaxSize(long long bytes);
    long long MaxSize() const;
    OrbNetDownloadReq& SetDeadline(long long milliseconds);
    long long Deadline() const;

    int Timeout() const;
    OrbNetDownloadReq& SetTimeout(int seconds);
    int RetryCount() const;
    OrbNetDownloadReq& SetRetryCount(int count);

    // The request to send: the stored one plus, with the range on, its Range header.
    OrbNetRequest GetRuquest() const;

    bool IsEmpty() const { return d == nullptr; }

private:
    OrbNetDownloadReqPrivate* d;
};
