#include "OrbNetResponse.h"

#include "OrbNetResponse_p.h"

#include <QDateTime>
#include <QEventLoop>

IOrbResponseCloser::~IOrbResponseCloser() = default;
IOrbTransferEngine::~IOrbTransferEngine() = default;

OrbNetResponsePrivate::OrbNetResponsePrivate(int i, const OrbNetRequest& r)
    : request(r), id(i), start(QDateTime::currentMSecsSinceEpoch())
{
}

void OrbNetResponsePrivate::SetError(int code)
{
    if (stopCode.load())
        return;
    int cur = error.load();
    while (cur != NetClosed && !error.compare_exchange_weak(cur, code)) {
    }
}

void OrbNetResponsePrivate::ResetError()
{
    if (stopCode.load())
        return;
    int cur = error.load();
    while (cur != NetClosed && cur != 0 && !error.compare_exchange_weak(cur, 0)) {
    }
}

void OrbNetResponsePrivate::Complete(const std::shared_ptr<OrbNetResponse>& self)
{
    OrbNetResponse::FinishFn fin;
    std::shared_ptr<SyncWait> w;
    {
        std::lock_guard<std::mutex> l(lock);
        if (completed)
            return;
        end = QDateTime::currentMSecsSinceEpoch();
        if (const int stopped = stopCode.load())
            error.store(stopped);
        state.store(OrbResponseFinished);
        completed = true;
        fin = std::move(finish);
        finish = nullptr;
        progress = nullptr;
        w = std::move(waiter);
    }
    sink = nullptr;
    if (fin)
        fin(self);
    if (w) {
        std::lock_guard<std::mutex> l(w->lock);
        w->done = true;
        w->cv.notify_all();
    }
}

void OrbNetResponsePrivate::Abandon()
{
    std::shared_ptr<SyncWait> w;
    OrbNetResponse::FinishFn fin;
    OrbNetResponse::ProgressFn prog;
    {
        std::lock_guard<std::mutex> l(lock);
        if (completed)
            return;
        SetError(NetClosed);
        end = QDateTime::currentMSecsSinceEpoch();
        state.store(OrbResponseFinished);
        completed = true;
        fin.swap(finish);
        prog.swap(progress);
        w = std::move(waiter);
    }
    SinkFn s;
    s.swap(sink);
    reply = nullptr;
    if (w) {
        std::lock_guard<std::mutex> l(w->lock);
        w->done = true;
        w->cv.notify_all();
    }
    // fin, prog and s are destroyed here, uncalled, outside the lock.
}

void OrbNetResponsePrivate::CallProgress(const std::shared_ptr<OrbNetResponse>& self, qint64 rec, qint64 tot)
{
    OrbNetResponse::ProgressFn p;
    {
        std::lock_guard<std::mutex> l(lock);
        received = rec;
        total = tot;
        p = progress;
    }
    if (p)
        p(self, rec, tot);
}

OrbNetResponse::OrbNetResponse(int id, const OrbNetRequest& request) : d(new OrbNetResponsePrivate(id, request)) {}

OrbNetResponse::~OrbNetResponse() { delete d; }

bool OrbNetResponse::Sync(ProgressFn progress)
{
    std::unique_lock<std::mutex> l(d->lock);
    if (d->completed) {
        l.unlock();
        progress = nullptr;
        return d->error.load() == 0;
    }
    d->progress = std::move(progress);
    d->finish = nullptr;
    if (QThread::currentThreadId() != d->workerThread || !d->workerThread) {
        auto w = std::make_shared<OrbNetResponsePrivate::SyncWait>();
        d->waiter = w;
        l.unlock();
        std::unique_lock<std::mutex> wl(w->lock);
        w->cv.wait(wl, [&] { return w->done; });
    } else {
        // On the worker itself (inside another response's callback): keep its events flowing.
        QEventLoop loop;
        d->finish = [&loop](const std::shared_ptr<OrbNetResponse>&) { loop.exit(0); };
        l.unlock();
        loop.exec();
        std::lock_guard<std::mutex> g(d->lock);
        d->finish = nullptr;
        if (!d->completed)
            return false;  // the worker is shutting down
    }
    return d->error.load() == 0;
}

bool OrbNetResponse::Async(FinishFn finish, ProgressFn progress)
{
    std::unique_lock<std::mutex> l(d->lock);
    if (d->completed) {
        l.unlock();
        finish = nullptr;
        progress = nullptr;
        return d->error.load() == 0;
    }
    d->progress = std::move(progress);
    d->finish = std::move(finish);
    return true;
}

void OrbNetResponse::Close()
{
    d->closeRequested.store(true);
    // Not sent yet: the worker sees the request when it comes to send it (or right after)
    // and completes the handle with 98; the handle reads as finished only then, with its
    // results final. Finished: nothing to do.
    if (d->state.load() != OrbResponseDispatched)
        return;
    std::shared_ptr<OrbEngineLink> link = d->link;
    if (!link)
        return;
    std::lock_guard<std::mutex> l(link->lock);
    if (link->engine)
        link->engine->RequestClose(d->id);
}

bool OrbNetResponse::IsStart() const { return d->state.load() != OrbResponseCreated; }
bool OrbNetResponse::IsFinish() const { return d->state.load() == OrbResponseFinished; }
NetError OrbNetResponse::Error() const { return NetError(d->error.load()); }
int OrbNetResponse::StatusCode() const { return d->statusCode; }
std::string OrbNetResponse::ContentType() const { return d->contentType; }
const std::map<std::string, std::string>& OrbNetResponse::GetHeaders() { return d->headers; }
std::string OrbNetResponse::GetBody() const { return d->body.toStdString(); }

const unsigned char* OrbNetResponse::GetBodyData()
{
    return d->body.isEmpty() ? nullptr : reinterpret_cast<const unsigned char*>(d->body.constData());
}

int OrbNetResponse::GetBodyLen() { return int(d->body.size()); }
int OrbNetResponse::Cost() const { return int(d->end.load() - d->start); }

std::string OrbNetResponse::IPv4() const
{
    std::lock_guard<std::mutex> l(d->lock);
    return d->ip;
}

ProxyMode OrbNetResponse::SelectMode() const { return ProxyMode(d->selectMode.load()); }
OrbNetRequest OrbNetResponse::GetRequeset() const { return d->request; }
std::string OrbNetResponse::Url() const { return d->request.Url(); }
void* OrbNetResponse::GetUser() const { return d->user; }
void OrbNetResponse::SetUser(void* user) { d->user = user; }
int OrbNetResponse::Id() const { return d->id; }
