#pragma once

#include "OrbNetDefine.h"
#include "OrbNetDownloadReq.h"
#include "OrbNetworkExport.h"

#include <functional>
#include <memory>

class OrbNetDownloadPrivate;

// Handle of one download: a GET whose body streams into the request's file.
// Callbacks run on the engine's worker thread; when the finish callback runs (and
// whenever IsFinish() is true) the file is closed and holds everything received.
// The handle keeps running when the caller drops it.
class ORBNETWORK_EXPORT OrbNetDownload {
public:
    using FinishFn = std::function<void(const std::shared_ptr<OrbNetDownload>&)>;
    using ProgressFn = std::function<void(const std::shared_ptr<OrbNetDownload>&, long long offset, long long total)>;

    OrbNetDownload(int id, const OrbNetDownloadReq& req);
    ~OrbNetDownload();
    OrbNetDownload(const OrbNetDownload&) = delete;
    OrbNetDownload& operator=(const OrbNetDownload&) = delete;

    // False when the file could not be opened; on an ended download releases the
    // callbacks uncalled and returns Error() == 0; otherwise stores them and returns true.
    bool Async(FinishFn finish, ProgressFn progress);
    // Ends the transfer with NetClosed (98); the partial file is kept.
    void Close();

    bool IsFinish() const;
    // 0, a transport code, NetClosed, NetFileOpenFailed, or one of the download's own
    // checks (1002 write failed, 1003 reply does not fit the request, 1004 body cut short).
    NetError Error() const;
    int Cost() const;
    OrbNetDownloadReq GetReq() const;
    void* GetUser() const;
    void SetUser(void* user);
    int Id() const;

private:
    friend class OrbNetDownloadPrivate;
    OrbNetDownloadPrivate* d;
};
