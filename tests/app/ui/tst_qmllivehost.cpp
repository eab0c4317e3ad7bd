// The developer scene run by its host: the engine published as "$Engine", a
// document loaded and reloaded from disk, and Qt messages in the scene console.

#include <QtTest>

#include "OrbTestFiles.h"
#include "ui/QmlLiveEngine.h"
#include "ui/QmlLiveHost.h"

#include <QGuiApplication>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>

#include <memory>

namespace {

QByteArray document(const char* label)
{
    return QByteArray("import QtQuick\nRectangle { objectName: \"doc\"; property string label: \"") + label +
           "\"; width: 100; height: 100 }\n";
}

} // namespace

class TestQmlLiveHost : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QtMessageHandler m_testHandler = nullptr;

    static QObject* loaded(QObject* scene)
    {
        auto* loader = scene->findChild<QObject*>(QStringLiteral("_loader"));
        return loader ? loader->property("item").value<QObject*>() : nullptr;
    }

private slots:
    void initTestCase()
    {
        m_testHandler = qInstallMessageHandler(nullptr);
        qInstallMessageHandler(m_testHandler);
        QVERIFY(m_dir.isValid());
    }

    void cleanup() { qInstallMessageHandler(m_testHandler); }

    void documentFromFolderOrFile_data()
    {
        QTest::addColumn<bool>("asFolder");
        QTest::newRow("folder") << true;
        QTest::newRow("file") << false;
    }

    void documentFromFolderOrFile()
    {
        QFETCH(bool, asFolder);
        const QString folder = m_dir.path() + (asFolder ? "/byfolder" : "/byfile");
        QDir().mkpath(folder);
        orbtest::writeFile(folder + "/main.qml", document("first"));

        auto host = std::make_unique<QmlLiveHost>();
        QVERIFY(host->start(asFolder ? folder : folder + "/main.qml"));
        QObject* scene = host->scene();
        QVERIFY(scene);
        QCOMPARE(scene->property("title").toString(), QStringLiteral("Qml watcher"));
        QCOMPARE(scene->property("width").toInt(), 600);
        QCOMPARE(host->engine()->rootContext()->contextProperty(QStringLiteral("$Engine")).value<QObject*>(),
                 host->engine());
        QCOMPARE(host->engine()->reloadTarget(), scene);
        QCOMPARE(host->engine()->baseFolder(), folder);

        QTRY_VERIFY_WITH_TIMEOUT(loaded(scene), 10000);
        QCOMPARE(loaded(scene)->property("label").toString(), QStringLiteral("first"));
        QCOMPARE(scene->property("isWindow").toBool(), false);

        // A save on disk shows in the scene.
        orbtest::writeFile(folder + "/main.qml", document("second"));
        QTRY_VERIFY_WITH_TIMEOUT(loaded(scene) && loaded(scene)->property("label").toString() == "second", 10000);
    }

    void messagesReachTheConsoleForTheEngineLifetime()
    {
        auto host = std::make_unique<QmlLiveHost>();
        QVERIFY(host->start());
        QObject* console = host->scene()->findChild<QObject*>(QStringLiteral("_console"));
        QVERIFY(console);
        qWarning("plain <b>text</b> from C++");
        QTRY_VERIFY_WITH_TIMEOUT(console->property("text").toString().contains("plain &lt;b&gt;text&lt;/b&gt; from C++"),
                                 5000);
        // The scene's own rich-text lines stay rich text.
        QMetaObject::invokeMethod(host->scene(), "_printLoadingMessage", Q_ARG(QVariant, QStringLiteral("hello scene")));
        QTRY_VERIFY_WITH_TIMEOUT(console->property("text").toString().contains("hello scene"), 5000);
        QVERIFY(!console->property("text").toString().contains("&lt;b&gt;&lt;font"));

        host.reset();
        // Default handling again: nothing addresses the destroyed console.
        qWarning("after the host");
    }

    void missingDocumentIsNotWatched()
    {
        auto host = std::make_unique<QmlLiveHost>();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^No QML document at"));
        QVERIFY(host->start(m_dir.path() + "/nothing/here.qml"));
        QVERIFY(host->engine()->baseFolder().isEmpty());
        QVERIFY(!loaded(host->scene()));
    }

    void mainDocumentFor()
    {
        QCOMPARE(QmlLiveHost::mainDocumentFor(QString()), QString());
        QCOMPARE(QmlLiveHost::mainDocumentFor(m_dir.path()), m_dir.path() + "/main.qml");
        QCOMPARE(QmlLiveHost::mainDocumentFor(m_dir.path() + "/x/Other.qml"), m_dir.path() + "/x/Other.qml");
    }
};

int main(int argc, char** argv)
{
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QGuiApplication app(argc, argv);
    TestQmlLiveHost test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_qmllivehost.moc"
