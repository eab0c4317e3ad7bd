#include "OrbNetIPSelector_p.h"

#include "OrbDnsResolver.h"
#include "OrbHostParser_p.h"
#include "OrbNetRequest.h"

#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QUrl>
#include <QtDebug>
#include <chrono>

IOrbSelectorEngine::~IOrbSelectorEngine() = default;

OrbNetRouteStatus::~OrbNetRouteStatus()
{
    for (auto* s : probeRecords)
        delete s;
    for (auto* s : requestRecords)
        delete s;
}

int OrbNetRouteStatus::Score() const
{
    const int rate = requestSamples ? requestFailures * 10000 / requestSamples : 0;
    if (rate >= 2000)
        return 0;
    const int samples = probeSamplesTotal + requestSamplesTotal;
    const int q = samples ? (probeFailuresTotal + requestFailuresTotal) * 10000 / samples : 0;
    return 10000 - q;
}

int OrbNetRouteStatus::AverageProbeLatency() const
{
    return probeSamples ? probeLatencySum / probeSamples : kFailedProbeLatency;
}

bool OrbRouteBeats(const OrbNetRouteStatus& b, const OrbNetRouteStatus& a)
{
    if (a.excluded)
        return !b.excluded;
    if (b.excluded)
        return false;
    const bool bKeeps = b.selected && b.requestOk;
    const bool aKeeps = a.selected && a.requestOk;
    if (bKeeps && !aKeeps)
        return true;
    if (aKeeps && !bKeeps)
        return false;
    const int sa = a.Score(), sb = b.Score();
    if (sa != sb)
        return sb > sa;
    if (a.requestFailuresTotal != b.requestFailuresTotal)
        return b.requestFailuresTotal < a.requestFailuresTotal;
    return b.AverageProbeLatency() <= a.AverageProbeLatency();
}

static qint64 steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

OrbNetIPSelector::OrbNetIPSelector(IOrbSelectorEngine* engine, std::shared_ptr<IOrbDnsResolver> resolver,
                                   int lookupTimeoutMs, QObject* parent)
    : QObject(parent), m_engine(engine), m_resolver(std::move(resolver)), m_lookupTimeout(lookupTimeoutMs),
      m_clock(steadyMs)
{
    m_socks.type = OrbRouteSocks5;
}

OrbNetIPSelector::~OrbNetIPSelector()
{
    // Statuses held only by routing data (closed records already dropped from a window).
    for (auto& r : m_routing) {
        if (OrbNetReqStatus* s = r.second.status) {
            s->routed = false;
            ReleaseStatus(s);
        }
    }
    m_routing.clear();
    // Parsers own their routes; delete them before the SOCKS5 route goes.
    for (auto& p : m_parsers)
        delete p.second;
    m_parsers.clear();
}

void OrbNetIPSelector::RouteChosen(const OrbNetRouteStatus* route, int id)
{
    m_engine->ProcessHttp(RouteProxyMode(route->type), route->ip, id, 0);
}

void OrbNetIPSelector::ProbeAnswered(int id, std::list<OrbIPStatus> routes) { m_engine->ProbeDone(id, std::move(routes)); }

bool OrbNetIPSelector::HasSystemProxy(const QString& scheme, const QString& host, int port) const
{
    if (m_systemProxy)
        return m_systemProxy(scheme, host, port);
    QUrl url;
    url.setScheme(scheme.isEmpty() ? QStringLiteral("https") : scheme);
    url.setHost(host);
    const QList<QNetworkProxy> list =
        QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(url, QNetworkProxyQuery::UrlRequest));
    for (const auto& p : list)
        if (p.type() != QNetworkProxy::NoProxy)
            return true;
    return false;
}

OrbHostParser* OrbNetIPSelector::Parser(const QString& host, int port) const
{
    auto it = m_parsers.find(host + QLatin1Char(':') + QString::number(port));
    return it == m_parsers.end() ? nullptr : it->second;
}

