#include "OrbNetUploader_p.h"

#include "OrbNetProxyQuery_p.h"
#include "OrbNetResponse_p.h"
#include "OrbNetUpload_p.h"

#include <QDateTime>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QXmlStreamReader>

#include <vector>

namespace {

const char kFetchFailed[] = "get cos config fail";
const char kParseFailed[] = "parse cos config error";

// "HTTP 403 SignatureDoesNotMatch: <message>" from an S3 error document.
std::string refusal(int status, const QByteArray& body)
{
    QString code, message;
    QXmlStreamReader xml(body);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("Code"))
            code = xml.readElementText();
        else if (xml.name() == QLatin1String("Message"))
            message = xml.readElementText();
    }
    QString text = QStringLiteral("HTTP %1").arg(status);
    if (!code.isEmpty())
        text += QLatin1Char(' ') + code;
    if (!message.isEmpty())
        text += QStringLiteral(": ") + message;
    return text.toStdString();
}

} // namespace

OrbNetUploader::OrbNetUploader(IOrbTransferEngine* engine, QObject* parent) : QObject(parent), m_engine(engine)
{
    // An id, not the handle's address: a waiting upload may end before the hop.
    connect(this, &OrbNetUploader::sigUpload, this, &OrbNetUploader::onUpload, Qt::QueuedConnection);
}

OrbNetUploader::~OrbNetUploader()
{
    // Waiting and running uploads are released without their callbacks.
    if (m_manager) {
        for (QNetworkReply* reply : m_manager->findChildren<QNetworkReply*>())
            disconnect(reply, nullptr, this, nullptr);
        delete m_manager;
        m_manager = nullptr;
    }
}

void OrbNetUploader::SetCosConfig(std::shared_ptr<IOrbCosGetConfig> config)
{
    if (!config)
        return;
    {
        std::lock_guard<std::mutex> l(m_configLock);
        m_config = std::move(config);  // the previous provider is released here
    }
    // The provider is only ever called on the worker thread.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_haveCredentials = false;
            if (m_retry)
                m_retry->stop();
            m_fetching = false;  // a fetch of the previous provider is ignored
            onUpdateCosConfig();
        },
        Qt::QueuedConnection);
}

std::shared_ptr<OrbNetUpload> OrbNetUploader::Upload(int id, const OrbNetUploadReq& req)
{
    auto upload = std::make_shared<OrbNetUpload>(id, req);
    {
        std::lock_guard<std::mutex> l(m_tableLock);
        m_pending[id] = upload;
    }
    emit sigUpload(id);
    return upload;
}

std::string OrbNetUploader::LastFailure() const
{
    std::lock_guard<std::mutex> l(m_configLock);
    return m_failure;
}

size_t OrbNetUploader::PendingCount() const
{
    std::lock_guard<std::mutex> l(m_tableLock);
    return m_pending.size();
}

bool OrbNetUploader::credentialsUsable() const
{
    if (!m_haveCredentials)
        return false;
    if (m_credentials.expiry == 0)
        return true;
    return QDateTime::currentSecsSinceEpoch() + kExpiryMarginS < m_credentials.expiry;
}

void OrbNetUploader::onUpload(int)
{
    if (credentialsUsable()) {
        startPending();
        return;
    }
    // Waits: for the fetch under way, for the retry after a failure, or for a provider.
    if (m_fetching || (m_retry && m_retry->isActive()))
        return;
    onUpdateCosConfig();
}

void OrbNetUploader::onUpdateCosConfig()
{
    std::shared_ptr<IOrbCosGetConfig> provider;
    {
        std::lock_guard<std::mutex> l(m_configLock);
        provider = m_config;
    }
    if (!provider || m_fetching)
        return;
    m_fetching = true;
    const int generation = ++m_generation;

    std::string url, body;
    provider->MakeRequest(url, body);
    OrbNetRequest request(m_engine->RequestConfig());
    request.SetMethod(HttpPost).SetUrl(url, false).SetBody(body, "application/json");
    QPointer<OrbNetUploader> self(this);
    m_engine->Submit(m_engine->NextId(), request, [self, generation](OrbNetResponsePrivate* p) {
        // Completion runs on the worker thread, where this object lives.
        p->finish = [self, generation](const std::shared_ptr<OrbNetResponse>& response) {
            if (self)
                self->evaluate(generation, response);
        };
    });
}

void OrbNetUploader::evaluate(int generation, const std::shared_ptr<OrbNetResponse>& response)
{
    if (generation != m_generation || !m_fetching)
        return;  // a fetch for a provider that has been replaced
    m_fetching = false;
    if (response->Error() != NetNoError) {
        fail(kFetchFailed);
        return;
    }
    std::shared_ptr<IOrbCosGetConfig> provider;
    {
        std::lock_guard<std::mutex> l(m_configLock);
        provider = m_config;
    }
    if (!provider || !provider->ParseConfig(response->GetBody())) {
        fail(kParseFailed);
        return;
    }
    m_credentials.accessKey = provider->AccessKey();
    m_credentials.secretKey = provider->SecretKey();
    m_credentials.token = provider->Token();
    m_credentials.region = provider->Region();
    m_credentials.endpoint = provider->Endpoint();
    m_credentials.expiry = provider->ExpiredTime();
    m_haveCredentials = true;
    // Just fetched: used even when the service hands out short-lived ones.
    startPending();
}

