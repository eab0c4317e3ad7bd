// The view bridge over a real model: units, model addressing, folder rules, the
// request signals and their log lines, and the scene's root window.
#include "OrbTestFiles.h"
#include "OrbTestLog.h"
#include "OrbTestModel.h"
#include "core/ComponentRegister.h"
#include "core/ComponentRegistry.h"
#include "model/OrbModel.h"
#include "ui/OrbViewLauncher.h"

#include <OrbUtils.h>

#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QtTest>

#include <memory>

#include <unistd.h>

using orbtest::writeFile;

namespace {

QStringList g_debug;
QtMessageHandler g_previous = nullptr;

void captureDebug(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    g_debug.append(message);
    if (g_previous)
        g_previous(type, context, message);
}

} // namespace

class tst_OrbViewLauncher : public QObject {
    Q_OBJECT

    std::unique_ptr<ComponentRegister> m_registry;
    IOrbModel* m_model = nullptr;
    QTemporaryDir m_tmp;

    void setBasic(const char* key, const QString& value)
    {
        m_model->SetString(OrbConfig::GameSettingConfig, "Basic", key, value.toUtf8().constData());
    }
    void setApp(const char* key, const QString& value)
    {
        m_model->SetString(OrbConfig::AppConfig, "valdane", key, value.toUtf8().constData());
    }
    QString app(const char* key)
    {
        return QString::fromStdString(m_model->GetStringValue(OrbConfig::AppConfig, "valdane", key));
    }

private slots:
    void initTestCase()
    {
        m_registry = orbStartModel(
            "[launcher]\nVersion=1.0.2\n[Basic]\nGameName=valdane\nGameNickName=A\nVersion=1.0\nGameSize=30GB\n"
            "WebPageUrl=http://127.0.0.1:9/page\nIsOpenMoreGames=true\n");
        m_model = GetComponent<IOrbModel>("OrbModel");
        QVERIFY(m_model);
    }

    void cleanupTestCase() { m_registry.reset(); }

    void init() { OrbTestLog::Clear(); }

