#include "OrbNetwork_p.h"

#include "OrbDnsResolver.h"
#include "OrbNetwork.h"
#include "OrbNetDownload_p.h"
#include "OrbNetProbe_p.h"
#include "OrbNetProxyQuery_p.h"
#include "OrbNetResponse_p.h"
#include "OrbNetUploader_p.h"

#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QDateTime>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>

#include <climits>

OrbNetworkPrivate* OrbNetworkPrivate::get(OrbNetwork* n) { return n->d; }

void OrbNetworkPrivate::SetDispatchObserver(DispatchObserver observer)
{
    std::lock_guard<std::mutex> l(m_observerLock);
    m_observer = std::move(observer);
}

OrbNetworkPrivate::OrbNetworkPrivate(const OrbNetConfig& c) : config(c), m_link(std::make_shared<OrbEngineLink>())
{
    m_link->engine = this;
    uploader = new OrbNetUploader(this, this);
    qRegisterMetaType<HttpInfoForSelector>("HttpInfoForSelector");
    connect(this, &OrbNetworkPrivate::sigCloseResponse, this, &OrbNetworkPrivate::onCloseResponse,
            Qt::QueuedConnection);
}

OrbNetworkPrivate::~OrbNetworkPrivate()
{
    {
        std::lock_guard<std::mutex> l(m_link->lock);
        m_link->engine = nullptr;
    }
    std::map<int, std::shared_ptr<OrbNetResponse>> abandoned;
    std::map<int, std::shared_ptr<OrbNetProbe>> probes;
    {
        std::lock_guard<std::mutex> l(m_liveLock);
        abandoned.swap(m_liveResponses);
        probes.swap(m_liveProbes);
    }
    // Unanswered probes end with what is known (nothing): a waiting Sync wakes, callbacks
    // are released uncalled.
    for (auto& pr : probes) {
        OrbNetProbePrivate* pp = OrbNetProbePrivate::get(pr.second.get());
        OrbNetProbe::FinishFn fn;
        {
            std::lock_guard<std::mutex> l(pp->lock);
            pp->done = true;
            fn.swap(pp->finish);
        }
        pp->cv.notify_all();
    }
    probes.clear();
    for (auto& m : m_managers)
        for (QNetworkReply* r : m.second->findChildren<QNetworkReply*>())
            disconnect(r, nullptr, this, nullptr);
    for (auto& a : abandoned)
        OrbNetResponsePrivate::get(a.second.get())->Abandon();
    abandoned.clear();
    for (auto& m : m_managers)
        delete m.second;
    m_managers.clear();
    delete m_selector;
    m_selector = nullptr;
}

void OrbNetworkPrivate::onThreadId()
{
    workerThread.store(QThread::currentThreadId());
    if (!resolver)
        resolver = MakeOrbDnsResolver(config.SystemResolver(), config.PublicResolver());
    m_selector = new OrbNetIPSelector(this, resolver, config.LookupTimeout(), this);
    connect(this, &OrbNetworkPrivate::sigProbe, m_selector, &OrbNetIPSelector::onProbe, Qt::QueuedConnection);
    connect(this, &OrbNetworkPrivate::sigHttpDo, m_selector, &OrbNetIPSelector::onHttpDo, Qt::QueuedConnection);
    managerFor(ProxyDirect, std::string(), 0, true);
}

