#pragma once

#include "OrbIPStatus.h"
#include "OrbNetworkExport.h"

#include <functional>
#include <list>
#include <memory>

class OrbNetProbePrivate;

// What the library currently knows about reaching one host: one entry per route that is
// not excluded, in walk order (addresses by ip string, then direct before system proxy),
// answered after a fresh probe pass of the host's parser. Callbacks run on the engine's
// worker thread. The engine holds the handle until the answer, so a caller may drop it.
class ORBNETWORK_EXPORT OrbNetProbe {
public:
    using FinishFn = std::function<void(const std::shared_ptr<OrbNetProbe>&)>;

    explicit OrbNetProbe(int id);
    ~OrbNetProbe();
    OrbNetProbe(const OrbNetProbe&) = delete;
    OrbNetProbe& operator=(const OrbNetProbe&) = delete;

    // Stores the callback, replacing an earlier one; it runs once when the answer arrives.
    // Offered after the answer it is released uncalled (read IsFinish / GetHostInfo instead).
    void Async(FinishFn finish);
    // Returns when the answer has arrived, at once when it already has. On the worker thread
    // (inside another callback) it keeps the worker's events flowing meanwhile. Replaces a
    // callback set by Async.
    void Sync();
    // The answer; empty before it arrives. Read it after Sync returns or inside the callback.
    const std::list<OrbIPStatus>& GetHostInfo();

    bool IsFinish() const;
    int Id() const;

private:
    friend class OrbNetProbePrivate;
    OrbNetProbePrivate* d;
};
