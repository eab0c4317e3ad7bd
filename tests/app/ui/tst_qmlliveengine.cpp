// The live QML engine over a real folder tree and the system's file watcher.

#include <QtTest>

#include "OrbTestFiles.h"
#include "ui/QmlLiveEngine.h"

#include <QFileSystemWatcher>
#include <QSaveFile>
#include <QTemporaryDir>

#include <memory>

namespace {

class ReloadTarget : public QObject {
    Q_OBJECT
public:
    int reloads = 0;
    Q_INVOKABLE void _reload() { ++reloads; }
};

// Appends in one write, so one save is one change notification.
void appendLine(const QString& path, const QByteArray& line)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Append));
    QCOMPARE(f.write(line), qint64(line.size()));
}

// Lets pending watcher notifications arrive.
void settle()
{
    QTest::qWait(400);
}

} // namespace

class TestQmlLiveEngine : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_ui;
    std::unique_ptr<QmlLiveEngine> m_engine;
    ReloadTarget m_target;
    QtMessageHandler m_testHandler = nullptr;

    QFileSystemWatcher* watcher() const { return m_engine->findChild<QFileSystemWatcher*>(); }

    QStringList expectedFiles() const
    {
        return {m_ui + "/main.qml", m_ui + "/Theme.js", m_ui + "/components/Button.qml",
                m_ui + "/components/deep/icon.png", m_ui + "/assets/config.ini"};
    }

    QStringList expectedFolders() const
    {
        return {m_ui, m_ui + "/components", m_ui + "/components/deep", m_ui + "/assets"};
    }

    static QStringList sorted(QStringList l)
    {
        l.sort();
        return l;
    }

