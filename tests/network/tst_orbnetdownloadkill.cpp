// A download killed with SIGKILL at random points, again and again, resumes each time
// and ends with a file identical to the one nginx serves.
#include "TestHttpServer.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <unistd.h>
#include "OrbTestFiles.h"

using namespace orbtest;


using orbtest::readAll;
namespace {

// nginx serving root on 127.0.0.1:port, throttled so that a kill lands mid-transfer.
bool startThrottledNginx(ExternalDaemon& d, quint16 port, const QString& root, const QByteArray& rate)
{
    const QByteArray dir = d.workDir().toUtf8();
    QDir().mkpath(d.workDir() + "/logs");
    QFile f(d.workDir() + "/nginx.conf");
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray conf;
    if (::getuid() == 0)
        conf += "user root;\n";
    conf += "daemon off;\nworker_processes 1;\npid " + dir + "/nginx.pid;\nerror_log " + dir + "/logs/error.log;\n"
            "events { worker_connections 64; }\nhttp {\n  access_log off;\n  limit_rate " + rate + ";\n"
            "  client_body_temp_path " + dir + "/body;\n  proxy_temp_path " + dir + "/proxy;\n"
            "  fastcgi_temp_path " + dir + "/fcgi;\n  uwsgi_temp_path " + dir + "/uwsgi;\n"
            "  scgi_temp_path " + dir + "/scgi;\n  server {\n    listen 127.0.0.1:" + QByteArray::number(port) +
            ";\n    root " + root.toUtf8() + ";\n  }\n}\n";
    f.write(conf);
    f.close();
    return d.start(QStringLiteral("nginx"), {"-p", d.workDir(), "-c", d.workDir() + "/nginx.conf", "-e",
                                             d.workDir() + "/logs/error.log"}, port);
}


} // namespace

class tst_OrbNetDownloadKill : public QObject {
    Q_OBJECT

private slots:
    void killedAtRandomAndResumed()
    {
        QTemporaryDir root;
        QByteArray source(8 * 1024 * 1024, Qt::Uninitialized);
        const quint32 seed = quint32(QDateTime::currentMSecsSinceEpoch());
        qInfo("seed %u", seed);
        QRandomGenerator rng(seed);
        rng.fillRange(reinterpret_cast<quint32*>(source.data()), source.size() / 4);
        {
            QFile f(root.filePath("game.zip"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(source), qint64(source.size()));
        }
        ExternalDaemon nginx;
        const quint16 port = freePort();
        QVERIFY2(startThrottledNginx(nginx, port, root.path(), "4m"), nginx.output().constData());
        const QString url = QStringLiteral("http://127.0.0.1:%1/game.zip").arg(port);

        QTemporaryDir dir;
        const QString path = dir.filePath("game.zip");
        int interrupted = 0;
        bool completed = false;
        for (int round = 0; round < 80 && !completed; ++round) {
            QProcess child;
            child.start(QStringLiteral(ORB_DOWNLOAD_CHILD), {url, path});
            QVERIFY(child.waitForStarted());
            if (child.waitForFinished(int(rng.bounded(20, 250)))) {
                QCOMPARE(child.exitStatus(), QProcess::NormalExit);
                QCOMPARE(child.exitCode(), 0);
                completed = true;
                break;
            }
            child.kill();  // SIGKILL
            QVERIFY(child.waitForFinished(5000));
            // Killed before the file existed: an empty prefix.
            const QByteArray got = QFile::exists(path) ? readAll(path) : QByteArray();
            QVERIFY(got.size() <= source.size());
            QVERIFY2(got == source.left(got.size()), qPrintable(QStringLiteral("round %1").arg(round)));
            if (got.size() > 0 && got.size() < source.size())
                ++interrupted;
        }
        if (!completed) {
            QProcess child;
            child.start(QStringLiteral(ORB_DOWNLOAD_CHILD), {url, path});
            QVERIFY(child.waitForFinished(30000));
            QCOMPARE(child.exitCode(), 0);
        }
        QVERIFY(interrupted > 0);  // the kills did land mid-file, so resume was exercised
        QCOMPARE(QCryptographicHash::hash(readAll(path), QCryptographicHash::Sha256).toHex(),
                 QCryptographicHash::hash(source, QCryptographicHash::Sha256).toHex());
    }
};

QTEST_GUILESS_MAIN(tst_OrbNetDownloadKill)
#include "tst_orbnetdownloadkill.moc"
