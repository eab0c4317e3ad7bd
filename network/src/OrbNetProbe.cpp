#include "OrbNetProbe.h"

#include "OrbNetProbe_p.h"

#include <QEventLoop>

void OrbNetProbePrivate::Complete(const std::shared_ptr<OrbNetProbe>& self, std::list<OrbIPStatus> answer)
{
    OrbNetProbe::FinishFn fn;
    {
        std::lock_guard<std::mutex> l(lock);
        if (done)
            return;
        hostInfo = std::move(answer);
        done = true;
        fn.swap(finish);
    }
    cv.notify_all();
    if (fn)
        fn(self);
}

OrbNetProbe::OrbNetProbe(int id) : d(new OrbNetProbePrivate(id)) {}

OrbNetProbe::~OrbNetProbe() { delete d; }

void OrbNetProbe::Async(FinishFn finish)
{
    std::unique_lock<std::mutex> l(d->lock);
    if (d->done) {
        l.unlock();
        finish = nullptr;  // released outside the lock, uncalled
        return;
    }
    d->finish = std::move(finish);
}

void OrbNetProbe::Sync()
{
    std::unique_lock<std::mutex> l(d->lock);
    if (d->done)
        return;
    if (!d->workerThread || QThread::currentThreadId() != d->workerThread) {
        d->finish = nullptr;
        d->cv.wait(l, [this] { return d->done; });
        return;
    }
    // On the worker itself: the answer comes from this thread's event loop, so run it.
    // Nothing else can complete the handle between here and exec: that also runs here.
    QEventLoop loop;
    d->finish = [&loop](const std::shared_ptr<OrbNetProbe>&) { loop.exit(0); };
    l.unlock();
    loop.exec();
    std::lock_guard<std::mutex> g(d->lock);
    d->finish = nullptr;  // the worker is shutting down when the answer did not come
}

const std::list<OrbIPStatus>& OrbNetProbe::GetHostInfo()
{
    static const std::list<OrbIPStatus> empty;
    std::lock_guard<std::mutex> l(d->lock);
    return d->done ? d->hostInfo : empty;
}

bool OrbNetProbe::IsFinish() const
{
    std::lock_guard<std::mutex> l(d->lock);
    return d->done;
}

int OrbNetProbe::Id() const { return d->id; }