std::shared_ptr<OrbNetResponse> OrbNetworkPrivate::Submit(int id, const OrbNetRequest& request, const Prepare& prepare)
{
    auto h = std::make_shared<OrbNetResponse>(id, request);
    OrbNetResponsePrivate* p = OrbNetResponsePrivate::get(h.get());
    p->workerThread = workerThread.load();
    p->link = m_link;
    if (prepare)
        prepare(p);
    {
        std::lock_guard<std::mutex> l(m_liveLock);
        m_liveResponses[id] = h;
    }
    HttpInfoForSelector info;
    std::string socksHost;
    int socksPort = 0;
    info.mode = request.GetProxy(socksHost, socksPort);
    const std::string scheme = request.Scheme();
    info.port = request.Port();
    if (info.port == 0)
        info.port = (scheme == "https" || scheme.empty()) ? 443 : 80;
    info.id = id;
    info.retry = request.RetryCount();
    info.scheme = QString::fromStdString(scheme);
    info.host = QString::fromStdString(request.Host());
    if (request.Deadline() >= 0) {
        const qint64 start = p->start;
        const long long deadline = request.Deadline();
        QMetaObject::invokeMethod(this, [this, id, start, deadline] { armDeadline(id, start, deadline); },
                                  Qt::QueuedConnection);
    }
    emit sigHttpDo(info);
    return h;
}

void OrbNetworkPrivate::armDeadline(int id, qint64 start, long long deadline)
{
    // Counted from submission, so the time spent waiting for the worker counts too.
    const qint64 left = start + deadline - QDateTime::currentMSecsSinceEpoch();
    QTimer::singleShot(int(qBound(qint64(0), left, qint64(INT_MAX))), Qt::PreciseTimer, this, [this, id] {
        if (std::shared_ptr<OrbNetResponse> h = live(id))
            stop(h, NetDeadline);
    });
}

void OrbNetworkPrivate::stop(const std::shared_ptr<OrbNetResponse>& h, int code)
{
    OrbNetResponsePrivate* p = OrbNetResponsePrivate::get(h.get());
    if (p->state.load() == OrbResponseFinished || p->closeRequested.load() || p->stopCode.load())
        return;
    // Run down exactly like a close (not retried, not counted against the route), then report
    // the engine's own reason.
    if (p->error.load() != NetClosed && p->reply) {
        m_selector->ReportError(p->id, NetClosed);
        p->SetError(NetClosed);
    }
    p->stopCode.store(code);
    p->closeRequested.store(true);
    if (QNetworkReply* reply = p->reply) {
        // Queued: this may run inside the reply's own readyRead.
        QMetaObject::invokeMethod(reply, "abort", Qt::QueuedConnection);
        return;
    }
    // Not on the wire (waiting for its address or for a retry): it ends now. It stays in the
    // live table; when the selector comes to send it, it finds it finished and releases it.
    p->Complete(h);
}

void OrbNetworkPrivate::deliver(const std::shared_ptr<OrbNetResponse>& h, const QByteArray& chunk,
                                QNetworkReply* reply)
{
    OrbNetResponsePrivate* p = OrbNetResponsePrivate::get(h.get());
    if (p->stopCode.load())
        return;  // being stopped: nothing more is kept
    p->attemptBytes += chunk.size();
    m_selector->ReportData(p->id);
    if (p->sink) {
        p->sink(chunk);
        return;
    }
    const long long cap = p->request.MaxSize();
    if (cap >= 0) {
        bool ok = false;
        const qint64 announced = reply->rawHeader("Content-Length").trimmed().toLongLong(&ok);
        if (p->body.size() + chunk.size() > cap || (ok && announced > cap)) {
            stop(h, NetTooLarge);
            return;
        }
        // A bounded body of announced length is allocated once instead of grown piece by piece.
        if (p->body.isEmpty() && ok && announced > chunk.size())
            p->body.reserve(announced);
    }
    p->body += chunk;
}

std::shared_ptr<OrbNetResponse> OrbNetworkPrivate::live(int id)
{
    std::lock_guard<std::mutex> l(m_liveLock);
    auto it = m_liveResponses.find(id);
    return it == m_liveResponses.end() ? nullptr : it->second;
}

void OrbNetworkPrivate::forget(int id)
{
    std::shared_ptr<OrbNetResponse> keep;  // released outside the lock
    std::lock_guard<std::mutex> l(m_liveLock);
    auto it = m_liveResponses.find(id);
    if (it != m_liveResponses.end()) {
        keep = std::move(it->second);
        m_liveResponses.erase(it);
    }
}

