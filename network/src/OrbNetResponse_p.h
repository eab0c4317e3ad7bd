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
// Private record of a response handle, shared by the handle and the engine.

#include "OrbNetConfig.h"
#include "OrbNetResponse.h"

#include <QByteArray>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class QNetworkReply;

// Life of a response handle. The values are stored in the handle's atomic state.
enum OrbResponseState : int {
    OrbResponseCreated = 0,     // submitted, not yet sent
    OrbResponseDispatched = 1,  // a transport reply exists
    OrbResponseFinished = 2,    // completed: results are final
};

// What a handle needs from its engine: closing a request that is running.
class IOrbResponseCloser {
public:
    virtual ~IOrbResponseCloser();
    // Any thread: asks the worker to close the running request id.
    virtual void RequestClose(int id) = 0;
};

class OrbNetResponsePrivate;

// What transfers built on top of plain requests (downloads, credential fetches) need from
// the engine: ids and submission. The engine implements it; they never see the engine.
class IOrbTransferEngine {
public:
    using Prepare = std::function<void(OrbNetResponsePrivate*)>;
    virtual ~IOrbTransferEngine();
    // Any thread.
    virtual int NextId() = 0;
    // The engine's settings, for building requests that go out the way its own do.
    virtual OrbNetConfig RequestConfig() const = 0;
    // Caller's thread. `prepare` runs on the new handle before it can be dispatched.
    virtual std::shared_ptr<OrbNetResponse> Submit(int id, const OrbNetRequest& request,
                                                   const Prepare& prepare = Prepare()) = 0;
};

// Lets handles reach their engine for Close while it lives, and never after.
struct OrbEngineLink {
    std::mutex lock;
    IOrbResponseCloser* engine = nullptr;
};

class OrbNetResponsePrivate {
public:
    using SinkFn = std::function<void(const QByteArray&)>;

    OrbNetResponsePrivate(int id, const OrbNetRequest& request);

    static OrbNetResponsePrivate* get(OrbNetResponse* r) { return r->d; }
    static const OrbNetResponsePrivate* get(const OrbNetResponse* r) { return r->d; }

    // Records code unless the response was already closed (98 sticks) or stopped.
    void SetError(int code);
    // Clears the error of a failed attempt before the next one, unless closed.
    void ResetError();
    // Runs the finish path once: end time, state 2, finish callback, wake Sync.
    void Complete(const std::shared_ptr<OrbNetResponse>& self);
    // Engine gone: drop callbacks uncalled, end as closed, wake Sync.
    void Abandon();
    void CallProgress(const std::shared_ptr<OrbNetResponse>& self, qint64 received, qint64 total);

    struct SyncWait {
        std::mutex lock;
        std::condition_variable cv;
        bool done = false;
    };

    void* user = nullptr;
    const OrbNetRequest request;
    const int id;
    Qt::HANDLE workerThread = nullptr;
    std::shared_ptr<OrbEngineLink> link;
    QNetworkReply* reply = nullptr;  // worker thread only
    std::atomic<OrbResponseState> state{OrbResponseCreated};
    std::atomic<bool> closeRequested{false};
    std::atomic<int> error{0};
    // Set once when the engine itself ends the request (deadline, size cap): the request then
    // runs down like a closed one and completes with this code instead of 98.
    std::atomic<int> stopCode{0};
    std::atomic<int> selectMode{ProxyDirect};

    // Guarded by lock: callbacks, completion, and the fields written at dispatch.
    mutable std::mutex lock;
    bool completed = false;
    OrbNetResponse::FinishFn finish;
    OrbNetResponse::ProgressFn progress;
    std::shared_ptr<SyncWait> waiter;
    std::string ip;

    SinkFn sink;  // set before dispatch, used on the worker thread
    qint64 readBufferSize = 0;  // set before dispatch: bound of unread reply data, 0 none
    qint64 received = 0, total = 0;
    qint64 attemptBytes = 0;  // worker thread: body bytes read from the current attempt's reply
    int statusCode = 0;
    std::string contentType;
    std::map<std::string, std::string> headers;
    QByteArray body;
    qint64 start = 0;
    std::atomic<qint64> end{0};  // read by callers that poll IsFinish()
};