private slots:
    void initTestCase()
    {
        // The engine puts Qt's default handler back as it goes; the test's own
        // handler is restored after each engine.
        m_testHandler = qInstallMessageHandler(nullptr);
        qInstallMessageHandler(m_testHandler);
    }

    void init()
    {
        QVERIFY(m_dir.isValid());
        m_ui = m_dir.path() + "/work/ui";
        QDir().mkpath(m_ui + "/components/deep");
        QDir().mkpath(m_ui + "/assets");
        orbtest::writeFile(m_ui + "/main.qml", "import QtQuick\nItem {}\n");
        orbtest::writeFile(m_ui + "/Theme.js", "var x = 1\n");
        orbtest::writeFile(m_ui + "/components/Button.qml", "import QtQuick\nItem {}\n");
        orbtest::writeFile(m_ui + "/components/deep/icon.png", "png");
        orbtest::writeFile(m_ui + "/assets/config.ini", "[a]\n");
        // No dot: never watched.
        orbtest::writeFile(m_ui + "/README", "read me\n");
        orbtest::writeFile(m_ui + "/assets/LICENSE", "licence\n");
        m_target.reloads = 0;
        m_engine = std::make_unique<QmlLiveEngine>();
        m_engine->setReloadTarget(&m_target);
    }

    void cleanup()
    {
        m_engine.reset();
        qInstallMessageHandler(m_testHandler);
        QDir(m_dir.path() + "/work").removeRecursively();
    }

    void watchCoversTheTreeAroundTheDocument()
    {
        const QString main = m_ui + "/main.qml";
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Watching QML path: \".*/work/ui/main.qml\"$"));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Updated import paths:"));
        m_engine->watch(main);
        QCOMPARE(m_engine->baseFolder(), m_ui);
        QCOMPARE(m_engine->property("absQmlPath").toString(), main);
        QCOMPARE(sorted(watcher()->directories()), sorted(expectedFolders()));
        QCOMPARE(sorted(watcher()->files()), sorted(expectedFiles()));
        QVERIFY(m_engine->importPathList().contains(m_ui));
    }

    void sameTextTwiceOnlyLogs()
    {
        m_engine->watch(m_ui + "/main.qml");
        orbtest::writeFile(m_ui + "/New.qml", "import QtQuick\nItem {}\n");
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Watching QML path:"));
        m_engine->watch(m_ui + "/main.qml");
        QVERIFY(!watcher()->files().contains(m_ui + "/New.qml"));
    }

    void bareNameUsesTheCurrentFolder()
    {
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_ui));
        m_engine->watch(QStringLiteral("main.qml"));
        QDir::setCurrent(previous);
        QCOMPARE(m_engine->baseFolder(), QFileInfo(m_ui).canonicalFilePath());
        QCOMPARE(QFileInfo(m_engine->property("absQmlPath").toString()).canonicalFilePath(),
                 QFileInfo(m_ui + "/main.qml").canonicalFilePath());
        QVERIFY(watcher()->files().contains(m_engine->baseFolder() + "/Theme.js"));
    }

    void absQmlPathIsWritable()
    {
        QVERIFY(m_engine->setProperty("absQmlPath", QStringLiteral("/x/y.qml")));
        QCOMPARE(m_engine->property("absQmlPath").toString(), QStringLiteral("/x/y.qml"));
    }

    void saveReloadsOnceAndRearms_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("main document") << "main.qml";
        QTest::newRow("script") << "Theme.js";
        QTest::newRow("subfolder") << "components/Button.qml";
        QTest::newRow("two levels down") << "components/deep/icon.png";
    }

    void saveReloadsOnceAndRearms()
    {
        QFETCH(QString, file);
        m_engine->watch(m_ui + "/main.qml");
        appendLine(m_ui + "/" + file, "// edit\n");
        QTRY_COMPARE_WITH_TIMEOUT(m_target.reloads, 1, 10000);
        settle();
        QCOMPARE(m_target.reloads, 1);
        QCOMPARE(sorted(watcher()->files()), sorted(expectedFiles()));
        QCOMPARE(sorted(watcher()->directories()), sorted(expectedFolders()));

        // Armed again: the next save reloads again.
        appendLine(m_ui + "/" + file, "// again\n");
        QTRY_COMPARE_WITH_TIMEOUT(m_target.reloads, 2, 10000);
    }

    void editorReplaceKeepsTheFileWatched()
    {
        m_engine->watch(m_ui + "/main.qml");
        {
            // Written beside, then renamed over the original.
            QSaveFile save(m_ui + "/main.qml");
            QVERIFY(save.open(QIODevice::WriteOnly));
            save.write("import QtQuick\nRectangle {}\n");
            QVERIFY(save.commit());
        }
        QTRY_VERIFY_WITH_TIMEOUT(m_target.reloads >= 1, 10000);
        settle();
        QTRY_VERIFY_WITH_TIMEOUT(watcher()->files().contains(m_ui + "/main.qml"), 5000);
        const int before = m_target.reloads;
        appendLine(m_ui + "/main.qml", "// after replace\n");
        QTRY_COMPARE_WITH_TIMEOUT(m_target.reloads, before + 1, 10000);
    }

    void dotlessAndNewFilesDoNotReload()
    {
        m_engine->watch(m_ui + "/main.qml");
        appendLine(m_ui + "/README", "more\n");
        appendLine(m_ui + "/assets/LICENSE", "more\n");
        orbtest::writeFile(m_ui + "/components/Fresh.qml", "import QtQuick\nItem {}\n");
        settle();
        QCOMPARE(m_target.reloads, 0);
        QVERIFY(!watcher()->files().contains(m_ui + "/components/Fresh.qml"));

        // Picked up at the next reload.
        appendLine(m_ui + "/Theme.js", "// edit\n");
        QTRY_COMPARE_WITH_TIMEOUT(m_target.reloads, 1, 10000);
        QVERIFY(watcher()->files().contains(m_ui + "/components/Fresh.qml"));
        QVERIFY(!watcher()->files().contains(m_ui + "/README"));
    }

    void withoutTargetAChangeOnlyRearms()
    {
        m_engine->setReloadTarget(nullptr);
        m_engine->watch(m_ui + "/main.qml");
        appendLine(m_ui + "/main.qml", "// edit\n");
        settle();
        QCOMPARE(m_target.reloads, 0);
        QCOMPARE(sorted(watcher()->files()), sorted(expectedFiles()));
    }

    void linkBackUpTheTreeIsWalkedOnce()
    {
        QVERIFY(QFile::link(m_ui, m_ui + "/components/up"));
        m_engine->watch(m_ui + "/main.qml");
        QVERIFY(watcher()->files().contains(m_ui + "/components/Button.qml"));
    }

    void newPathReplacesTheWatches()
    {
        m_engine->watch(m_ui + "/main.qml");
        const QString other = m_dir.path() + "/work/other";
        QDir().mkpath(other);
        orbtest::writeFile(other + "/main.qml", "import QtQuick\nItem {}\n");
        m_engine->watch(other + "/main.qml");
        QCOMPARE(watcher()->directories(), QStringList{other});
        QCOMPARE(watcher()->files(), QStringList{other + "/main.qml"});
        appendLine(m_ui + "/main.qml", "// old tree\n");
        settle();
        QCOMPARE(m_target.reloads, 0);
    }

    void destructionRestoresDefaultHandler()
    {
        static QStringList seen;
        seen.clear();
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) { seen << text; });
        m_engine.reset();
        QCOMPARE(seen, QStringList{QStringLiteral("~QmlLiveEngine called")});
        qDebug("after the engine");
        QCOMPARE(seen.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestQmlLiveEngine)
#include "tst_qmlliveengine.moc"
