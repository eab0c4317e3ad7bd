// The real scene over the real view bridge and model: main.qml loaded as the
// program loads it, checked for the bindings it makes while it loads.
#include "OrbTestFiles.h"
#include "OrbTestLog.h"
#include "OrbTestModel.h"
#include "core/ComponentRegister.h"
#include "core/ComponentRegistry.h"
#include "model/OrbModel.h"
#include "ui/OrbViewLauncher.h"

#include <QApplication>
#include <QQuickWindow>
#include <QtTest>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

#include <memory>

using orbtest::writeFile;

class tst_MainScene : public QObject {
    Q_OBJECT

    std::unique_ptr<ComponentRegister> m_registry;
    IOrbModel* m_model = nullptr;

    void setFlag(const char* key, bool value) { m_model->SetBool(OrbConfig::AppConfig, "valdane", key, value); }

    static QString text(QQuickWindow* window, const char* name)
    {
        QObject* item = window->findChild<QObject*>(QString::fromLatin1(name));
        return item ? item->property("text").toString() : QStringLiteral("<no %1>").arg(QString::fromLatin1(name));
    }
    static bool shown(QQuickWindow* window, const char* name)
    {
        QObject* item = window->findChild<QObject*>(QString::fromLatin1(name));
        return item && item->property("visible").toBool();
    }

private slots:
    void initTestCase()
    {
        // The page address is a closed loopback port: nothing leaves the machine.
        m_registry = orbStartModel(
            "[launcher]\nVersion=1.0.2\nGameSettingsUrl=http://127.0.0.1:9/game_settings.ini\n"
            "[Basic]\nGameName=valdane\nGameNickName=Valdane\nVersion=1.0.0\nGameSize=1GB\n"
            "WebPageUrl=http://127.0.0.1:9/index.html\nIsOpenMoreGames=false\n");
        m_model = GetComponent<IOrbModel>("OrbModel");
        QVERIFY(m_model);
    }

    void cleanupTestCase() { m_registry.reset(); }

    void startBindings_data()
    {
        QTest::addColumn<bool>("downloadFinished");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("label");
        // The first start keeps the file's default "v1.0.2": the label shows one "V".
        QTest::newRow("first start") << false << false << QString() << QStringLiteral("下载游戏") << QStringLiteral("V1.0.2");
        QTest::newRow("downloaded") << true << false << QStringLiteral("1.0.3") << QStringLiteral("安装游戏")
                                    << QStringLiteral("V1.0.3");
        QTest::newRow("installed") << true << true << QStringLiteral("V2.0") << QStringLiteral("开始游戏")
                                   << QStringLiteral("V2.0");
    }

    // The stage caption, the version label, the title and size, and the update
    // check requested while the document loads.
    void startBindings()
    {
        QFETCH(bool, downloadFinished);
        QFETCH(bool, installed);
        QFETCH(QString, version);
        QFETCH(QString, caption);
        QFETCH(QString, label);
        setFlag("IsDownloadStart", downloadFinished);
        setFlag("IsDownloadFinish", downloadFinished);
        setFlag("IsInstallGmae", installed);
        if (!version.isEmpty())
            m_model->SetString(OrbConfig::AppConfig, "valdane", "Version", version.toUtf8().constData());

        OrbViewLauncher view;
        QSignalSpy check(&view, &OrbViewLauncher::sigUpdateCheckStart);
        QVERIFY(view.prepare());
        QVERIFY(view.registerContext());
        QVERIFY(view.loadScene(QUrl(QStringLiteral("qrc:/qml/main.qml"))));
        // Requested during the load itself, once.
        QCOMPARE(check.size(), 1);
        QQuickWindow* window = view.rootWindow();
        QVERIFY(window);

        QCOMPARE(text(window, "launcherButtonText"), caption);
        QCOMPARE(text(window, "versionNameText"), label);
        QCOMPARE(text(window, "updateCheckButtonText"), QStringLiteral("版本检测中..."));
        QVERIFY(shown(window, "updateCheckBtn"));
        QVERIFY(!shown(window, "launcherBtn"));
        QCOMPARE(window->title(), QStringLiteral("Valdane"));
        const qreal ratio = view.GetDevicePixelRatio();
        QCOMPARE(window->width(), qRound(1350 / ratio));
        QCOMPARE(window->height(), qRound(760 / ratio));
        QVERIFY(window->isVisible());
        QCOMPARE(check.size(), 1);
    }

    void chooserFolder_data()
    {
        QTest::addColumn<QString>("installDirectory");
        QTest::addColumn<QString>("dialogFolder");
        QTest::addColumn<bool>("accepted");
        // A new account: the default Documents folder is not there yet.
        QTest::newRow("Documents not made yet") << "fresh/Documents" << "fresh" << true;
        QTest::newRow("deeper chain not made yet") << "fresh/Documents/Games/Valdane" << "fresh" << true;
        QTest::newRow("existing folder") << "fresh" << "fresh" << true;
        QTest::newRow("below a file") << "file.txt/Games" << "" << false;
    }

    // The chooser over the real bridge and the real file system.
    void chooserFolder()
    {
        QFETCH(QString, installDirectory);
        QFETCH(QString, dialogFolder);
        QFETCH(bool, accepted);
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath("fresh"));
        writeFile(root.filePath("file.txt"), "x");
        const QString shownPath = root.path() + "/" + installDirectory;
        m_model->SetString(OrbConfig::AppConfig, "valdane", "InstallDirectory", shownPath.toUtf8().constData());

        OrbViewLauncher view;
        QVERIFY(view.registerContext());
        QVERIFY(view.loadScene(QUrl(QStringLiteral("qrc:/qml/main.qml"))));
        QQuickWindow* window = view.rootWindow();
        QVERIFY(window);
        QObject* selector = window->findChild<QObject*>(QStringLiteral("pathSelector"));
        QVERIFY(selector);
        selector->setProperty("visible", true);
        QCOMPARE(selector->property("displayFolder").toString(), shownPath);
        QCOMPARE(selector->property("validPathCheck").toBool(), accepted);
        QCOMPARE(shown(window, "pathError"), !accepted);
        QObject* confirm = selector->findChild<QObject*>(QStringLiteral("confirmMouseArea"));
        QVERIFY(confirm);
        QCOMPARE(confirm->property("enabled").toBool(), accepted);
        if (accepted)
            QVERIFY(selector->property("pathCapacity").toDouble() > 0);
        QVariant start;
        QVERIFY(QMetaObject::invokeMethod(selector, "dialogStartFolder", Q_RETURN_ARG(QVariant, start)));
        if (!dialogFolder.isEmpty())
            QCOMPARE(QUrl(start.toString()).toLocalFile(), root.path() + "/" + dialogFolder);
        // Asking made nothing.
        QCOMPARE(QFileInfo::exists(shownPath), installDirectory == QLatin1String("fresh"));
    }
};

int main(int argc, char** argv)
{
    // As the program does: WebEngine first, then a widgets application (tray icon, folder dialog).
    QtWebEngineQuick::initialize();
    QApplication app(argc, argv);
    tst_MainScene test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainscene.moc"
