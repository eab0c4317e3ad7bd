#include "OrbNetDownloadWatcher.h"

#include "OrbNetWatch_p.h"

bool OrbNetDownloadWatcher::Watch(const std::shared_ptr<OrbNetDownload>& download, QObject* context,
                                  OrbNetDownload::FinishFn finish, OrbNetDownload::ProgressFn progress)
{
    if (!download || !context)
        return false;
    return OrbNetWatch::Watch<OrbNetDownload>(download, context, std::move(finish), std::move(progress),
                                              [](OrbNetDownload& d) { return d.Error() == NetFileOpenFailed; });
}
