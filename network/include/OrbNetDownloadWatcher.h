#pragma once

#include "OrbNetDownload.h"
#include "OrbNetworkExport.h"

#include <memory>

class QObject;

// Registers a caller's callbacks on a download and guarantees that the finish callback
// runs exactly once for every download whose file was opened, also when the download
// ended before the registration (where OrbNetDownload::Async would drop it uncalled).
//
// Both callbacks run on the thread of `context`, through its event loop: never inside
// Watch itself, and never after `context` has been destroyed (a pending delivery is then
// dropped). Progress reports are queued the same way and always come before the finish.
// Destroy `context` only once the download can no longer report, that is after it has
// finished or after its engine (OrbNetwork) has been destroyed.
class ORBNETWORK_EXPORT OrbNetDownloadWatcher {
public:
    // False, and nothing is ever called, when download or context is null or the
    // download's file could not be opened (Error() is NetFileOpenFailed then). True otherwise:
    // finish will be called once with the download, whatever its outcome.
    static bool Watch(const std::shared_ptr<OrbNetDownload>& download, QObject* context,
                      OrbNetDownload::FinishFn finish, OrbNetDownload::ProgressFn progress = nullptr);
};
