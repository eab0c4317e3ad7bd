#pragma once
// Address selection: per host and port a parser resolves the host, keeps routes
// (address x direct/system proxy), probes and scores them, and binds each request
// to the best route its proxy mode allows. Everything here runs on the worker thread.

#include "OrbIPStatus.h"
#include "OrbNetDefine.h"
#include "OrbNetworkExport.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>

class IOrbDnsResolver;
class OrbHostParser;
class OrbNetRequest;
struct OrbNetRouteStatus;

// One attempt of a request, or one probe. Owned by the route whose window lists it;
// while routing data still points at it, that holds it too.
struct ORBNETWORK_PRIVATE_EXPORT OrbNetReqStatus {
    int id = 0;
    OrbNetRouteStatus* route = nullptr;
    int kind = 1;  // 1 real request, 0 probe
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
struct ORBNETWORK_PRIVATE_EXPORT HttpInfoForSelector {
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
struct ORBNETWORK_PRIVATE_EXPORT OrbNetRouteStatus {
    std::string ip;
    int type = 1;    // 1 direct, 2 system proxy, 4 SOCKS5
    int source = 0;  // 0 system resolver or fallback, 1 public resolver
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
ORBNETWORK_PRIVATE_EXPORT bool OrbRouteBeats(const OrbNetRouteStatus& b, const OrbNetRouteStatus& a);

// What the selector needs from the engine; the engine implements it, tests fake it.
class ORBNETWORK_PRIVATE_EXPORT IOrbSelectorEngine {
public:
    virtual ~IOrbSelectorEngine();
    virtual int NextId() = 0;
    virtual void ProcessHttp(ProxyMode mode, const std::string& ip, int id, int failed) = 0;
    // Submits a probe request under id; done runs on the worker thread once it has finished.
    virtual void SubmitProbe(int id, const OrbNetRequest& request, std::function<void()> done) = 0;
    virtual void ProbeDone(int id, std::list<OrbIPStatus> list) = 0;
};

class ORBNETWORK_PRIVATE_EXPORT OrbNetIPSelector : public QObject {
    Q_OBJECT
public:
    static constexpr int kProbeWindowMs = 300000;
    static constexpr int kRequestWindowMs = 60000;
    static constexpr int kFailedProbeLatency = 2000;

    OrbNetIPSelector(IOrbSelectorEngine* engine, std::shared_ptr<IOrbDnsResolver> resolver, int lookupTimeoutMs,
                     QObject* parent = nullptr);
    ~OrbNetIPSelector() override;

    void ReportData(int id);
    void ReportError(int id, int code);
    bool ReportFinished(int id);

    void SendProbe(OrbNetReqStatus* status, std::function<void(OrbNetReqStatus*)> callback);
    void CountOutcome(OrbNetRouteStatus* route, OrbNetReqStatus* status, bool success);
    void ReleaseStatus(OrbNetReqStatus* status);

    OrbHostParser* Parser(const QString& host, int port) const;
    OrbNetRouteStatus* Socks5Route() { return &m_socks; }
    IOrbSelectorEngine* Engine() const { return m_engine; }
    IOrbDnsResolver* Resolver() const { return m_resolver.get(); }
    int LookupTimeout() const { return m_lookupTimeout; }
    bool HasRouting(int id) const { return m_routing.count(id) != 0; }

    qint64 Now() const { return m_clock(); }
    // Seams for tests: a clock in milliseconds and the system-proxy question.
    void SetClock(std::function<qint64()> clock) { m_clock = std::move(clock); }
    void SetSystemProxyProbe(std::function<bool(const QString& scheme, const QString& host, int port)> probe)
    {
        m_systemProxy = std::move(probe);
    }
    bool HasSystemProxy(const QString& scheme, const QString& host, int port) const;

    // Process-wide fallback for hosts no lookup could resolve.
    static std::string FallbackAddress(const std::string& host);

public slots:
    void onProbe(QString scheme, QString hostname, int port, int id);
    void onHttpDo(HttpInfoForSelector info);

private:
    OrbHostParser* parserFor(const QString& scheme, const QString& host, int port);
    void expire(OrbNetRouteStatus* route, qint64 now);

    IOrbSelectorEngine* m_engine;
    std::shared_ptr<IOrbDnsResolver> m_resolver;
    int m_lookupTimeout;
    std::map<QString, OrbHostParser*> m_parsers;
    std::map<int, HttpInfoForSelector> m_routing;
    OrbNetRouteStatus m_socks;  // SOCKS5 route shared by all hosts of this engine
    std::function<qint64()> m_clock;
    std::function<bool(const QString&, const QString&, int)> m_systemProxy;
};
