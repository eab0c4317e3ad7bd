// A stand-in game client for the launcher tests. It records itself in
// "<its folder>/pids/<pid>" and runs until it is killed or until a file
// "<its folder>/pids/<pid>.quit" appears, then exits with 0.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTimer>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/pids");
    QDir().mkpath(dir);
    const QString self = dir + QLatin1Char('/') + QString::number(QCoreApplication::applicationPid());
    QFile mark(self);
    if (!mark.open(QIODevice::WriteOnly))
        return 3;
    mark.close();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QFile::exists(self + QStringLiteral(".quit"))) {
            QFile::remove(self);
            QFile::remove(self + QStringLiteral(".quit"));
            app.exit(0);
        }
    });
    poll.start(20);
    return app.exec();
}
