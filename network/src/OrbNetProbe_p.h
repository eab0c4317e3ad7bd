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
// Private record of a probe handle, shared by the handle and the engine.

#include "OrbNetProbe.h"

#include <QThread>
#include <condition_variable>
#include <mutex>

class OrbNetProbePrivate {
public:
    explicit OrbNetProbePrivate(int id) : id(id) {}

    static OrbNetProbePrivate* get(OrbNetProbe* p) { return p->d; }

    // Worker thread: stores the answer, marks the handle finished, runs the callback once
    // and wakes a waiting Sync. Later calls do nothing.
    void Complete(const std::shared_ptr<OrbNetProbe>& self, std::list<OrbIPStatus> answer);

    const int id;
    Qt::HANDLE workerThread = nullptr;

    mutable std::mutex lock;  // guards everything below
    std::condition_variable cv;
    bool done = false;
    OrbNetProbe::FinishFn finish;
    std::list<OrbIPStatus> hostInfo;
};