void OrbNetworkPrivate::ProcessHttp(ProxyMode mode, const std::string& ip, int id, int failed)
{
    std::shared_ptr<OrbNetResponse> h = live(id);
    if (!h)
        return;
    OrbNetResponsePrivate* p = OrbNetResponsePrivate::get(h.get());
    const bool retry = p->state.load() == OrbResponseDispatched;
    if (failed || p->closeRequested.load() || (!retry && p->state.load() == OrbResponseFinished)) {
        // Completed from the event loop, never from inside the selector's own call.
        const int err = (p->closeRequested.load() || p->state.load() == OrbResponseFinished) ? NetClosed : NetHostNotFound;
        QMetaObject::invokeMethod(this, [this, id, err] { finishUnsent(id, err); }, Qt::QueuedConnection);
        return;
    }
    {
        std::lock_guard<std::mutex> l(p->lock);
        p->ip = ip;
    }
    p->selectMode.store(mode);
    if (retry)
        p->ResetError();
    {
        std::lock_guard<std::mutex> l(m_observerLock);
        if (m_observer)
            m_observer(id, mode, ip);
    }
    p->attemptBytes = 0;
    QNetworkReply* reply = send(p, mode);
    if (p->readBufferSize > 0)
        reply->setReadBufferSize(p->readBufferSize);  // before any data, or the transport runs ahead
    p->reply = reply;
    wire(h, reply);
    if (!retry) {
        // Only the worker moves a handle out of Created. Close stores its request before it
        // reads the state, and this reads the request after storing the state, so one of
        // the two always sees the other.
        p->state.store(OrbResponseDispatched);
        if (p->closeRequested.load()) {
            // Closed while it was being sent: end it exactly like a close of a running request.
            if (p->error.load() != NetClosed) {
                m_selector->ReportError(id, NetClosed);
                p->SetError(NetClosed);
            }
            QMetaObject::invokeMethod(reply, "abort", Qt::QueuedConnection);
        }
    }
}

void OrbNetworkPrivate::finishUnsent(int id, int err)
{
    std::shared_ptr<OrbNetResponse> h = live(id);
    if (!h)
        return;
    OrbNetResponsePrivate* p = OrbNetResponsePrivate::get(h.get());
    if (p->error.load() != NetClosed)
        m_selector->ReportError(id, err);
    p->SetError(err);
    if (!m_selector->ReportFinished(id))
        return;  // a new attempt is on its way
    forget(id);
    p->Complete(h);
}

QNetworkAccessManager* OrbNetworkPrivate::managerFor(ProxyMode mode, const std::string& host, int port, bool verify)
{
    // Qt shares one connection per host among requests of a manager and keeps the TLS
    // settings of the request that opened it, so unverified traffic gets managers of its own.
    std::string key = verify ? "v" : "n";
    if (mode == ProxySocks5)
        key += "4:" + host + ":" + std::to_string(port & 0xFFFF);
    else if (mode == ProxySystem)
        key += "2";
    else
        key += "1";
    auto it = m_managers.find(key);
    if (it != m_managers.end())
        return it->second;
    auto* m = new QNetworkAccessManager(this);
    const ProxyMode fixed = (mode == ProxySocks5 || mode == ProxySystem) ? mode : ProxyDirect;
    m->setProxyFactory(new OrbNetProxyQuery(fixed, host, port));
    m_managers.emplace(key, m);
    return m;
}

