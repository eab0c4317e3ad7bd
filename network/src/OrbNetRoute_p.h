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
// Records of routing: one attempt of a request or probe, the routing order the engine
// hands to the selector, and one route (address reached one way) with its statistics.

#include "OrbNetDefine.h"
#include "OrbNetworkExport.h"

#include <QMetaType>
#include <QString>
#include <list>
#include <string>

class OrbHostParser;
struct OrbNetRouteStatus;

// How a route reaches its address. The values are bits that a ProxyMode shares with the
// routes it may use (ProxyAuto = direct | system proxy).
enum OrbRouteType : int {
    OrbRouteDirect = ProxyDirect,
    OrbRouteSystemProxy = ProxySystem,
    OrbRouteSocks5 = ProxySocks5,
};

// Where an address was learnt.
enum OrbAddressSource : int {
    OrbSourceSystem = 0,  // the system resolver, or the fallback table
    OrbSourcePublic = 1,  // the fixed public resolver
};

enum OrbAttemptKind : int {
    OrbAttemptProbe = 0,
    OrbAttemptRequest = 1,
};

inline ProxyMode RouteProxyMode(OrbRouteType type) { return ProxyMode(int(type)); }
// Whether a route of this type may carry a request routed with `mode`.
inline bool RouteMatches(OrbRouteType type, int mode) { return (int(type) & mode) != 0; }

// One attempt of a request, or one probe. Owned by the route whose window lists it;
// while routing data still points at it, that holds it too.
struct OrbNetReqStatus {
    int id = 0;
    OrbNetRouteStatus* route = nullptr;
    OrbAttemptKind kind = OrbAttemptRequest;
    bool finished = false;
    bool closed = false;
    bool measured = false;
    int error = 0;
    qint64 start = 0;
    qint64 end = 0;
    // ownership bookkeeping
    bool listed = false;
    bool routed = false;
};

// The routing order of one request, sent from the engine to the selector.
struct HttpInfoForSelector {
    ProxyMode mode = ProxyAuto;
    int port = 0;
    int id = 0;
    int retry = 0;
    QString scheme;
    QString host;
    OrbNetReqStatus* status = nullptr;
};
Q_DECLARE_METATYPE(HttpInfoForSelector)

// One address reached one way.
struct OrbNetRouteStatus {
    static constexpr int kFailedProbeLatency = 2000;

    std::string ip;
    OrbRouteType type = OrbRouteDirect;
    OrbAddressSource source = OrbSourceSystem;
    OrbHostParser* parser = nullptr;
    bool excluded = false;
    bool selected = false;
    bool probeOk = false;
    bool requestOk = false;
    qint64 lastUpdate = 0;
    int probeLatencySum = 0;
    int probeSamples = 0;
    int lastProbeLatency = 0;
    std::list<OrbNetReqStatus*> probeRecords;
    int requestFailures = 0;
    int requestSamples = 0;
    std::list<OrbNetReqStatus*> requestRecords;
    int probeFailuresTotal = 0;
    int probeSamplesTotal = 0;
    int requestFailuresTotal = 0;
    int requestSamplesTotal = 0;

    OrbNetRouteStatus() = default;
    OrbNetRouteStatus(const OrbNetRouteStatus&) = delete;
    OrbNetRouteStatus& operator=(const OrbNetRouteStatus&) = delete;
    ~OrbNetRouteStatus();

    int Score() const;
    int AverageProbeLatency() const;
};

// True when route b beats route a.
bool OrbRouteBeats(const OrbNetRouteStatus& b, const OrbNetRouteStatus& a);