    void gameSize_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("30GB") << "30GB" << 31;
        QTest::newRow("1.5GB") << "1.5GB" << 2;
        QTest::newRow("no digits") << "large" << 0;
        QTest::newRow("empty") << "" << 0;
    }
    void gameSize()
    {
        QFETCH(QString, value);
        QFETCH(int, expected);
        setBasic("GameSize", value);
        OrbViewLauncher view;
        QCOMPARE(view.GetDownLoadFileSize(), expected);
        const auto lines = OrbTestLog::Lines("Get DownLoad File Size");
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines[0].level, int(OrbLogInfo));
        QVERIFY(lines[0].text.contains("[OrbViewLauncher::GetDownLoadFileSize] ---> Get DownLoad File Size") ||
                lines[0].text.contains("[GetDownLoadFileSize] ---> Get DownLoad File Size"));
    }

    // Whole GiB, truncated, of the same volume the float query measures.
    void diskSpaceIsTruncatedCapacity()
    {
        setApp("DownLoadPath", m_tmp.path());
        OrbViewLauncher view;
        const float capacity = view.GetPathCapacity(m_tmp.path());
        const int space = view.GetDiskSpace();
        QVERIFY(capacity > 0);
        QCOMPARE(space, int(capacity));
        QCOMPARE(space, int(OrbUtils::getStorageInfo(m_tmp.path())));
        QCOMPARE(OrbTestLog::Lines("Get Path Capacity").size(), 1);
        QCOMPARE(OrbTestLog::Lines("Get Disk Space").size(), 1);
    }

    void validPath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("valid");
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("missing") << m_tmp.filePath("nope") << false;
        QTest::newRow("file") << m_tmp.filePath("file.txt") << true;
        QTest::newRow("folder") << m_tmp.path() << true;
        QTest::newRow("dangling link") << m_tmp.filePath("dangling") << false;
    }
    void validPath()
    {
        writeFile(m_tmp.filePath("file.txt"), "x");
        QFile::link(m_tmp.filePath("gone"), m_tmp.filePath("dangling"));
        QFETCH(QString, path);
        QFETCH(bool, valid);
        OrbViewLauncher view;
        QCOMPARE(view.IsValidPath(path), valid);
        QCOMPARE(OrbTestLog::Count(), 0);
    }

    void setInstallPath_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("existingDownloadFolder");
        QTest::addColumn<bool>("created");
        QTest::newRow("existing folder and download folder") << "games" << true << true;
        QTest::newRow("existing folder") << "games2" << false << true;
        // A fresh account: the chosen folder (and its parents) are made with it.
        QTest::newRow("missing parents") << "a/b/c" << false << false;
    }
    void setInstallPath()
    {
        QFETCH(QString, folder);
        QFETCH(bool, existingDownloadFolder);
        QFETCH(bool, created);
        const QString path = m_tmp.filePath(folder);
        if (created)
            QVERIFY(QDir().mkpath(path));
        if (existingDownloadFolder) {
            QVERIFY(QDir().mkpath(path + "/Orbdownload"));
            writeFile(path + "/Orbdownload/keep", "k");
        }
        setApp("InstallDirectory", "/elsewhere");
        setApp("DownLoadPath", "/elsewhere/Orbdownload");
        OrbViewLauncher view;
        view.SetInstallPath(path);
        QCOMPARE(app("InstallDirectory"), path);
        QCOMPARE(app("DownLoadPath"), path + "/Orbdownload");
        QVERIFY(QFileInfo(path + "/Orbdownload").isDir());
        if (existingDownloadFolder)
            QVERIFY(QFile::exists(path + "/Orbdownload/keep"));
        QCOMPARE(view.GetInstallPath(), path);
    }

    void modelQueries()
    {
        setBasic("GameNickName", "A");
        setBasic("Version", "1.0");
        setApp("Version", "v1.0.2");
        m_model->SetBool(OrbConfig::AppConfig, "valdane", "IsDownloadStart", true);
        m_model->SetBool(OrbConfig::AppConfig, "valdane", "IsDownloadFinish", false);
        m_model->SetBool(OrbConfig::AppConfig, "valdane", "IsInstallGmae", true);
        OrbViewLauncher view;
        QCOMPARE(view.GetInstallGameInfo(), QStringLiteral("A1.0"));
        QCOMPARE(view.GetGameNickName(), QStringLiteral("A"));
        QCOMPARE(view.GetVersionContent(), QStringLiteral("v1.0.2"));
        QCOMPARE(view.GetWebViewUrl(), QStringLiteral("http://127.0.0.1:9/page"));
        QVERIFY(view.IsDownloadStart());
        QVERIFY(!view.IsDownloadFinish());
        QVERIFY(view.IsInstall());
        QVERIFY(view.IsOpenMore());
        QVERIFY(view.GetDevicePixelRatio() > 0);
        for (const char* message : {"Get Install GameInfo", "Get Game Nick Name", "Get Version Content", "Get WebView Url",
                                    "Is Download Start", "Is Download Finish", "Is Install", "Is OpenMore",
                                    "Get Device Pixel Ratio"})
            QVERIFY2(!OrbTestLog::Lines(QString::fromLatin1(message)).isEmpty(), message);
        QVERIFY(OrbTestLog::Lines("cursonPos").isEmpty());
    }

    // Each scene request becomes the view's request signal, with its argument, and
    // its log line.
    void requests_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QVariant>("argument");
        QTest::addColumn<QByteArray>("signal");
        QTest::addColumn<QString>("message");
        const QVariant none;
        QTest::newRow("start install") << QByteArray("StartInstall") << none << QByteArray(SIGNAL(sigStartInstallGame())) << "Start Install";
        QTest::newRow("start play") << QByteArray("StartPlay") << none << QByteArray(SIGNAL(sigStartPlayGame())) << "Start Play";
        QTest::newRow("close all") << QByteArray("CloseAllGames") << none << QByteArray(SIGNAL(sigCloseAllGames())) << "Close All Games";
        QTest::newRow("update check") << QByteArray("UpdateCheckStart") << none << QByteArray(SIGNAL(sigUpdateCheckStart())) << "Update Check Start";
        QTest::newRow("launcher update") << QByteArray("LauncherUpdateStart") << none << QByteArray(SIGNAL(sigLauncherUpdateStart())) << "Launcher Update Start";
        QTest::newRow("launcher install") << QByteArray("LauncherInstall") << none << QByteArray(SIGNAL(sigLauncherInstall())) << "Launcher Update Install";
        QTest::newRow("folder chosen") << QByteArray("DownLoadBtnClick") << QVariant(QStringLiteral("/games"))
                                       << QByteArray(SIGNAL(sigDownLoadBtnClicked(QString))) << "DownLoad Btn Clicked";
        QTest::newRow("pause") << QByteArray("SetDownloadStatus") << QVariant(false)
                               << QByteArray(SIGNAL(sigSetDownloadStatus(bool))) << "Set Download Status";
    }
    void requests()
    {
        QFETCH(QByteArray, method);
        QFETCH(QVariant, argument);
        QFETCH(QByteArray, signal);
        QFETCH(QString, message);
        OrbViewLauncher view;
        QSignalSpy spy(&view, signal.constData());
        if (!argument.isValid())
            QVERIFY(QMetaObject::invokeMethod(&view, method.constData()));
        else if (argument.typeId() == QMetaType::Bool)
            QVERIFY(QMetaObject::invokeMethod(&view, method.constData(), Q_ARG(bool, argument.toBool())));
        else
            QVERIFY(QMetaObject::invokeMethod(&view, method.constData(), Q_ARG(QString, argument.toString())));
        QCOMPARE(spy.size(), 1);
        if (argument.isValid())
            QCOMPARE(spy[0][0], argument);
        QCOMPARE(OrbTestLog::Lines(message).size(), 1);
    }

    // The scene's interface as the meta-object shows it: every signal and method
    // the scene uses is there (their order is nobody's concern).
    void interfaceComplete()
    {
        const QMetaObject& mo = OrbViewLauncher::staticMetaObject;
        QSet<QString> signalNames, methodNames;
        for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
            const QMetaMethod m = mo.method(i);
            if (m.methodType() == QMetaMethod::Signal)
                signalNames << QString::fromLatin1(m.name());
            else if (m.methodType() == QMetaMethod::Method)
                methodNames << QString::fromLatin1(m.name());
        }
        const QSet<QString> expectedSignals = {
            "sigDownLoadBtnClicked", "sigDownloadBtnClickedCallback", "sigDownloadProgress", "sigDownloadStop",
            "sigDownloadFinish", "sigSetDownloadStatus", "sigStartInstallGame", "sigStartPlayGame", "sigProgressValue",
            "sigExtractGameFinished", "sigExtractLauncherFinish", "sigStartPlayGameCallback", "sigNotFoundExecutable",
            "sigUpdateCheckStart", "sigUpdateCheckCallback", "sigUpdateCheckFinish", "sigHintUpdate",
            "sigLauncherUpdateStart", "sigLauncherInstall", "sigUpdateGameHint", "sigCloseAllGames",
            "sigUpdateCheckFailed", "sigInstallFailed", "sigDownloadVerifyFailed", "sigDownloadFailed",
            "sigVerifyAndRepair", "sigRepairFinished"};
        QCOMPARE(signalNames, expectedSignals);
        const QSet<QString> expectedMethods = {
            "DownLoadBtnClick", "GetPathCapacity", "GetDownLoadFileSize", "SetDownloadStatus", "StartInstall",
            "StartPlay", "CloseAllGames", "UpdateCheckStart", "LauncherUpdateStart", "LauncherInstall",
            "IsDownloadStart", "IsDownloadFinish", "IsInstall", "IsOpenMore", "IsValidPath", "GetWebViewUrl",
            "GetInstallPath", "SetInstallPath", "GetVersionContent", "GetInstallGameInfo", "GetDiskSpace",
            "GetDevicePixelRatio", "GetGameNickName", "cursonPos", "NearestExistingFolder", "IsCreatablePath",
            "IsRepairAvailable", "VerifyAndRepair"};
        QCOMPARE(methodNames, expectedMethods);
    }

    // A chosen folder that does not exist yet is accepted when it can be made
    // below an existing writable folder; the folder dialog opens in that folder.
    void creatableFolder_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<QString>("nearest");
        QTest::addColumn<bool>("creatable");
        QTest::addColumn<bool>("valid");
        QTest::newRow("existing folder") << "home/Documents" << "home/Documents" << true << true;
        QTest::newRow("missing leaf") << "home/Documents/Games" << "home/Documents" << true << false;
        QTest::newRow("missing chain") << "home/Documents/a/b/c" << "home/Documents" << true << false;
        QTest::newRow("fresh account Documents") << "fresh/Documents" << "fresh" << true << false;
        QTest::newRow("trailing slash") << "home/Documents/Games/" << "home/Documents" << true << false;
        QTest::newRow("below a file") << "home/file.txt/Games" << "" << false << false;
        QTest::newRow("existing file") << "home/file.txt" << "" << false << true;
        if (QFileInfo(m_tmp.path()).isWritable() && ::geteuid() != 0)
            QTest::newRow("read-only parent") << "locked/Games" << "locked" << false << false;
    }

    void creatableFolder()
    {
        QFETCH(QString, relative);
        QFETCH(QString, nearest);
        QFETCH(bool, creatable);
        QFETCH(bool, valid);
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath("home/Documents"));
        QVERIFY(QDir(root.path()).mkpath("fresh"));
        QVERIFY(QDir(root.path()).mkpath("locked"));
        writeFile(root.filePath("home/file.txt"), "x");
        QFile::setPermissions(root.filePath("locked"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        OrbViewLauncher view;
        const QString path = root.path() + "/" + relative;
        QCOMPARE(view.NearestExistingFolder(path), nearest.isEmpty() ? QString() : root.path() + "/" + nearest);
        QCOMPARE(view.IsCreatablePath(path), creatable);
        QCOMPARE(view.IsValidPath(path), valid);
        // Nothing is made by asking.
        QVERIFY(!QFileInfo::exists(root.filePath("home/Documents/Games")));
        QFile::setPermissions(root.filePath("locked"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    void creatableFolderRejectsVagueText_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("empty") << "";
        QTest::newRow("blank") << "   ";
        QTest::newRow("relative") << "Games/Valdane";
    }

    void creatableFolderRejectsVagueText()
    {
        QFETCH(QString, path);
        OrbViewLauncher view;
        QCOMPARE(view.NearestExistingFolder(path), QString());
        QVERIFY(!view.IsCreatablePath(path));
    }

    void toggleBeforeAnyScene()
    {
        OrbViewLauncher view;
        QVERIFY(!view.onToggleVisibility(true));
        QVERIFY(!view.onClose());
        QVERIFY(!view.loadScene(QUrl::fromLocalFile(m_tmp.filePath("missing.qml"))));
        QVERIFY(!view.rootWindow());
    }

    void sceneWindowAndContext()
    {
        setBasic("GameSize", "30GB");
        writeFile(m_tmp.filePath("scene.qml"),
                  "import QtQuick\nimport QtQuick.Window\nWindow { visible: false; width: 100; height: 100\n"
                  "  property int size: ContextViewLauncher.GetDownLoadFileSize() }\n");
        writeFile(m_tmp.filePath("item.qml"), "import QtQuick\nItem {}\n");

        g_debug.clear();
        g_previous = qInstallMessageHandler(captureDebug);
        {
            OrbViewLauncher view;
            QVERIFY(view.prepare());
            QVERIFY(view.registerContext());
            QVERIFY(view.loadScene(QUrl::fromLocalFile(m_tmp.filePath("scene.qml"))));
            QQuickWindow* window = view.rootWindow();
            QVERIFY(window);
            QCOMPARE(window->property("size").toInt(), 31);
            view.requestShow();
            QVERIFY(window->isVisible());
            view.requestHide();
            QVERIFY(!window->isVisible());
            QVERIFY(view.onToggleVisibility(true));
            view.requestClose();
            QVERIFY(!window->isVisible());

            OrbViewLauncher other;
            QVERIFY(other.loadScene(QUrl::fromLocalFile(m_tmp.filePath("item.qml"))));
            QVERIFY(!other.rootWindow());
            QVERIFY(!other.onToggleVisibility(true));
        }
        qInstallMessageHandler(g_previous);
        const int launcher = g_debug.indexOf("~OrbViewLauncher called");
        const int base = g_debug.indexOf("~OrbViewBase called");
        QVERIFY(launcher >= 0);
        QVERIFY(base > launcher);
    }

    void missingModel()
    {
        m_registry.reset();
        OrbViewLauncher view;
        QCOMPARE(view.GetDownLoadFileSize(), 0);
        QCOMPARE(view.GetDiskSpace(), 0);
        QCOMPARE(view.GetInstallPath(), QString());
        QVERIFY(!view.IsInstall());
        view.SetInstallPath(m_tmp.filePath("never"));
        QVERIFY(!QFileInfo::exists(m_tmp.filePath("never/Orbdownload")));
    }
};

QTEST_MAIN(tst_OrbViewLauncher)
#include "tst_orbviewlauncher.moc"
