// OrbUpdate <unpacked launcher folder> <program folder> <program file name>
#include "OrbUpdater.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fputs("usage: OrbUpdate <unpacked launcher folder> <program folder> <program file name>\n", stderr);
        return OrbUpdater::BadArguments;
    }
    OrbUpdater::Options options;
    options.sourceDir = args[1];
    options.programDir = args[2];
    options.programFile = args[3];
    OrbUpdater updater(options);
    const OrbUpdater::Result result = updater.run();
    if (result != OrbUpdater::Updated)
        std::fprintf(stderr, "OrbUpdate: %s\n", updater.log().isEmpty() ? "failed" : updater.log().last().toUtf8().constData());
    return result;
}
