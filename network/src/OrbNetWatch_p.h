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
// What the download and response watchers share: callbacks moved to a context
// object's thread, a finish delivered exactly once (also for a handle that ended
// before the registration, where the handle's own Async drops callbacks uncalled),
// and progress that never follows the finish.

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>

namespace OrbNetWatch {

template <class Handle>
struct State {
    QPointer<QObject> context;
    std::atomic<bool> posted{false};
    typename Handle::FinishFn finish;
    typename Handle::ProgressFn progress;

    void post(std::function<void()> fn)
    {
        QObject* ctx = context.data();
        if (ctx)
            QMetaObject::invokeMethod(ctx, std::move(fn), Qt::QueuedConnection);
    }
};

template <class Handle>
void deliverFinish(const std::shared_ptr<State<Handle>>& state, const std::shared_ptr<Handle>& handle)
{
    if (state->posted.exchange(true))
        return;
    state->post([state, handle] {
        typename Handle::FinishFn fn;
        fn.swap(state->finish);
        state->progress = nullptr;
        if (fn)
            fn(handle);
    });
}

// Registers on the handle. The finish is delivered from here when the handle had
// already ended, unless `refused` says the registration was refused for good (then
// false, and nothing is ever called).
template <class Handle>
bool Watch(const std::shared_ptr<Handle>& handle, QObject* context, typename Handle::FinishFn finish,
           typename Handle::ProgressFn progress, std::function<bool(Handle&)> refused = nullptr)
{
    auto state = std::make_shared<State<Handle>>();
    state->context = context;
    state->finish = std::move(finish);
    state->progress = std::move(progress);
    typename Handle::ProgressFn onProgress;
    if (state->progress) {
        onProgress = [state](const std::shared_ptr<Handle>& h, long long done, long long total) {
            if (state->posted.load())
                return;
            state->post([state, h, done, total] {
                if (state->progress)
                    state->progress(h, done, total);
            });
        };
    }
    const bool registered = handle->Async(
        [state](const std::shared_ptr<Handle>& h) { deliverFinish(state, h); }, std::move(onProgress));
    if (!registered && refused && refused(*handle))
        return false;
    if (handle->IsFinish())
        deliverFinish(state, handle);
    return true;
}

} // namespace OrbNetWatch