void OrbNetUploader::fail(const std::string& text)
{
    {
        std::lock_guard<std::mutex> l(m_configLock);
        m_failure = text;
    }
    if (!m_retry) {
        m_retry = new QTimer(this);
        m_retry->setSingleShot(true);
        connect(m_retry, &QTimer::timeout, this, &OrbNetUploader::onUpdateCosConfig);
    }
    m_retry->start(m_retryMs.load());

    std::map<int, std::shared_ptr<OrbNetUpload>> taken;
    {
        std::lock_guard<std::mutex> l(m_tableLock);
        taken.swap(m_pending);
    }
    for (auto& entry : taken)
        OrbNetUploadPrivate::Finish(entry.second, NetCosConfigFailed, text);
}

void OrbNetUploader::startPending()
{
    std::map<int, std::shared_ptr<OrbNetUpload>> taken;
    {
        std::lock_guard<std::mutex> l(m_tableLock);
        taken.swap(m_pending);
    }
    for (auto& entry : taken)
        transfer(entry.second);
}

void OrbNetUploader::transfer(const std::shared_ptr<OrbNetUpload>& upload)
{
    OrbNetUploadPrivate* d = OrbNetUploadPrivate::get(upload.get());
    const std::string localPath = d->req.LocalPath();
    const std::string key = OrbS3Signer::ObjectKey(d->req.Prefix(), localPath);
    d->SetRemotePath(key);

    if (m_credentials.endpoint.empty()) {
        OrbNetUploadPrivate::Finish(upload, NetUploadRefused, "no storage endpoint in the credentials");
        return;
    }
    auto* file = new QFile(QString::fromStdString(localPath));
    if (localPath.empty() || !file->open(QIODevice::ReadOnly) || key.empty()) {
        const std::string reason = file->errorString().toStdString();
        delete file;
        OrbNetUploadPrivate::Finish(upload, NetFileOpenFailed, "cannot open " + localPath + ": " + reason);
        return;
    }

    if (!m_manager) {
        m_manager = new QNetworkAccessManager(this);
        m_manager->setProxyFactory(new OrbNetProxyQuery(ProxyDirect, std::string(), 0));
    }
    const QUrl url = OrbS3Signer::ObjectUrl(m_credentials.endpoint, key);
    QNetworkRequest request(url);
    for (const auto& header :
         OrbS3Signer::SignedHeaders("PUT", url, m_credentials, QDateTime::currentDateTimeUtc()))
        request.setRawHeader(header.first, header.second);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/octet-stream"));
    request.setHeader(QNetworkRequest::ContentLengthHeader, file->size());
    const int timeout = d->req.Timeout();
    if (timeout > 0)
        request.setTransferTimeout(timeout * 1000);

    // Streamed from the open file, which lives as long as the reply.
    QNetworkReply* reply = m_manager->put(request, file);
    file->setParent(reply);
    const int id = d->id;
    m_active[id] = upload;
    std::weak_ptr<OrbNetUpload> weak = upload;
    connect(reply, &QNetworkReply::uploadProgress, this, [weak](qint64 sent, qint64 total) {
        // Qt closes an upload with a (0, 0) report, which is no progress of the file.
        if (total <= 0)
            return;
        if (auto h = weak.lock())
            OrbNetUploadPrivate::get(h.get())->CallProgress(h, sent, total);
    });
    connect(reply, &QNetworkReply::finished, this, [this, id, reply] { transferDone(id, reply); });
}

void OrbNetUploader::transferDone(int id, QNetworkReply* reply)
{
    reply->deleteLater();
    auto it = m_active.find(id);
    if (it == m_active.end())
        return;
    std::shared_ptr<OrbNetUpload> upload = std::move(it->second);
    m_active.erase(it);

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QNetworkReply::NetworkError error = reply->error();
    const int timeout = OrbNetUploadPrivate::get(upload.get())->req.Timeout();
    if (status >= 300) {
        OrbNetUploadPrivate::Finish(upload, NetUploadRefused, refusal(status, reply->readAll()));
    } else if (error == QNetworkReply::OperationCanceledError && timeout > 0) {
        // Nothing here aborts a transfer: a cancel is the transfer timeout.
        OrbNetUploadPrivate::Finish(upload, int(error),
                                    "upload timed out: no progress for " + std::to_string(timeout) + " s");
    } else if (error != QNetworkReply::NoError) {
        OrbNetUploadPrivate::Finish(upload, int(error), reply->errorString().toStdString());
    } else {
        OrbNetUploadPrivate::Finish(upload, NetNoError, std::string());
    }
}
