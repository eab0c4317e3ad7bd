#pragma once
// Stand-in for OrbNetwork::Download until the facade exposes it: the same engine on
// its own worker thread, downloads started straight on it.
#include "OrbNetDownload.h"
#include "OrbNetDownload_p.h"
#include "OrbNetworkPrivate.h"

#include <QThread>

struct ScratchEngine {
    OrbNetworkPrivate* d;
    QThread* t;
    explicit ScratchEngine(const OrbNetConfig& config)
    {
        t = new QThread;
        d = new OrbNetworkPrivate(config);
        d->thread = t;
        d->moveToThread(t);
        QObject::connect(t, &QThread::finished, d, &QObject::deleteLater);
        t->start();
        QMetaObject::invokeMethod(d, &OrbNetworkPrivate::onThreadId, Qt::BlockingQueuedConnection);
    }
    ~ScratchEngine()
    {
        t->quit();
        t->wait();
        delete t;
    }
    std::shared_ptr<OrbNetDownload> Download(const OrbNetDownloadReq& r, bool resume)
    {
        return OrbNetDownloadPrivate::Start(d, d->NextId(), r, resume);
    }
};