QNetworkReply* OrbNetworkPrivate::send(OrbNetResponsePrivate* p, ProxyMode mode)
{
    const OrbNetRequest& req = p->request;
    std::string socksHost;
    int socksPort = 0;
    if (mode == ProxySocks5)
        req.GetProxy(socksHost, socksPort);
    QNetworkAccessManager* manager = managerFor(mode, socksHost, socksPort, req.VerifyPeer());

    const QUrl url(QString::fromStdString(req.Url()), QUrl::TolerantMode);
    QNetworkRequest qr(url);
    QByteArray host = url.host(QUrl::FullyEncoded).toUtf8();
    if (host.contains(':'))
        host = "[" + host + "]";
    if (url.port() > 0)
        host += ":" + QByteArray::number(url.port());
    qr.setRawHeader("Host", host);
    if (!req.ContentType().empty() && req.GetBodyLen() > 0)
        qr.setRawHeader("Content-Type", QByteArray::fromStdString(req.ContentType()));
    if (!req.UserAgent().empty())
        qr.setRawHeader("User-Agent", QByteArray::fromStdString(req.UserAgent()));
    for (const auto& hd : req.GetHeaders())
        qr.setRawHeader(QByteArray::fromStdString(hd.first), QByteArray::fromStdString(hd.second));
    if (req.Timeout() > 0)
        qr.setTransferTimeout(req.Timeout() * 1000);
    if (!req.VerifyPeer() && QSslSocket::supportsSsl()) {
        QSslConfiguration ssl = qr.sslConfiguration();
        ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
        qr.setSslConfiguration(ssl);
    }
    switch (req.Method()) {
    case HttpPost: {
        const QByteArray body(reinterpret_cast<const char*>(req.GetBodyData()), req.GetBodyLen());
        if (body.isEmpty()) {
            // Without a body the transport writes no length at all, and servers answer 411.
            // (post() would also add a form Content-Type of its own.)
            if (!qr.hasRawHeader("Content-Length"))
                qr.setRawHeader("Content-Length", "0");
            return manager->sendCustomRequest(qr, "POST");
        }
        return manager->post(qr, body);
    }
    case HttpOptions:
        return manager->sendCustomRequest(qr, "OPTIONS");
    default:
        return manager->get(qr);
    }
}

void OrbNetworkPrivate::wire(const std::shared_ptr<OrbNetResponse>& h, QNetworkReply* reply)
{
    const int id = OrbNetResponsePrivate::get(h.get())->id;
    std::weak_ptr<OrbNetResponse> weak = h;
    connect(reply, &QNetworkReply::readyRead, this, [this, weak, reply] {
        auto self = weak.lock();
        if (!self)
            return;
        OrbNetResponsePrivate* p = OrbNetResponsePrivate::get(self.get());
        if (p->reply != reply)
            return;
        const QByteArray chunk = reply->readAll();
        if (chunk.isEmpty())
            return;
        deliver(self, chunk, reply);
    });
    connect(reply, &QNetworkReply::downloadProgress, this, [weak, reply](qint64 rec, qint64 tot) {
        auto self = weak.lock();
        if (!self)
            return;
        OrbNetResponsePrivate* p = OrbNetResponsePrivate::get(self.get());
        if (p->reply == reply)
            p->CallProgress(self, rec, tot);
    });
    connect(reply, &QNetworkReply::errorOccurred, this, [this, weak, id, reply](QNetworkReply::NetworkError code) {
        auto self = weak.lock();
        if (!self)
            return;
        OrbNetResponsePrivate* p = OrbNetResponsePrivate::get(self.get());
        if (p->reply != reply || p->error.load() == NetClosed)
            return;
        m_selector->ReportError(id, int(code));
        p->SetError(int(code));
    });
    connect(reply, &QNetworkReply::finished, this, [this, id, reply] { onReplyFinished(id, reply); });
}

