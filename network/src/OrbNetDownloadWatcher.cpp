#include "OrbNetDownloadWatcher.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <atomic>

namespace {

// Shared by the registration and the download's own callbacks; whichever sees the end
// first posts the one delivery.
struct WatchState {
    QPointer<QObject> context;
    std::atomic<bool> posted{false};
    OrbNetDownload::FinishFn finish;
    OrbNetDownload::ProgressFn progress;

    void post(std::function<void()> fn)
    {
        QObject* ctx = context.data();
        if (ctx)
            QMetaObject::invokeMethod(ctx, std::move(fn), Qt::QueuedConnection);
    }
};

void deliverFinish(const std::shared_ptr<WatchState>& state, const std::shared_ptr<OrbNetDownload>& download)
{
    if (state->posted.exchange(true))
        return;
    state->post([state, download] {
        OrbNetDownload::FinishFn fn;
        fn.swap(state->finish);
        state->progress = nullptr;
        if (fn)
            fn(download);
    });
}

} // namespace

bool OrbNetDownloadWatcher::Watch(const std::shared_ptr<OrbNetDownload>& download, QObject* context,
                                  OrbNetDownload::FinishFn finish, OrbNetDownload::ProgressFn progress)
{
    if (!download || !context)
        return false;
    auto state = std::make_shared<WatchState>();
    state->context = context;
    state->finish = std::move(finish);
    state->progress = std::move(progress);
    OrbNetDownload::ProgressFn onProgress;
    if (state->progress) {
        onProgress = [state](const std::shared_ptr<OrbNetDownload>& d, long long offset, long long total) {
            if (state->posted.load())
                return;
            state->post([state, d, offset, total] {
                if (state->progress)
                    state->progress(d, offset, total);
            });
        };
    }
    const bool registered = download->Async(
        [state](const std::shared_ptr<OrbNetDownload>& d) { deliverFinish(state, d); }, std::move(onProgress));
    if (!registered && download->Error() == NetFileOpenFailed)
        return false;
    // Ended before the registration: Async dropped the callbacks, so deliver from here.
    if (download->IsFinish())
        deliverFinish(state, download);
    return true;
}
