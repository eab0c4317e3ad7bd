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
#include <list>
#include <map>
#include <string>
#include <vector>

class QTimer;
class OrbNetIPSelector;

// Resolution, routes and probe passes of one host and port.
class ORBNETWORK_PRIVATE_EXPORT OrbHostParser : public QObject {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 60000;
    static constexpr int kMaxAddressesPerLookup = 3;

    OrbHostParser(OrbNetIPSelector* selector, const QString& scheme, const QString& host, int port);
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

public slots:
    void onUpdate();

private:
    void startLookups();

    OrbNetIPSelector* m_selector;
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
