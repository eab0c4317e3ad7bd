#include "OrbNetwork.h"

#include "OrbNetUploader_p.h"
#include "OrbNetwork_p.h"

#include <QMetaObject>
#include <QThread>

OrbNetwork::OrbNetwork()
{
    auto* thread = new QThread;
    thread->setObjectName(QStringLiteral("OrbNetwork thread"));
    d = new OrbNetworkPrivate(OrbNetConfig());
    d->thread = thread;
    d->moveToThread(thread);
    // The engine dies on its own thread as the thread ends.
    QObject::connect(thread, &QThread::finished, d, &QObject::deleteLater);
    thread->start(QThread::InheritPriority);
}

OrbNetwork::~OrbNetwork()
{
    QThread* thread = d->thread;
    thread->quit();
    thread->wait();
    delete thread;
}

void OrbNetwork::Init(const OrbNetConfig& config)
{
    std::lock_guard<std::mutex> l(d->initLock);
    if (d->initialised.load()) {
        d->config = config;
        return;
    }
    d->config = config;
    QObject::connect(d, &OrbNetworkPrivate::sigThreadId, d, &OrbNetworkPrivate::onThreadId, Qt::QueuedConnection);
    if (QThread::currentThread() == d->thread)
        d->onThreadId();  // a blocking hop to our own thread would never return
    else
        QMetaObject::invokeMethod(d, &OrbNetworkPrivate::onThreadId, Qt::BlockingQueuedConnection);
    d->initialised.store(true);
}

void OrbNetwork::SetDnsResolver(std::shared_ptr<IOrbDnsResolver> resolver)
{
    std::lock_guard<std::mutex> l(d->initLock);
    if (!d->initialised.load())
        d->resolver = std::move(resolver);
}

void OrbNetwork::ensureInit()
{
    if (!d->initialised.load())
        Init(DefaultNetConfig);
}

std::shared_ptr<OrbNetResponse> OrbNetwork::Do(const OrbNetRequest& request)
{
    ensureInit();
    return d->Submit(d->NextId(), request);
}

std::shared_ptr<OrbNetResponse> OrbNetwork::Get(const std::string& url)
{
    ensureInit();
    OrbNetRequest req(d->config);
    req.SetMethod(HttpGet).SetUrl(url, false);
    return d->Submit(d->NextId(), req);
}

std::shared_ptr<OrbNetResponse> OrbNetwork::Post(const std::string& url, const std::string& body,
                                                 const std::string& contentType)
{
    ensureInit();
    OrbNetRequest req(d->config);
    req.SetMethod(HttpPost).SetUrl(url, false).SetBody(body, contentType);
    return d->Submit(d->NextId(), req);
}

std::shared_ptr<OrbNetResponse> OrbNetwork::Post(const std::string& url, const unsigned char* data, int len,
                                                 const std::string& contentType)
{
    ensureInit();
    OrbNetRequest req(d->config);
    req.SetMethod(HttpPost).SetUrl(url, false).SetBody(data, len, contentType);
    return d->Submit(d->NextId(), req);
}

std::shared_ptr<OrbNetDownload> OrbNetwork::Download(const std::string& url, const std::string& path, bool resume)
{
    return Download(OrbNetDownloadReq(url, path, DefaultNetConfig), resume);
}

std::shared_ptr<OrbNetDownload> OrbNetwork::Download(const OrbNetDownloadReq& req, bool resume)
{
    ensureInit();
    return d->Download(d->NextId(), req, resume);
}

void OrbNetwork::SetCosConfig(std::shared_ptr<IOrbCosGetConfig> config)
{
    ensureInit();
    d->uploader->SetCosConfig(std::move(config));
}

std::shared_ptr<OrbNetUpload> OrbNetwork::Upload(const std::string& prefix, const std::string& localPath)
{
    return Upload(OrbNetUploadReq(prefix, localPath, DefaultNetConfig));
}

std::shared_ptr<OrbNetUpload> OrbNetwork::Upload(const OrbNetUploadReq& req)
{
    ensureInit();
    return d->uploader->Upload(d->NextId(), req);
}

std::shared_ptr<OrbNetProbe> OrbNetwork::Probe(const std::string& url)
{
    ensureInit();
    const OrbNetRequest req(url, HttpGet, std::string(), "application/json", DefaultNetConfig);
    return d->Probe(d->NextId(), req);
}
