// A stand-in launcher for the updater tests. At start it appends
// "started:<build-id.txt>:<[launcher] Version of config/game_settings.ini>" to
// "<its folder>/started.log"; while "<its folder>/stay" exists it keeps running
// (at most a minute).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QThread>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString dir = QCoreApplication::applicationDirPath();
    QFile id(dir + QStringLiteral("/build-id.txt"));
    const QByteArray build = id.open(QIODevice::ReadOnly) ? id.readAll().trimmed() : QByteArray("none");
    QSettings settings(dir + QStringLiteral("/config/game_settings.ini"), QSettings::IniFormat);
    const QByteArray version = settings.value(QStringLiteral("launcher/Version")).toString().toUtf8();
    QFile log(dir + QStringLiteral("/started.log"));
    if (log.open(QIODevice::Append))
        log.write("started:" + build + ":" + version + "\n");
    log.close();
    QElapsedTimer timer;
    timer.start();
    while (QFile::exists(dir + QStringLiteral("/stay")) && timer.elapsed() < 60000)
        QThread::msleep(20);
    return 0;
}
