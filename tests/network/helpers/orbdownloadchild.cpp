// Downloads one URL into one file with resume, the way the launcher fetches the game
// package, and exits with the download's error code (0 on success). The kill test
// starts it again and again and SIGKILLs it at random points.
#include "OrbNetDownload.h"
#include "OrbNetDownloadWatcher.h"
#include "OrbNetwork.h"

#include <QCoreApplication>

#include <cstdio>

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

    OrbNetDownloadReq req(argv[1], argv[2], config);
    auto dl = net.Download(req, true);
    const bool watched = OrbNetDownloadWatcher::Watch(dl, &app, [](const std::shared_ptr<OrbNetDownload>& d) {
        const int error = d->Error();
        QCoreApplication::exit(error == 0 ? 0 : (error & 0x7f) | 0x80);
    });
    if (!watched)
        return int(dl->Error()) & 0x7f;
    return app.exec();
}
