// What the launcher and the updater share: the link tests on real links, dangling
// ones included, and the per-user folder layout, whose root rule must agree with
// the one libobs applies for the launcher.
#include "OrbLinks.h"
#include "OrbUserFolders.h"

#include <util/bmem.h>
#include <util/platform.h>

#include <QtTest>

namespace {

void put(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("x");
}

QString libobsConfigPath(const char* folder)
{
    char* path = os_get_config_path_ptr(folder);
    const QString out = QString::fromUtf8(path ? path : "");
    bfree(path);
    return out;
}

} // namespace

class tst_OrbCommon : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_root;

private slots:
    void init()
    {
        m_tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tmp->isValid());
        m_root = m_tmp->path();
        // base/real/file, base/real/sub/, links to both, a dangling link and a
        // link to a folder outside the base.
        put(m_root + "/base/real/file.txt");
        QVERIFY(QDir().mkpath(m_root + "/base/real/sub"));
        QVERIFY(QDir().mkpath(m_root + "/outside/deep"));
        QVERIFY(QFile::link(m_root + "/base/real/file.txt", m_root + "/base/to-file"));
        QVERIFY(QFile::link(m_root + "/base/real", m_root + "/base/to-dir"));
        QVERIFY(QFile::link(m_root + "/base/nowhere", m_root + "/base/dangling"));
        QVERIFY(QFile::link(m_root + "/outside", m_root + "/base/real/out"));
    }

    void isLink_data()
    {
        QTest::addColumn<QString>("rel");
        QTest::addColumn<bool>("link");
        QTest::newRow("file") << "base/real/file.txt" << false;
        QTest::newRow("folder") << "base/real" << false;
        QTest::newRow("missing") << "base/none" << false;
        QTest::newRow("link to a file") << "base/to-file" << true;
        QTest::newRow("link to a folder") << "base/to-dir" << true;
        QTest::newRow("dangling link") << "base/dangling" << true;
        QTest::newRow("trailing slash on a real folder") << "base/real/" << false;
    }
    void isLink()
    {
        QFETCH(QString, rel);
        QFETCH(bool, link);
        QCOMPARE(OrbLinks::isLink(m_root + "/" + rel), link);
    }

    void passesThroughLink_data()
    {
        QTest::addColumn<QString>("rel");
        QTest::addColumn<bool>("passes");
        QTest::newRow("real folders") << "real/sub/new.txt" << false;
        QTest::newRow("existing file below real folders") << "real/file.txt" << false;
        QTest::newRow("the last segment is not judged") << "to-dir" << false;
        QTest::newRow("through a link to a folder") << "to-dir/file.txt" << true;
        QTest::newRow("through a link deeper down") << "real/out/deep/x" << true;
        QTest::newRow("through a dangling link") << "dangling/x/y" << true;
        QTest::newRow("below a missing folder") << "none/more/x" << false;
        QTest::newRow("doubled separators") << "real//out//deep" << true;
        QTest::newRow("empty") << "" << false;
    }
    void passesThroughLink()
    {
        QFETCH(QString, rel);
        QFETCH(bool, passes);
        QCOMPARE(OrbLinks::passesThroughLink(m_root + "/base", rel), passes);
        // A trailing '/' on the base changes nothing.
        QCOMPARE(OrbLinks::passesThroughLink(m_root + "/base/", rel), passes);
        QSet<QString> known;
        QCOMPARE(OrbLinks::passesThroughLink(m_root + "/base", rel, &known), passes);
    }

    // The cache receives the real folders it walked through, never a link, and a
    // folder named in it is not looked at again.
    void knownDirs()
    {
        QSet<QString> known;
        QVERIFY(!OrbLinks::passesThroughLink(m_root + "/base", "real/sub/new.txt", &known));
        QCOMPARE(known, QSet<QString>({m_root + "/base/real", m_root + "/base/real/sub"}));

        QVERIFY(OrbLinks::passesThroughLink(m_root + "/base", "real/out/deep/x", &known));
        QVERIFY(!known.contains(m_root + "/base/real/out"));

        known.insert(m_root + "/base/to-dir");
        QVERIFY(!OrbLinks::passesThroughLink(m_root + "/base", "to-dir/file.txt", &known));
    }

    void layout_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("relative");
        QTest::newRow("config") << QString(OrbUserFolders::kConfig) << "OrbLauncher/config";
        QTest::newRow("log") << QString(OrbUserFolders::kLog) << "OrbLauncher/log";
        QTest::newRow("run") << QString(OrbUserFolders::kRun) << "OrbLauncher/run";
        QTest::newRow("install") << QString(OrbUserFolders::kInstall) << "OrbLauncher/install";
    }
    // The names the launcher's files are found under, and the same place by
    // both roads: libobs for the launcher, absolute() for the updater.
    void layout()
    {
        QFETCH(QString, folder);
        QFETCH(QString, relative);
        QCOMPARE(folder, relative);
        const QByteArray name = folder.toUtf8();
        const QString expected = qEnvironmentVariable("XDG_CONFIG_HOME") + "/" + relative;
        QCOMPARE(OrbUserFolders::absolute(name.constData()), expected);
        QCOMPARE(QDir::cleanPath(libobsConfigPath(name.constData())), QDir::cleanPath(expected));
    }

    // Without XDG_CONFIG_HOME the root is ~/.config, as libobs has it.
    void rootWithoutXdg()
    {
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qunsetenv("XDG_CONFIG_HOME");
        const QString root = OrbUserFolders::roamingRoot();
        const QString fromLibobs = QDir::cleanPath(libobsConfigPath(OrbUserFolders::kLog));
        qputenv("XDG_CONFIG_HOME", saved);
        QCOMPARE(root, QDir::homePath() + "/.config");
        QCOMPARE(fromLibobs, QDir::cleanPath(QDir::homePath() + "/.config/OrbLauncher/log"));
    }
};

QTEST_GUILESS_MAIN(tst_OrbCommon)
#include "tst_orbcommon.moc"
