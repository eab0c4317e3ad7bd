// One delivery job as its own process, so its time and peak memory can be measured
// from outside (run.sh) exactly like the tools it is compared with.
//
//   bench_delivery install FOLDER BASE_URL VERSION GAME [PUBLIC.pem] [CONNECTIONS]
//   bench_delivery verify  FOLDER GAME [PUBLIC.pem]
//
// Prints one line of the job's statistics and exits 0 when the job succeeded (and,
// for verify, found nothing damaged or missing).
#include "OrbDeliveryJob.h"
#include "OrbNetwork.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace {

int usage(const char* self)
{
    std::fprintf(stderr,
                 "usage: %s install FOLDER BASE_URL VERSION GAME [PUBLIC.pem] [CONNECTIONS]\n"
                 "       %s verify FOLDER GAME [PUBLIC.pem]\n",
                 self, self);
    return 2;
}

bool readKey(const char* path, std::string& pem)
{
    if (!path || !*path)
        return true;
    QFile f(QString::fromLocal8Bit(path));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    pem = f.readAll().toStdString();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return usage(argv[0]);
    const bool install = std::strcmp(argv[1], "install") == 0;
    const bool verify = std::strcmp(argv[1], "verify") == 0;
    if ((install && (argc < 6 || argc > 8)) || (verify && (argc < 4 || argc > 5)) || (!install && !verify))
        return usage(argv[0]);

    OrbDeliveryOptions options;
    options.folder = QString::fromLocal8Bit(argv[2]);
    if (install) {
        options.baseUrls << QString::fromLocal8Bit(argv[3]);
        options.version = QString::fromLocal8Bit(argv[4]);
        options.game = QString::fromLocal8Bit(argv[5]);
        if (!readKey(argc > 6 ? argv[6] : nullptr, options.publicKeyPem)) {
            std::fprintf(stderr, "cannot read the public key %s\n", argv[6]);
            return 2;
        }
        if (argc > 7)
            options.connections = std::atoi(argv[7]);
    } else {
        options.game = QString::fromLocal8Bit(argv[3]);
        if (!readKey(argc > 4 ? argv[4] : nullptr, options.publicKeyPem)) {
            std::fprintf(stderr, "cannot read the public key %s\n", argv[4]);
            return 2;
        }
    }

    // Loopback only: both resolvers point at this machine.
    DefaultNetConfig.SetResolvers("127.0.0.1", "127.0.0.1").SetLookupTimeout(1000);
    OrbNetwork net;
    net.Init(DefaultNetConfig);

    OrbDeliveryJob job(&net);
    int rc = 1;
    // Seconds spent in each phase, to show where the time of a run goes.
    QElapsedTimer clock;
    clock.start();
    std::map<int, double> spent;
    int phase = OrbDeliveryJob::Idle;
    qint64 phaseStart = 0;
    auto endPhase = [&](int next) {
        const qint64 now = clock.elapsed();
        spent[phase] += double(now - phaseStart) / 1000.0;
        phase = next;
        phaseStart = now;
    };
    QObject::connect(&job, &OrbDeliveryJob::phaseChanged, &app, [&](OrbDeliveryJob::Phase p) { endPhase(p); });
    QObject::connect(&job, &OrbDeliveryJob::finished, &app, [&](bool ok, const QString& reason) {
        endPhase(OrbDeliveryJob::Done);
        const OrbDeliveryJob::Stats s = job.Statistics();
        const bool clean = job.Damaged().isEmpty() && job.Missing().isEmpty();
        std::printf("kept=%d built=%d reused=%d cached=%d fetched=%d refetched=%d fetched_bytes=%lld damaged=%d missing=%d\n",
                    s.filesKept, s.filesBuilt, s.chunksReused, s.chunksCached, s.chunksFetched, s.chunksRefetched,
                    static_cast<long long>(s.bytesFetched), int(job.Damaged().size()), int(job.Missing().size()));
        std::printf("manifest_s=%.2f plan_s=%.2f fetch_s=%.2f stage_s=%.2f commit_s=%.2f\n",
                    spent[OrbDeliveryJob::FetchingManifest], spent[OrbDeliveryJob::Planning],
                    spent[OrbDeliveryJob::Fetching], spent[OrbDeliveryJob::Staging], spent[OrbDeliveryJob::Committing]);
        if (!ok)
            std::fprintf(stderr, "job failed: %s\n", qPrintable(reason));
        rc = ok && (install || clean) ? 0 : 1;
        app.quit();
    });
    const bool started = install ? job.Install(options) : job.Verify(options);
    if (!started) {
        std::fprintf(stderr, "the job refused its options\n");
        return 2;
    }
    app.exec();
    return rc;
}
