// One extraction through the installer component, as its own small process so
// that its time and memory can be measured alone. It carries only the
// installer and the registry storage it looks the log up in (none is registered).

#include "core/ComponentRegistry.h"
#include "core/IOrbLog.h"
#include "services/installer/OrbInstaller.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s ARCHIVE DEST [THREADS]\n", argv[0]);
        return 2;
    }
    QCoreApplication app(argc, argv);
    // Progress debug lines would cost more than they tell here.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
        if (type >= QtWarningMsg)
            std::fprintf(stderr, "%s\n", qPrintable(msg));
    });
    const QString archive = QString::fromLocal8Bit(argv[1]);
    const QString dest = QString::fromLocal8Bit(argv[2]);
    OrbInstaller installer;
    installer.Init();
    if (argc == 4)
        installer.setExtractThreads(std::atoi(argv[3]));
    int rc = 1;
    QObject::connect(&installer, &OrbInstaller::sigExtractGameFinished, &app, [&] {
        const OrbExtractReport report = installer.lastExtractReport();
        rc = report.outcome == OrbExtractReport::Complete ? 0 : 2;
        if (rc != 0)
            std::fprintf(stderr, "installer: outcome %d, %s\n", int(report.outcome), qPrintable(report.error));
        app.quit();
    });
    QTimer::singleShot(0, &app, [&] { installer.extractDir(archive, dest, IOrbArchieve::extractGame); });
    app.exec();
    installer.Uninit();
    return rc;
}
