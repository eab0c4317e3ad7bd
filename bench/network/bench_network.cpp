// Overhead of the engine over the transport it wraps: the same N small GETs against the
// same loopback server, one after another and all at once, through OrbNetwork and
// through a bare QNetworkAccessManager. Prints both times and the ratio.
#include "OrbNetwork.h"
#include "TestHttpServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

qint64 bareSequential(QNetworkAccessManager& nam, const QString& url, int n)
{
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < n; ++i) {
        std::unique_ptr<QNetworkReply> r(nam.get(QNetworkRequest(QUrl(url))));
        QEventLoop loop;
        QObject::connect(r.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        if (r->error() != QNetworkReply::NoError || r->readAll().isEmpty())
            std::fprintf(stderr, "bare request failed\n");
    }
    return t.elapsed();
}

qint64 bareBatch(QNetworkAccessManager& nam, const QString& url, int n)
{
    QElapsedTimer t;
    t.start();
    int left = n;
    QEventLoop loop;
    std::vector<QNetworkReply*> rs;
    for (int i = 0; i < n; ++i) {
        QNetworkReply* r = nam.get(QNetworkRequest(QUrl(url)));
        QObject::connect(r, &QNetworkReply::finished, &loop, [&] {
            if (--left == 0)
                loop.quit();
        });
        rs.push_back(r);
    }
    loop.exec();
    for (auto* r : rs)
        delete r;
    return t.elapsed();
}

qint64 orbSequential(OrbNetwork& net, const std::string& url, int n)
{
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < n; ++i) {
        auto r = net.Get(url);
        if (!r->Sync(nullptr) || r->GetBodyLen() == 0)
            std::fprintf(stderr, "engine request failed: %d\n", int(r->Error()));
    }
    return t.elapsed();
}

qint64 orbBatch(OrbNetwork& net, const std::string& url, int n)
{
    QElapsedTimer t;
    t.start();
    std::vector<std::shared_ptr<OrbNetResponse>> rs;
    rs.reserve(n);
    for (int i = 0; i < n; ++i)
        rs.push_back(net.Get(url));
    for (auto& r : rs)
        r->Sync(nullptr);
    return t.elapsed();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    orbtest::clearProxyEnv();
    const int n = argc > 1 ? std::atoi(argv[1]) : 5000;
    orbtest::TestHttpServer srv;
    if (!srv.start([](const orbtest::HttpRequest&) {
            orbtest::HttpReply r;
            r.body = QByteArray(256, 'b');
            return r;
        })) {
        std::fprintf(stderr, "server failed to start\n");
        return 1;
    }
    const QString url = srv.url("/small");

    OrbNetConfig cfg;
    cfg.SetResolvers("127.0.0.1", "127.0.0.1").SetUserAgent("OrbBench").SetTimeout(10);
    OrbNetwork net;
    net.Init(cfg);
    QNetworkAccessManager nam;
    nam.setProxy(QNetworkProxy::NoProxy);

    // Warm both: connection set-up, and the engine's first probe pass for the host.
    bareSequential(nam, url, 20);
    orbSequential(net, url.toStdString(), 20);

    // Alternate the two sides in rounds and keep each side's best round, so load from
    // other processes on the machine disturbs the comparison as little as possible.
    const int rounds = 5;
    const int per = qMax(1, n / rounds);
    qint64 bs = -1, os = -1, bb = -1, ob = -1;
    auto best = [](qint64& slot, qint64 v) { slot = slot < 0 ? v : qMin(slot, v); };
    for (int i = 0; i < rounds; ++i) {
        best(bs, bareSequential(nam, url, per));
        best(os, orbSequential(net, url.toStdString(), per));
        best(bb, bareBatch(nam, url, per));
        best(ob, orbBatch(net, url.toStdString(), per));
    }
    auto ratio = [](qint64 a, qint64 b) { return b > 0 ? double(a) / double(b) : 0.0; };
    std::printf("%d small GETs per round, best of %d rounds, loopback\n", per, rounds);
    std::printf("sequential: OrbNetwork %lld ms, QNetworkAccessManager %lld ms, ratio %.2f\n", (long long)os,
                (long long)bs, ratio(os, bs));
    std::printf("concurrent: OrbNetwork %lld ms, QNetworkAccessManager %lld ms, ratio %.2f\n", (long long)ob,
                (long long)bb, ratio(ob, bb));
    return 0;
}
