// OrbConfig as a program outside this build meets it: the compiler run by hand
// with the library's public header folders and -lOrbConfig, nothing else.

#include <QtTest>

#include <QProcess>
#include <QTemporaryDir>

class tst_OrbConfigConsumer : public QObject {
    Q_OBJECT

private slots:
    void linksAndRunsWithOnlyOrbConfig();
};

void tst_OrbConfigConsumer::linksAndRunsWithOnlyOrbConfig()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString program = work.filePath(QStringLiteral("plain_consumer"));

    QStringList args{QStringLiteral("-std=c++17"), QStringLiteral("-o"), program,
                     QStringLiteral(ORB_CONSUMER_SOURCE)};
    // The library's public folders, and the headers of libobs it hands on.
    const QStringList includes = QStringLiteral(ORB_CONSUMER_INCLUDES).split(QLatin1Char('|'), Qt::SkipEmptyParts);
    for (const QString& dir : includes)
        args << QStringLiteral("-I") + dir;
    const QStringList defines = QStringLiteral(ORB_CONSUMER_DEFINES).split(QLatin1Char('|'), Qt::SkipEmptyParts);
    for (const QString& define : defines)
        args << QStringLiteral("-D") + define;
    args << QStringLiteral(ORB_CONSUMER_FLAGS).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString libDir = QStringLiteral(ORB_CONSUMER_LIBDIR);
    args << QStringLiteral("-L") + libDir << QStringLiteral("-Wl,-rpath,") + libDir << QStringLiteral("-lOrbConfig");

    QProcess compiler;
    compiler.setProcessChannelMode(QProcess::MergedChannels);
    compiler.start(QStringLiteral(ORB_CONSUMER_CXX), args);
    QVERIFY2(compiler.waitForFinished(120000), "the compiler did not finish");
    const QByteArray diagnostics = compiler.readAll();
    QVERIFY2(compiler.exitStatus() == QProcess::NormalExit && compiler.exitCode() == 0, diagnostics.constData());

    QProcess consumer;
    consumer.setProcessChannelMode(QProcess::MergedChannels);
    consumer.start(program, {work.path()});
    QVERIFY(consumer.waitForFinished(30000));
    const QString output = QString::fromUtf8(consumer.readAll());
    QVERIFY2(consumer.exitCode() == 0, qPrintable(output));
    const QStringList lines = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(lines.contains(QStringLiteral("log 300: consumer 42")), qPrintable(output));
    QVERIFY2(lines.contains(QStringLiteral("file: has the key")), qPrintable(output));
    QVERIFY2(lines.contains(QStringLiteral("store: written by libobs")), qPrintable(output));
}

QTEST_GUILESS_MAIN(tst_OrbConfigConsumer)
#include "tst_orbconfigconsumer.moc"
