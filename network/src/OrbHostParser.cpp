#include "OrbHostParser_p.h"

#include "OrbDnsResolver.h"

#include <QHostAddress>
#include <QPointer>
#include <QTimer>

IOrbHostParserOwner::~IOrbHostParserOwner() = default;

OrbHostParser::OrbHostParser(IOrbHostParserOwner* owner, const QString& scheme, const QString& host, int port,
                             QObject* parent)
    : QObject(parent), m_owner(owner), m_scheme(scheme), m_host(host), m_port(port)
{
}

std::string OrbHostParser::FallbackAddress(const std::string& host)
{
    static const std::map<std::string, std::string> table{{"any", "127.0.0.1"}};
    auto it = table.find(host);
    return it != table.end() ? it->second : table.at("any");
}

OrbHostParser::~OrbHostParser()
{
    // Pending statuses belong to the selector's routing data, released by the selector.
    for (auto& a : m_addresses)
        for (auto& t : a.second)
            delete t.second;
}

void OrbHostParser::Start()
{
    m_systemProxy = m_owner->HasSystemProxy(m_scheme, m_host, m_port);
    QHostAddress literal;
    m_literal = literal.setAddress(m_host) && literal.protocol() == QAbstractSocket::IPv4Protocol;
    m_refresh = new QTimer(this);
    m_refresh->setInterval(kRefreshMs);
    connect(m_refresh, &QTimer::timeout, this, &OrbHostParser::onUpdate);
    m_refresh->start();
    startLookups();
}

void OrbHostParser::onUpdate() { startLookups(); }

void OrbHostParser::startLookups()
{
    if (m_literal) {
        // An IPv4 literal is its own single address: nothing to look up.
        AddAddress(QHostAddress(m_host).toString().toStdString(), OrbSourceSystem);
        ProbeAllRoutes();
        return;
    }
    const int gen = ++m_generation;
    m_finishedLookups = 0;
    m_reported[0] = m_reported[1] = false;
    IOrbDnsResolver* resolver = m_owner->Resolver();
    for (int i = 0; i < m_lookupCount; ++i) {
        // A resolver that never answers must not hold the host's first requests for long.
        QTimer::singleShot(m_owner->LookupTimeout(), this,
                           [this, gen, i] { LookupFinished(gen, i, false, QStringList()); });
        if (!resolver) {
            LookupFinished(gen, i, false, QStringList());
            continue;
        }
        QPointer<OrbHostParser> self(this);
        resolver->Lookup(m_host, i, this, [self, gen, i](bool ok, const QStringList& addrs) {
            if (self)
                self->LookupFinished(gen, i, ok, addrs);
        });
    }
}

