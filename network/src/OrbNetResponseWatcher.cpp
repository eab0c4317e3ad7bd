#include "OrbNetResponseWatcher.h"

#include "OrbNetWatch_p.h"

bool OrbNetResponseWatcher::Watch(const std::shared_ptr<OrbNetResponse>& response, QObject* context,
                                  OrbNetResponse::FinishFn finish, OrbNetResponse::ProgressFn progress)
{
    if (!response || !context)
        return false;
    return OrbNetWatch::Watch<OrbNetResponse>(response, context, std::move(finish), std::move(progress));
}
