#pragma once

#include "IOrbCosGetConfig.h"
#include "OrbDnsResolver.h"
#include "OrbNetDownload.h"
#include "OrbNetDownloadReq.h"
#include "OrbNetProbe.h"
#include "OrbNetConfig.h"
#include "OrbNetRequest.h"
#include "OrbNetResponse.h"
#include "OrbNetUpload.h"
#include "OrbNetUploadReq.h"
#include "OrbNetworkExport.h"

#include <memory>
#include <string>

class OrbNetworkPrivate;

// Entry point of the network library. Owns the worker thread "OrbNetwork thread" on
// which every transfer and every callback runs. All methods may be called from any
// thread except that Init and the destructor must not run on the worker thread.
class ORBNETWORK_EXPORT OrbNetwork {
public:
    OrbNetwork();
    virtual ~OrbNetwork();
    OrbNetwork(const OrbNetwork&) = delete;
    OrbNetwork& operator=(const OrbNetwork&) = delete;

    // Once, before any request. A request made before Init initialises with DefaultNetConfig.
    void Init(const OrbNetConfig& config);
    // Replaces the DNS seam; only before Init.
    void SetDnsResolver(std::shared_ptr<IOrbDnsResolver> resolver);

    std::shared_ptr<OrbNetResponse> Do(const OrbNetRequest& request);
    std::shared_ptr<OrbNetResponse> Get(const std::string& url);
    std::shared_ptr<OrbNetResponse> Post(const std::string& url, const std::string& body,
                                         const std::string& contentType);
    std::shared_ptr<OrbNetResponse> Post(const std::string& url, const unsigned char* data, int len,
                                         const std::string& contentType);

    // Streams url into the file at path. The request is built from DefaultNetConfig. With
    // resume an existing file is continued from its size, otherwise it is rewritten.
    std::shared_ptr<OrbNetDownload> Download(const std::string& url, const std::string& path, bool resume);
    std::shared_ptr<OrbNetDownload> Download(const OrbNetDownloadReq& req, bool resume);

    // Object-storage credentials for uploads: stores the provider (replacing an earlier
    // one) and fetches credentials from it at once. Must not be null.
    void SetCosConfig(std::shared_ptr<IOrbCosGetConfig> config);
    // Uploads the file under prefix; the request is built from DefaultNetConfig.
    std::shared_ptr<OrbNetUpload> Upload(const std::string& prefix, const std::string& localPath);
    // Accepts the upload: it waits for credentials, then transfers.
    std::shared_ptr<OrbNetUpload> Upload(const OrbNetUploadReq& req);

    // Asks what the library knows about reaching url's host: answered after a fresh probe
    // pass of the host's routes (OrbNetProbe). A URL without a scheme is probed as https;
    // without a port on 443 for https and 80 otherwise. Nothing is sent to the URL itself
    // beyond the pass's probe requests.
    std::shared_ptr<OrbNetProbe> Probe(const std::string& url);

private:
    friend class OrbNetworkPrivate;
    void ensureInit();
    OrbNetworkPrivate* d;
};
