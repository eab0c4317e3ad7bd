#pragma once
// Network test helpers: engines that never send a DNS question off this machine.

#include "OrbNetwork.h"
#include "TestHttpServer.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>

#include <atomic>
#include <memory>

namespace orbtest {

// Both resolvers on loopback: a name lookup fails at once on this machine.
inline OrbNetConfig loopbackConfig()
{
    OrbNetConfig c;
    c.SetResolvers("127.0.0.1", "127.0.0.1").SetLookupTimeout(1000).SetUserAgent("OrbTest").SetTimeout(10);
    return c;
}

// Answers every lookup with a failure at once and counts the questions; nothing is sent.
class NoDns : public IOrbDnsResolver {
public:
    std::atomic<int> calls{0};
    void Lookup(const QString&, int, QObject*, Done done) override
    {
        ++calls;
        done(false, {});
    }
};

inline std::unique_ptr<OrbNetwork> makeEngine(const OrbNetConfig& c = loopbackConfig(),
                                              std::shared_ptr<IOrbDnsResolver> dns = std::make_shared<NoDns>())
{
    auto n = std::make_unique<OrbNetwork>();
    n->SetDnsResolver(std::move(dns));
    n->Init(c);
    return n;
}

// A plain 200 answer for probes, the handler's answer for everything else.
inline orbtest::HttpHandler withProbes(orbtest::HttpHandler h)
{
    return [h](const orbtest::HttpRequest& r) {
        if (r.method == "OPTIONS")
            return orbtest::HttpReply();
        return h(r);
    };
}

// Blocking GET on a loopback URL from the test thread, past any proxy; the body
// (and the HTTP status when asked for).
inline QByteArray httpGet(const QString& url, int* status = nullptr)
{
    QNetworkAccessManager nam;
    nam.setProxy(QNetworkProxy::NoProxy);
    QNetworkReply* reply = nam.get(QNetworkRequest(QUrl(url)));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    if (status)
        *status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

} // namespace orbtest
