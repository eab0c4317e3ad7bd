// Downloads one URL into one file with resume, the way the launcher fetches the game
// package, and exits with the download's error code (0 on success). The kill test
// starts it again and again and SIGKILLs it at random points.
#include "OrbNetDownload.h"
#include "OrbNetwork.h"

#include <QCoreApplication>

#include <condition_variable>
#include <cstdio>
#include <mutex>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <url> <file>\n", argv[0]);
        return 2;
    }
    OrbNetConfig config;
    config.SetResolvers("127.0.0.1", "127.0.0.1").SetLookupTimeout(1000).SetTimeout(10);
    OrbNetwork net;
    net.Init(config);

    std::mutex lock;
    std::condition_variable cv;
    bool done = false;
    int error = -1;
    OrbNetDownloadReq req(argv[1], argv[2], config);
    auto dl = net.Download(req, true);
    const bool started = dl->Async(
        [&](const std::shared_ptr<OrbNetDownload>& d) {
            std::lock_guard<std::mutex> l(lock);
            error = d->Error();
            done = true;
            cv.notify_all();
        },
        nullptr);
    if (!started)
        return dl->IsFinish() && dl->Error() == 0 ? 0 : int(dl->Error()) & 0x7f;
    std::unique_lock<std::mutex> l(lock);
    cv.wait(l, [&] { return done; });
    return error == 0 ? 0 : (error & 0x7f) | 0x80;
}
