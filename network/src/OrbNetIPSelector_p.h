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
// Address selection: per host and port a parser resolves the host, keeps routes
// (address x direct/system proxy), probes and scores them, and binds each request
// to the best route its proxy mode allows. Everything here runs on the worker thread.

#include "OrbHostParser_p.h"
#include "OrbIPStatus.h"
#include "OrbNetConfig.h"
#include "OrbNetDefine.h"
#include "OrbNetRoute_p.h"
#include "OrbNetworkExport.h"

#include <QObject>
#include <QString>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>

class IOrbDnsResolver;
class OrbNetRequest;

// What the selector needs from the engine; the engine implements it, tests fake it.
class IOrbSelectorEngine {
public:
    virtual ~IOrbSelectorEngine();
    virtual int NextId() = 0;
    // The settings probes are built from (TLS verification, proxy endpoint), so that a
    // probe reaches a route exactly the way the engine's requests do.
    virtual OrbNetConfig ProbeConfig() const = 0;
    virtual void ProcessHttp(ProxyMode mode, const std::string& ip, int id, int failed) = 0;
    // Submits a probe request under id; done runs on the worker thread once it has finished.
    virtual void SubmitProbe(int id, const OrbNetRequest& request, std::function<void()> done) = 0;
    virtual void ProbeDone(int id, std::list<OrbIPStatus> list) = 0;
};

class OrbNetIPSelector : public QObject, public IOrbHostParserOwner {
    Q_OBJECT
public:
    static constexpr int kProbeWindowMs = 300000;
    static constexpr int kRequestWindowMs = 60000;
    static constexpr int kFailedProbeLatency = OrbNetRouteStatus::kFailedProbeLatency;

    OrbNetIPSelector(IOrbSelectorEngine* engine, std::shared_ptr<IOrbDnsResolver> resolver, int lookupTimeoutMs,
                     QObject* parent = nullptr);
    ~OrbNetIPSelector() override;

    void ReportData(int id);
    void ReportError(int id, int code);
    bool ReportFinished(int id);

    // IOrbHostParserOwner: what the parsers are handed and what they report.
    void SendProbe(OrbNetReqStatus* status, std::function<void(OrbNetReqStatus*)> callback) override;
    void RouteChosen(const OrbNetRouteStatus* route, int id) override;
    void ProbeAnswered(int id, std::list<OrbIPStatus> routes) override;
    void CountOutcome(OrbNetRouteStatus* route, OrbNetReqStatus* status, bool success);
    void ReleaseStatus(OrbNetReqStatus* status);

    OrbHostParser* Parser(const QString& host, int port) const;
    OrbNetRouteStatus* Socks5Route() override { return &m_socks; }
    IOrbDnsResolver* Resolver() const override { return m_resolver.get(); }
    int LookupTimeout() const override { return m_lookupTimeout; }
    bool HasRouting(int id) const { return m_routing.count(id) != 0; }

    qint64 Now() const override { return m_clock(); }
    // Seams for tests: a clock in milliseconds and the system-proxy question.
    void SetClock(std::function<qint64()> clock) { m_clock = std::move(clock); }
    void SetSystemProxyProbe(std::function<bool(const QString& scheme, const QString& host, int port)> probe)
    {
        m_systemProxy = std::move(probe);
    }
    bool HasSystemProxy(const QString& scheme, const QString& host, int port) const override;

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
