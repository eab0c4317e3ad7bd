#pragma once
//
//  W A R N I N G
//  -------------
//
// This file is not part of the OrbNetwork API. It exists purely as an
// implementation detail. This header file may change from version to
// version without notice, or even be removed.
//
// We mean it.
//
// Private record of an upload handle.

#include "OrbNetUpload.h"

#include <atomic>
#include <mutex>

class OrbNetUploadPrivate {
public:
    OrbNetUploadPrivate(int id, const OrbNetUploadReq& req);

    static OrbNetUploadPrivate* get(OrbNetUpload* u) { return u->d; }

    // Ends the upload once: error, message, end time, finish callback, then the flag.
    // False when it had ended already.
    static bool Finish(const std::shared_ptr<OrbNetUpload>& h, int error, const std::string& message);
    void CallProgress(const std::shared_ptr<OrbNetUpload>& h, long long sent, long long total);
    void SetRemotePath(const std::string& path);

    void* user = nullptr;
    const OrbNetUploadReq req;
    const int id;

    mutable std::mutex lock;  // everything below
    std::string remotePath;
    bool ended = false;       // the finishing steps have begun
    std::atomic<bool> finished{false};
    int error = 0;
    std::string errorMsg;
    OrbNetUpload::FinishFn finish;
    OrbNetUpload::ProgressFn progress;
    const long long start;
    long long end = 0;
};