void OrbHostParser::LookupFinished(int generation, int index, bool ok, const QStringList& addresses)
{
    if (generation != m_generation || index < 0 || index > 1 || m_reported[index])
        return;
    m_reported[index] = true;
    if (ok) {
        int taken = 0;
        for (const QString& a : addresses) {
            QHostAddress addr;
            if (!addr.setAddress(a) || addr.protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            AddAddress(addr.toString().toStdString(), index == 0 ? OrbSourceSystem : OrbSourcePublic);
            if (++taken == kMaxAddressesPerLookup)
                break;
        }
    }
    if (++m_finishedLookups == m_lookupCount) {
        if (m_addresses.empty())
            AddAddress(FallbackAddress(m_host.toStdString()), OrbSourceSystem);
        ProbeAllRoutes();
    }
}

void OrbHostParser::AddAddress(const std::string& ip, OrbAddressSource source)
{
    if (m_addresses.count(ip))
        return;
    auto& types = m_addresses[ip];
    const qint64 now = m_owner->Now();
    auto make = [&](OrbRouteType type) {
        auto* r = new OrbNetRouteStatus;
        r->ip = ip;
        r->type = type;
        r->source = source;
        r->parser = this;
        r->lastUpdate = now;
        types[type] = r;
    };
    make(OrbRouteDirect);
    if (m_systemProxy)
        make(OrbRouteSystemProxy);
}

std::vector<OrbNetRouteStatus*> OrbHostParser::Routes() const
{
    std::vector<OrbNetRouteStatus*> out;
    for (const auto& a : m_addresses)
        for (const auto& t : a.second)
            out.push_back(t.second);
    return out;
}

OrbNetRouteStatus* OrbHostParser::Route(const std::string& ip, OrbRouteType type) const
{
    auto a = m_addresses.find(ip);
    if (a == m_addresses.end())
        return nullptr;
    auto t = a->second.find(type);
    return t == a->second.end() ? nullptr : t->second;
}

std::list<OrbIPStatus> OrbHostParser::RouteList() const
{
    std::list<OrbIPStatus> out;
    for (OrbNetRouteStatus* r : Routes()) {
        if (r->excluded)
            continue;
        OrbIPStatus s;
        s.ip = r->ip;
        s.source = r->source;
        s.mode = RouteProxyMode(r->type);
        s.reachable = r->probeOk;
        s.selected = r->selected;
        s.latency = r->lastProbeLatency;
        out.push_back(s);
    }
    return out;
}

void OrbHostParser::ProbeAllRoutes()
{
    std::vector<OrbNetRouteStatus*> targets;
    for (OrbNetRouteStatus* r : Routes())
        if (!r->excluded)
            targets.push_back(r);
    m_probesSent = int(targets.size());
    m_probesDone = 0;
    const int pass = ++m_pass;
    for (OrbNetRouteStatus* r : targets) {
        auto* s = new OrbNetReqStatus;
        s->kind = OrbAttemptProbe;
        s->route = r;
        s->start = m_owner->Now();
        s->listed = true;
        r->probeRecords.push_back(s);
        QPointer<OrbHostParser> self(this);
        m_owner->SendProbe(s, [self, pass](OrbNetReqStatus* st) {
            // A result of an earlier, overlapped pass still counts in the route's
            // statistics (the selector did that) but not towards this pass's end.
            if (self && pass == self->m_pass)
                self->ProbeFinished(st);
        });
    }
}

void OrbHostParser::AnswerProbes()
{
    const std::list<int> ids = std::move(m_pendingProbes);
    m_pendingProbes.clear();
    for (int id : ids)
        m_owner->ProbeAnswered(id, RouteList());
}

void OrbHostParser::ProbeFinished(OrbNetReqStatus*)
{
    if (++m_probesDone != m_probesSent)
        return;
    PruneRoutes();
    AnswerProbes();
    if (!m_ready) {
        m_ready = true;
        const auto pending = std::move(m_pending);
        m_pending.clear();
        for (const auto& p : pending) {
            OrbNetRouteStatus* route = SelectRoute(p.first, p.second);
            m_owner->RouteChosen(route, p.second->id);
        }
    }
}

void OrbHostParser::PruneRoutes()
{
    std::vector<OrbNetRouteStatus*> live;
    bool anyOk = false;
    for (OrbNetRouteStatus* r : Routes()) {
        if (r->excluded)
            continue;
        live.push_back(r);
        anyOk = anyOk || r->probeOk || r->requestOk;
    }
    if (!anyOk || live.size() < 4)
        return;
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = i + 1; j < live.size(); ++j)
            if (OrbRouteBeats(*live[j], *live[i]))
                std::swap(live[i], live[j]);
    for (size_t i = 3; i < live.size(); ++i)
        live[i]->excluded = true;
}

OrbNetReqStatus* OrbHostParser::DispatchHttp(ProxyMode mode, int id)
{
    auto* s = new OrbNetReqStatus;
    s->kind = OrbAttemptRequest;
    s->id = id;
    if (m_ready) {
        OrbNetRouteStatus* route = SelectRoute(mode, s);
        m_owner->RouteChosen(route, id);
    } else {
        m_pending.emplace_back(mode, s);
    }
    return s;
}

OrbNetRouteStatus* OrbHostParser::SelectRoute(ProxyMode mode, OrbNetReqStatus* status)
{
    int effective = mode;
    if (effective == ProxySystem && !m_systemProxy)
        effective = ProxyDirect;
    if (effective == ProxySocks5)
        effective = ProxyAuto;
    if (effective < ProxyDirect || effective > ProxySocks5)
        effective = ProxyDirect;  // an invalid mode is routed like a direct request
    OrbNetRouteStatus* best = nullptr;
    for (OrbNetRouteStatus* r : Routes()) {
        if (!RouteMatches(r->type, effective))
            continue;
        if (!best || OrbRouteBeats(*r, *best))
            best = r;
    }
    if (!best) {
        // No route of the wanted kind (cannot happen with at least one address): use any.
        const auto all = Routes();
        if (all.empty())
            AddAddress(FallbackAddress(m_host.toStdString()), OrbSourceSystem);
        best = Routes().front();
    }
    OrbNetRouteStatus* chosen = best;
    if (mode == ProxySocks5) {
        chosen = m_owner->Socks5Route();
        chosen->ip = best->ip;
    } else if (best != m_selectedRoute) {
        if (m_selectedRoute)
            m_selectedRoute->selected = false;
        best->selected = true;
        m_selectedRoute = best;
    }
    status->route = chosen;
    status->start = m_owner->Now();
    status->listed = true;
    if (status->kind == OrbAttemptRequest)
        chosen->requestRecords.push_back(status);
    else
        chosen->probeRecords.push_back(status);
    return chosen;
}