OrbHostParser* OrbNetIPSelector::parserFor(const QString& scheme, const QString& host, int port)
{
    const QString key = host + QLatin1Char(':') + QString::number(port);
    auto it = m_parsers.find(key);
    if (it != m_parsers.end())
        return it->second;
    auto* parser = new OrbHostParser(this, scheme, host, port, this);
    m_parsers.emplace(key, parser);
    parser->Start();
    return parser;
}

void OrbNetIPSelector::onHttpDo(HttpInfoForSelector info)
{
    auto known = m_routing.find(info.id);
    if (known != m_routing.end()) {
        // One of our own probes: it goes exactly the way of the route it measures.
        OrbNetRouteStatus* route = known->second.status ? known->second.status->route : nullptr;
        if (route)
            m_engine->ProcessHttp(RouteProxyMode(route->type), route->ip, info.id, 0);
        else
            m_engine->ProcessHttp(ProxyDirect, std::string(), info.id, 0);
        return;
    }
    OrbHostParser* parser = parserFor(info.scheme, info.host, info.port);
    info.status = nullptr;
    const int id = info.id;
    m_routing[id] = info;
    OrbNetReqStatus* status = parser->DispatchHttp(info.mode, id);
    auto it = m_routing.find(id);
    if (it != m_routing.end()) {
        it->second.status = status;
        status->routed = true;
    } else {
        ReleaseStatus(status);
    }
}

void OrbNetIPSelector::onProbe(QString scheme, QString hostname, int port, int id)
{
    OrbHostParser* parser = parserFor(scheme, hostname, port);
    if (!parser->IsReady()) {
        parser->AddPendingProbe(id);
        return;
    }
    if (parser->PassRunning()) {
        parser->AddPendingProbe(id);
        return;
    }
    parser->AddPendingProbe(id);
    parser->ProbeAllRoutes();
    if (!parser->PassRunning())
        parser->AnswerProbes();
}

void OrbNetIPSelector::SendProbe(OrbNetReqStatus* status, std::function<void(OrbNetReqStatus*)> callback)
{
    OrbHostParser* parser = status->route->parser;
    const int id = m_engine->NextId();
    status->id = id;
    HttpInfoForSelector info;
    info.mode = RouteProxyMode(status->route->type);
    info.id = id;
    info.retry = 0;
    info.scheme = parser->Scheme();
    info.host = parser->Host();
    info.port = parser->Port();
    info.status = status;
    status->routed = true;
    m_routing[id] = info;

    const OrbNetConfig config = m_engine->ProbeConfig();
    OrbNetRequest req(config);
    const QString scheme = parser->Scheme().isEmpty() ? QStringLiteral("https") : parser->Scheme();
    req.SetMethod(HttpOptions)
        .SetUserAgent("OrbClient_PC")
        .SetTimeout(2)
        .SetUrl((scheme + QStringLiteral("://") + parser->Host() + QLatin1Char(':') + QString::number(parser->Port()))
                    .toStdString(),
                false);
    std::string proxyHost;
    int proxyPort = 0;
    config.GetProxy(proxyHost, proxyPort);
    req.SetProxy(RouteProxyMode(status->route->type), proxyHost, proxyPort).SetRetryCount(0);
    m_engine->SubmitProbe(id, req, [callback, status] { callback(status); });
}

void OrbNetIPSelector::ReleaseStatus(OrbNetReqStatus* status)
{
    if (status && !status->listed && !status->routed)
        delete status;
}

