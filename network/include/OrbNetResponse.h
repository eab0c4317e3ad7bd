#pragma once

#include "OrbNetDefine.h"
#include "OrbNetRequest.h"
#include "OrbNetworkExport.h"

#include <functional>
#include <map>
#include <memory>
#include <string>

class OrbNetResponsePrivate;

// Handle of one submitted request. Callbacks run on the engine's worker thread;
// results are valid once IsFinish() is true and the finish callback or Sync has run.
class ORBNETWORK_EXPORT OrbNetResponse {
public:
    using FinishFn = std::function<void(const std::shared_ptr<OrbNetResponse>&)>;
    using ProgressFn = std::function<void(const std::shared_ptr<OrbNetResponse>&, long long received, long long total)>;

    OrbNetResponse(int id, const OrbNetRequest& request);
    ~OrbNetResponse();
    OrbNetResponse(const OrbNetResponse&) = delete;
    OrbNetResponse& operator=(const OrbNetResponse&) = delete;

    // Blocks until the response has completed; true when it ended without error.
    bool Sync(ProgressFn progress);
    // Registers callbacks; on a completed response releases them uncalled and returns Error() == 0.
    bool Async(FinishFn finish, ProgressFn progress);
    void Close();

    bool IsStart() const;
    bool IsFinish() const;
    NetError Error() const;
    int StatusCode() const;
    std::string ContentType() const;
    const std::map<std::string, std::string>& GetHeaders();
    std::string GetBody() const;
    const unsigned char* GetBodyData();
    int GetBodyLen();
    int Cost() const;
    std::string IPv4() const;
    ProxyMode SelectMode() const;
    OrbNetRequest GetRequeset() const;
    std::string Url() const;
    void* GetUser() const;
    void SetUser(void* user);
    int Id() const;

private:
    friend class OrbNetResponsePrivate;
    OrbNetResponsePrivate* d;
};
