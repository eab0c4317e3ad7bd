// Downloads one URL into one file through OrbNetwork and exits 0 on success. Timed from
// outside (run.sh) exactly like curl, so both are measured the same way. With a SHA-256
// and a size the download is verified as the launcher verifies its packages.
#include "OrbNetDownload.h"
#include "OrbNetDownloadReq.h"
#include "OrbNetwork.h"

#include <QCoreApplication>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3 && argc != 5) {
        std::fprintf(stderr, "usage: %s <url> <file> [<sha256 hex> <size in bytes>]\n", argv[0]);
        return 2;
    }
    // Loopback only: both resolvers point at this machine.
    DefaultNetConfig.SetResolvers("127.0.0.1", "127.0.0.1").SetLookupTimeout(1000);
    OrbNetwork net;
    net.Init(DefaultNetConfig);

    std::mutex lock;
    std::condition_variable cv;
    bool done = false;
    int error = -1;
    long long last = 0;
    OrbNetDownloadReq req(argv[1], argv[2], DefaultNetConfig);
    if (argc == 5)
        req.SetExpectedSha256(argv[3]).SetExpectedSize(std::stoll(argv[4]));
    auto dl = net.Download(req, false);
    if (!dl->Async(
            [&](const std::shared_ptr<OrbNetDownload>& d) {
                std::lock_guard<std::mutex> l(lock);
                error = d->Error();
                done = true;
                cv.notify_all();
            },
            [&](const std::shared_ptr<OrbNetDownload>&, long long offset, long long) { last = offset; })) {
        std::fprintf(stderr, "download did not start: %d\n", int(dl->Error()));
        return 1;
    }
    std::unique_lock<std::mutex> l(lock);
    cv.wait(l, [&] { return done; });
    if (error != 0) {
        std::fprintf(stderr, "download failed: %d after %lld bytes\n", error, last);
        return 1;
    }
    return 0;
}
