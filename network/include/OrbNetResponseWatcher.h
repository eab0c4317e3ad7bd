#pragma once

#include "OrbNetResponse.h"
#include "OrbNetworkExport.h"

#include <memory>

class QObject;

// Registers a caller's callbacks on a response and guarantees that the finish callback
// runs exactly once, also when the response ended before the registration (where
// OrbNetResponse::Async would drop it uncalled).
//
// Both callbacks run on the thread of `context`, through its event loop: never inside
// Watch itself, and never after `context` has been destroyed (a pending delivery is then
// dropped). Progress reports are queued the same way and always come before the finish.
class ORBNETWORK_EXPORT OrbNetResponseWatcher {
public:
    // False, and nothing is ever called, when response or context is null.
    static bool Watch(const std::shared_ptr<OrbNetResponse>& response, QObject* context,
                      OrbNetResponse::FinishFn finish, OrbNetResponse::ProgressFn progress = nullptr);
};
