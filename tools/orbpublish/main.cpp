// orbpublish: the publisher's tool for chunked game versions.
//
//   orbpublish build GAME_FOLDER STORE --version V --game NAME --key PRIVATE.pem [--serial N] [--days D]
//   orbpublish upload STORE ENDPOINT BUCKET[/PREFIX]
//
// build chunks every file into STORE/chunks, writes the version's pack
// STORE/packs/V.pack and the signed STORE/manifests/V.manifest and V.manifest.sig;
// upload sends what the object store lacks, chunks and packs before manifests.

#include "OrbPublishBuild.h"
#include "OrbPublishUpload.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

int usage()
{
    std::fputs(
        "usage: orbpublish build GAME_FOLDER STORE --version V --game NAME --key PRIVATE.pem [--serial N] [--days D]\n"
        "       orbpublish upload STORE ENDPOINT BUCKET[/PREFIX]\n"
        "\n"
        "build   chunks every file of GAME_FOLDER into STORE/chunks, writes the pack STORE/packs/V.pack\n"
        "        and the signed manifest STORE/manifests/V.manifest with V.manifest.sig. Links and special files in the\n"
        "        game folder are refused. --serial defaults to the store's highest serial plus one,\n"
        "        --days (expiry) to 30.\n"
        "upload  uploads to the S3-compatible store at ENDPOINT (e.g. https://s3.example.com, path-style)\n"
        "        every chunk, pack and manifest of STORE that is not already there, under PREFIX in BUCKET.\n"
        "        Credentials come from the environment:\n"
        "          AWS_ACCESS_KEY_ID      access key (required)\n"
        "          AWS_SECRET_ACCESS_KEY  secret key (required)\n"
        "          AWS_SESSION_TOKEN      session token of temporary credentials (optional)\n"
        "          AWS_REGION             signing region (default us-east-1)\n"
        "          ORBPUBLISH_RESOLVERS   SYSTEM[,PUBLIC] DNS resolvers for the network library (optional)\n",
        stderr);
    return 2;
}

// --name VALUE pairs after the positional arguments.
bool options(const QStringList& args, int from, QHash<QString, QString>& out)
{
    for (int i = from; i < args.size(); i += 2) {
        if (!args[i].startsWith(QLatin1String("--")) || i + 1 >= args.size())
            return false;
        out.insert(args[i], args[i + 1]);
    }
    return true;
}

bool number(const QHash<QString, QString>& opts, const QString& name, qint64& value)
{
    if (!opts.contains(name))
        return true;
    bool ok = false;
    value = opts.value(name).toLongLong(&ok);
    if (!ok || value < 0) {
        std::fprintf(stderr, "orbpublish: %s needs a number\n", qPrintable(name));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 4 && args[1] == QLatin1String("build")) {
        QHash<QString, QString> opts;
        if (!options(args, 4, opts))
            return usage();
        for (auto it = opts.constBegin(); it != opts.constEnd(); ++it) {
            static const QStringList known = {QStringLiteral("--version"), QStringLiteral("--game"),
                                              QStringLiteral("--key"), QStringLiteral("--serial"),
                                              QStringLiteral("--days")};
            if (!known.contains(it.key()))
                return usage();
        }
        OrbPublishBuildOptions o;
        o.gameFolder = args[2];
        o.storeFolder = args[3];
        o.version = opts.value(QStringLiteral("--version"));
        o.game = opts.value(QStringLiteral("--game"));
        o.keyPath = opts.value(QStringLiteral("--key"));
        if (o.version.isEmpty() || o.game.isEmpty() || o.keyPath.isEmpty())
            return usage();
        qint64 serial = -1, days = 30;
        if (!number(opts, QStringLiteral("--serial"), serial) || !number(opts, QStringLiteral("--days"), days))
            return 2;
        o.serial = serial;
        o.days = days;
        return OrbPublishBuild(o);
    }
    if (args.size() == 5 && args[1] == QLatin1String("upload")) {
        OrbPublishUploadOptions o;
        o.storeFolder = args[2];
        o.endpoint = args[3];
        o.bucketPrefix = args[4];
        return OrbPublishUpload(o);
    }
    return usage();
}
