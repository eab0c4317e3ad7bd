// Runs one install job and kills itself (SIGKILL) at the n-th step whose name starts
// with the given prefix, so the test sees what a killed update leaves behind.
// Usage: orbdeliveryjobchild FOLDER BASE_URL VERSION GAME PUBLIC_KEY_FILE STEP_PREFIX N
#include "OrbDeliveryJob.h"
#include "OrbNetwork.h"

#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 8)
        return 2;
    DefaultNetConfig.SetResolvers("127.0.0.1", "127.0.0.1").SetLookupTimeout(1000);
    OrbNetwork network;
    network.Init(DefaultNetConfig);

    QFile key(args[5]);
    if (!key.open(QIODevice::ReadOnly))
        return 2;
    OrbDeliveryOptions options;
    options.folder = args[1];
    options.baseUrls = {args[2]};
    options.version = args[3];
    options.game = args[4];
    options.publicKeyPem = key.readAll().toStdString();
    options.connections = 1;  // the same order of steps on every run
    const QString prefix = args[6];
    int left = args[7].toInt();
    options.stepHook = [prefix, left](const QString& step) mutable {
        if (step.startsWith(prefix) && --left == 0)
            std::raise(SIGKILL);
    };

    OrbDeliveryJob job(&network);
    int rc = 1;
    QObject::connect(&job, &OrbDeliveryJob::finished, &app, [&rc, &app](bool ok, const QString& reason) {
        std::fprintf(stderr, "finished %d %s\n", int(ok), qPrintable(reason));
        rc = ok ? 0 : 1;
        app.quit();
    });
    if (!job.Install(options))
        return 3;
    app.exec();
    return rc;
}
