#pragma once

#include "OrbNetDefine.h"
#include "OrbNetUploadReq.h"
#include "OrbNetworkExport.h"

#include <functional>
#include <memory>
#include <string>

class OrbNetUploadPrivate;

// Handle of one accepted upload. It ends once: by its transfer (error 0 on success)
// or by a failed credential fetch while it waits (NetCosConfigFailed). Callbacks run
// on the engine's worker thread; the finished flag is set after the finish callback
// has returned.
class ORBNETWORK_EXPORT OrbNetUpload {
public:
    using FinishFn = std::function<void(const std::shared_ptr<OrbNetUpload>&)>;
    using ProgressFn = std::function<void(const std::shared_ptr<OrbNetUpload>&, long long sent, long long total)>;

    OrbNetUpload(int id, const OrbNetUploadReq& req);
    ~OrbNetUpload();
    OrbNetUpload(const OrbNetUpload&) = delete;
    OrbNetUpload& operator=(const OrbNetUpload&) = delete;

    // On an ended upload drops both callbacks uncalled and returns Error() == 0;
    // otherwise stores them (replacing earlier ones) and returns true.
    bool Async(FinishFn finish, ProgressFn progress);

    // Milliseconds from creation to the end (so far, while running).
    int Cost() const;
    // 0, NetCosConfigFailed, NetFileOpenFailed, NetUploadRefused, or a transport code.
    NetError Error() const;
    std::string ErrorMsg() const;
    bool IsFinish() const;
    std::string LocalPath() const;
    // The object key the file is stored under, known once the transfer starts.
    std::string RemotePath() const;
    void* GetUser() const;
    void SetUser(void* user);
    int Id() const;

private:
    friend class OrbNetUploadPrivate;
    OrbNetUploadPrivate* d;
};