void OrbNetworkPrivate::onReplyFinished(int id, QNetworkReply* reply)
{
    reply->deleteLater();
    std::shared_ptr<OrbNetResponse> h = live(id);
    if (!h)
        return;
    OrbNetResponsePrivate* p = OrbNetResponsePrivate::get(h.get());
    if (p->reply != reply)
        return;
    const QByteArray rest = reply->isOpen() ? reply->readAll() : QByteArray();
    if (!rest.isEmpty())
        deliver(h, rest, reply);
    // This attempt is over and its reply is deleted later: a close that arrives from now on
    // must not reach it (it finds either no reply or the next attempt's).
    p->reply = nullptr;
    if (!m_selector->ReportFinished(id))
        return;  // retried: the handle now waits on the new attempt's reply
    p->statusCode = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (p->error.load() == 0 && bodyCutShort(reply, p->statusCode, p->attemptBytes))
        p->SetError(NetIncomplete);
    p->contentType = reply->header(QNetworkRequest::ContentTypeHeader).toString().toStdString();
    for (const auto& pair : reply->rawHeaderPairs())
        p->headers[pair.first.toStdString()] = pair.second.toStdString();
    p->Complete(h);
    forget(id);
}

bool OrbNetworkPrivate::bodyCutShort(QNetworkReply* reply, int status, qint64 received)
{
    // Qt 6.4 finishes a reply as a success when the connection closes while it is reading the
    // body and no bytes are left unread, whatever the framing said. With a Content-Length the
    // shortfall shows; a chunked body cut before its last chunk cannot be told from a whole one.
    if (status == 204 || status == 304 || (status >= 100 && status < 200))
        return false;
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (!encoding.isEmpty() && encoding != "identity")
        return false;  // decoded bytes are not the bytes the length counts
    bool ok = false;
    const qint64 length = reply->rawHeader("Content-Length").trimmed().toLongLong(&ok);
    return ok && length >= 0 && received < length;
}

void OrbNetworkPrivate::RequestClose(int id) { emit sigCloseResponse(id); }

void OrbNetworkPrivate::onCloseResponse(int id)
{
    std::shared_ptr<OrbNetResponse> h = live(id);
    if (!h)
        return;  // already finished
    OrbNetResponsePrivate* p = OrbNetResponsePrivate::get(h.get());
    QNetworkReply* reply = p->reply;
    if (!reply)
        return;  // between attempts: the next dispatch sees the close and ends it
    if (p->error.load() != NetClosed) {
        m_selector->ReportError(id, NetClosed);
        p->SetError(NetClosed);
    }
    reply->abort();
}

void OrbNetworkPrivate::SubmitProbe(int id, const OrbNetRequest& request, std::function<void()> done)
{
    Submit(id, request, [done](OrbNetResponsePrivate* p) {
        p->finish = [done](const std::shared_ptr<OrbNetResponse>&) { done(); };
    });
}

std::shared_ptr<OrbNetProbe> OrbNetworkPrivate::Probe(int id, const OrbNetRequest& request)
{
    auto h = std::make_shared<OrbNetProbe>(id);
    OrbNetProbePrivate::get(h.get())->workerThread = workerThread.load();
    {
        std::lock_guard<std::mutex> l(m_liveLock);
        m_liveProbes[id] = h;
    }
    const std::string s = request.Scheme();
    const QString scheme = s.empty() ? QStringLiteral("https") : QString::fromStdString(s);
    int port = request.Port();
    if (port == 0)
        port = scheme == QLatin1String("https") ? 443 : 80;
    emit sigProbe(scheme, QString::fromStdString(request.Host()), port, id);
    return h;
}

void OrbNetworkPrivate::ProbeDone(int id, std::list<OrbIPStatus> list)
{
    std::shared_ptr<OrbNetProbe> h;
    {
        std::lock_guard<std::mutex> l(m_liveLock);
        auto it = m_liveProbes.find(id);
        if (it == m_liveProbes.end())
            return;
        h = it->second;
    }
    OrbNetProbePrivate::get(h.get())->Complete(h, std::move(list));
    std::lock_guard<std::mutex> l(m_liveLock);
    m_liveProbes.erase(id);
}

std::shared_ptr<OrbNetDownload> OrbNetworkPrivate::Download(int id, const OrbNetDownloadReq& req, bool resume)
{
    return OrbNetDownloadPrivate::Start(this, id, req, resume);
}
