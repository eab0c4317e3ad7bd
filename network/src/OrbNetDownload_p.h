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
// Private record of a download handle: owns the file sink and bridges the transfer's
// callbacks to the caller's.

#include "OrbNetDownload.h"
#include "OrbNetDownloadSink_p.h"
#include "OrbNetResponse.h"

#include <mutex>

class IOrbTransferEngine;
class OrbNetResponsePrivate;
class QNetworkReply;

class OrbNetDownloadPrivate {
public:
    OrbNetDownloadPrivate(int id, const OrbNetDownloadReq& req);

    // Opens the file and, when that worked, submits the transfer to the engine (caller's thread).
    static std::shared_ptr<OrbNetDownload> Start(IOrbTransferEngine* engine, int id, const OrbNetDownloadReq& req,
                                                 bool resume);

    void* user = nullptr;
    OrbNetDownloadReq req;  // fixed once the transfer is submitted
    const int id;
    std::shared_ptr<OrbNetResponse> response;
    long long resumeOffset = 0;
    bool opened = false;

    mutable std::mutex lock;  // callbacks and the outcome
    OrbNetDownload::FinishFn finish;
    OrbNetDownload::ProgressFn progress;
    bool done = false;
    int error = 0;

    // Worker thread only, once the transfer is submitted.
    OrbNetDownloadSink sink;
    const QNetworkReply* headOf = nullptr;  // the attempt whose head the sink has

private:
    static void onData(const std::shared_ptr<OrbNetDownload>& h, OrbNetResponsePrivate* p, const QByteArray& chunk);
    static void onProgress(const std::shared_ptr<OrbNetDownload>& h, OrbNetResponsePrivate* p, long long received,
                           long long total);
    static void settle(const std::shared_ptr<OrbNetDownload>& h, int transportError, bool notify);
    // Asks the server whether anything lies beyond the file's end, then settles.
    static void checkEnd(IOrbTransferEngine* engine, const std::shared_ptr<OrbNetDownload>& h, OrbNetRequest check,
                         long long end, const QByteArray& validator);
    void headFrom(OrbNetResponsePrivate* p);
};
