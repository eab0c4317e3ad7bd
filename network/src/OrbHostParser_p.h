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

#include "OrbIPStatus.h"
#include "OrbNetRoute_p.h"
#include "OrbNetworkExport.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <list>
#include <map>
#include <string>
#include <vector>

class QTimer;
class IOrbDnsResolver;

// What a parser needs from its owner (the selector) and where it reports to. The parser
// knows nothing else of the selector, so the selector's own header stays out of it.
class IOrbHostParserOwner {
public:
    virtual ~IOrbHostParserOwner();
    virtual qint64 Now() const = 0;
    virtual IOrbDnsResolver* Resolver() const = 0;
    virtual int LookupTimeout() const = 0;
    virtual bool HasSystemProxy(const QString& scheme, const QString& host, int port) const = 0;
    virtual OrbNetRouteStatus* Socks5Route() = 0;
    virtual void SendProbe(OrbNetReqStatus* status, std::function<void(OrbNetReqStatus*)> callback) = 0;
    // The request `id` is bound to `route`: send it there.
    virtual void RouteChosen(const OrbNetRouteStatus* route, int id) = 0;
    // The probe request `id` is answered with the host's current routes.
    virtual void ProbeAnswered(int id, std::list<OrbIPStatus> routes) = 0;
};

// Resolution, routes and probe passes of one host and port.
class OrbHostParser : public QObject {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 60000;
    static constexpr int kMaxAddressesPerLookup = 3;

    OrbHostParser(IOrbHostParserOwner* owner, const QString& scheme, const QString& host, int port,
                  QObject* parent = nullptr);
    ~OrbHostParser() override;

    void Start();
    OrbNetReqStatus* DispatchHttp(ProxyMode mode, int id);
    OrbNetRouteStatus* SelectRoute(ProxyMode mode, OrbNetReqStatus* status);
    void ProbeAllRoutes();
    void ProbeFinished(OrbNetReqStatus* status);
    void PruneRoutes();
    void AddAddress(const std::string& ip, OrbAddressSource source);
    void LookupFinished(int generation, int index, bool ok, const QStringList& addresses);
    bool PassRunning() const { return m_probesDone < m_probesSent; }
    void AddPendingProbe(int id) { m_pendingProbes.push_back(id); }
    void AnswerProbes();

    std::vector<OrbNetRouteStatus*> Routes() const;  // walk order: ip string, then type
    std::list<OrbIPStatus> RouteList() const;        // routes not excluded
    OrbNetRouteStatus* Route(const std::string& ip, OrbRouteType type) const;

    bool IsReady() const { return m_ready; }
    bool SystemProxy() const { return m_systemProxy; }
    OrbNetRouteStatus* SelectedRoute() const { return m_selectedRoute; }
    QString Scheme() const { return m_scheme; }
    QString Host() const { return m_host; }
    int Port() const { return m_port; }
    int PendingRequests() const { return int(m_pending.size()); }

    // Process-wide fallback for hosts no lookup could resolve.
    static std::string FallbackAddress(const std::string& host);

public slots:
    void onUpdate();

private:
    void startLookups();

    IOrbHostParserOwner* m_owner;
    QString m_scheme;
    QString m_host;
    int m_port;
    bool m_ready = false;
    bool m_systemProxy = false;
    bool m_literal = false;
    int m_lookupCount = 2;
    int m_finishedLookups = 0;
    int m_generation = 0;
    bool m_reported[2] = {false, false};
    int m_probesSent = 0;
    int m_probesDone = 0;
    int m_pass = 0;
    OrbNetRouteStatus* m_selectedRoute = nullptr;
    std::map<std::string, std::map<OrbRouteType, OrbNetRouteStatus*>> m_addresses;
    std::list<std::pair<ProxyMode, OrbNetReqStatus*>> m_pending;
    std::list<int> m_pendingProbes;
    QTimer* m_refresh = nullptr;
};
