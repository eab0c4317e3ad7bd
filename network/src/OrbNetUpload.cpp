#include "OrbNetUpload.h"

#include "OrbNetUpload_p.h"

#include <QDateTime>

OrbNetUploadPrivate::OrbNetUploadPrivate(int i, const OrbNetUploadReq& r)
    : req(r), id(i), start(QDateTime::currentMSecsSinceEpoch())
{
}

bool OrbNetUploadPrivate::Finish(const std::shared_ptr<OrbNetUpload>& h, int err, const std::string& message)
{
    OrbNetUploadPrivate* d = h->d;
    OrbNetUpload::FinishFn fin;
    OrbNetUpload::ProgressFn prog;
    {
        std::lock_guard<std::mutex> l(d->lock);
        if (d->ended)
            return false;
        d->ended = true;
        d->error = err;
        d->errorMsg = message;
        d->end = QDateTime::currentMSecsSinceEpoch();
        fin.swap(d->finish);
        prog.swap(d->progress);
    }
    if (fin)
        fin(h);
    // Set only now: inside the callback the upload reads as not yet finished.
    d->finished.store(true);
    return true;
}

void OrbNetUploadPrivate::CallProgress(const std::shared_ptr<OrbNetUpload>& h, long long sent, long long total)
{
    OrbNetUpload::ProgressFn fn;
    {
        std::lock_guard<std::mutex> l(lock);
        if (ended)
            return;
        fn = progress;
    }
    if (fn)
        fn(h, sent, total);
}

void OrbNetUploadPrivate::SetRemotePath(const std::string& path)
{
    std::lock_guard<std::mutex> l(lock);
    remotePath = path;
}

OrbNetUpload::OrbNetUpload(int id, const OrbNetUploadReq& req) : d(new OrbNetUploadPrivate(id, req)) {}

OrbNetUpload::~OrbNetUpload() { delete d; }

bool OrbNetUpload::Async(FinishFn finish, ProgressFn progress)
{
    {
        std::lock_guard<std::mutex> l(d->lock);
        if (!d->ended) {
            d->finish = std::move(finish);
            d->progress = std::move(progress);
            return true;
        }
    }
    // Ended: the callbacks are released here, uncalled, outside the lock.
    return Error() == NetNoError;
}

int OrbNetUpload::Cost() const
{
    std::lock_guard<std::mutex> l(d->lock);
    const long long until = d->ended ? d->end : QDateTime::currentMSecsSinceEpoch();
    return int(until - d->start);
}

NetError OrbNetUpload::Error() const
{
    std::lock_guard<std::mutex> l(d->lock);
    return NetError(d->error);
}

std::string OrbNetUpload::ErrorMsg() const
{
    std::lock_guard<std::mutex> l(d->lock);
    return d->errorMsg;
}

bool OrbNetUpload::IsFinish() const { return d->finished.load(); }

std::string OrbNetUpload::LocalPath() const { return d->req.LocalPath(); }

std::string OrbNetUpload::RemotePath() const
{
    std::lock_guard<std::mutex> l(d->lock);
    return d->remotePath;
}

void* OrbNetUpload::GetUser() const { return d->user; }

void OrbNetUpload::SetUser(void* user) { d->user = user; }

int OrbNetUpload::Id() const { return d->id; }
