// Overhead of the engine over the transport it wraps: the same small GETs against the same
// loopback server, one after another and all at once, through OrbNetwork or through a bare
// QNetworkAccessManager. One side per process, so that run.sh can measure each side's wall
// time, CPU and peak memory on its own and alternate the order over rounds:
//   bench_network serve                 loopback server; prints "PORT <n>", runs until killed
//   bench_network orb|bare <url> <n>    n sequential then n concurrent GETs; prints "<seq_ms> <conc_ms>"
#include "OrbNetwork.h"
#include "TestHttpServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <cstdio>
#include <algorithm>
#include <cstring>
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

int serve(QCoreApplication& app)
{
    orbtest::TestHttpServer srv;
    if (!srv.start([](const orbtest::HttpRequest&) {
            orbtest::HttpReply r;
            r.body = QByteArray(256, 'b');
            return r;
        })) {
        std::fprintf(stderr, "server failed to start\n");
        return 1;
    }
    std::printf("PORT %d\n", int(srv.port()));
    std::fflush(stdout);
    return app.exec();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    orbtest::clearProxyEnv();
    if (argc == 2 && std::strcmp(argv[1], "serve") == 0)
        return serve(app);
    if (argc != 4 || (std::strcmp(argv[1], "orb") != 0 && std::strcmp(argv[1], "bare") != 0)) {
        std::fprintf(stderr, "usage: %s serve | %s orb|bare <url> <n>\n", argv[0], argv[0]);
        return 2;
    }
    const QString url = QString::fromLocal8Bit(argv[2]);
    const int n = std::max(1, std::atoi(argv[3]));
    qint64 seq = 0, conc = 0;
    if (std::strcmp(argv[1], "orb") == 0) {
        OrbNetConfig cfg;
        cfg.SetResolvers("127.0.0.1", "127.0.0.1").SetUserAgent("OrbBench").SetTimeout(10);
        OrbNetwork net;
        net.Init(cfg);
        orbSequential(net, url.toStdString(), 20);  // connection set-up and the host's first probe pass
        seq = orbSequential(net, url.toStdString(), n);
        conc = orbBatch(net, url.toStdString(), n);
    } else {
        QNetworkAccessManager nam;
        nam.setProxy(QNetworkProxy::NoProxy);
        bareSequential(nam, url, 20);
        seq = bareSequential(nam, url, n);
        conc = bareBatch(nam, url, n);
    }
    std::printf("%lld %lld\n", (long long)seq, (long long)conc);
    return 0;
}