void OrbNetIPSelector::expire(OrbNetRouteStatus* route, qint64 now)
{
    for (auto it = route->probeRecords.begin(); it != route->probeRecords.end();) {
        OrbNetReqStatus* s = *it;
        if (now - s->start < kProbeWindowMs)
            break;
        if (s->closed) {
            it = route->probeRecords.erase(it);
        } else if (s->finished) {
            route->probeSamples -= 1;
            route->probeLatencySum -= (s->error == 0 ? int(s->end - s->start) : kFailedProbeLatency);
            it = route->probeRecords.erase(it);
        } else {
            qDebug("[OrbNetwork]: probe have not been freed, id=%d", s->id);
            ++it;
            continue;
        }
        s->listed = false;
        ReleaseStatus(s);
    }
    for (auto it = route->requestRecords.begin(); it != route->requestRecords.end();) {
        OrbNetReqStatus* s = *it;
        if (now - s->start < kRequestWindowMs)
            break;
        if (s->closed) {
            it = route->requestRecords.erase(it);
        } else if (s->finished) {
            route->requestSamples -= 1;
            if (s->error != 0)
                route->requestFailures -= 1;
            it = route->requestRecords.erase(it);
        } else {
            qDebug("[OrbNetwork]: http have not been freed, id=%d", s->id);
            ++it;
            continue;
        }
        s->listed = false;
        ReleaseStatus(s);
    }
}

void OrbNetIPSelector::CountOutcome(OrbNetRouteStatus* route, OrbNetReqStatus* status, bool success)
{
    if (!route)
        return;
    const qint64 now = Now();
    route->lastUpdate = now;
    expire(route, now);
    if (status->closed)
        return;
    if (status->kind == OrbAttemptRequest) {
        if (!success) {
            route->requestFailuresTotal += 1;
            route->requestFailures += 1;
        }
        route->requestOk = success;
        route->requestSamples += 1;
        route->requestSamplesTotal += 1;
    } else {
        if (success) {
            const int latency = int(status->end - status->start);
            route->probeLatencySum += latency;
            route->lastProbeLatency = latency;
            route->probeOk = true;
        } else {
            route->probeFailuresTotal += 1;
            route->probeLatencySum += kFailedProbeLatency;
            route->lastProbeLatency = kFailedProbeLatency;
            route->probeOk = false;
        }
        route->probeSamples += 1;
        route->probeSamplesTotal += 1;
    }
}

void OrbNetIPSelector::ReportData(int id)
{
    auto it = m_routing.find(id);
    if (it == m_routing.end() || !it->second.status)
        return;
    OrbNetReqStatus* s = it->second.status;
    if (s->measured || s->error != 0)
        return;
    s->measured = true;
    s->end = Now();
    CountOutcome(s->route, s, true);
}

void OrbNetIPSelector::ReportError(int id, int code)
{
    auto it = m_routing.find(id);
    if (it == m_routing.end() || !it->second.status)
        return;
    OrbNetReqStatus* s = it->second.status;
    if (s->measured || s->closed)
        return;
    s->error = code;
    s->closed = code == NetClosed;
    s->end = Now();
    CountOutcome(s->route, s, false);
}

bool OrbNetIPSelector::ReportFinished(int id)
{
    auto it = m_routing.find(id);
    if (it == m_routing.end())
        return true;  // nothing to retry through: the engine completes the request
    OrbNetReqStatus* s = it->second.status;
    if (s && !s->measured && s->error == 0) {
        s->measured = true;
        s->end = Now();
        CountOutcome(s->route, s, true);
    }
    if (s)
        s->finished = true;
    HttpInfoForSelector& info = it->second;
    if (s && s->kind == OrbAttemptRequest && s->error != 0 && !s->closed && info.retry > 1) {
        OrbHostParser* parser = Parser(info.host, info.port);
        if (parser) {
            info.retry -= 1;
            const ProxyMode mode = info.mode;
            s->routed = false;
            info.status = nullptr;
            ReleaseStatus(s);
            OrbNetReqStatus* next = parser->DispatchHttp(mode, id);
            auto again = m_routing.find(id);
            if (again != m_routing.end()) {
                again->second.status = next;
                next->routed = true;
            } else {
                ReleaseStatus(next);
            }
            return false;
        }
    }
    if (s) {
        s->routed = false;
        ReleaseStatus(s);
    }
    m_routing.erase(it);
    return true;
}
