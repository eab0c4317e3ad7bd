// The workflow's pure rules: URL file names, version order, decimal flags, the
// game folder, the executable's name and the search for it.
#include "OrbTestFiles.h"
#include "workflow/OrbWorkflowRules.h"

#include <QtTest>

using namespace OrbWorkflowRules;

class tst_OrbWorkflowRules : public QObject {
    Q_OBJECT
private slots:
    void fileNameOfUrl_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("name");
        QTest::newRow("settings") << "http://127.0.0.1/cfg/game_settings.ini" << "game_settings.ini";
        QTest::newRow("no slash") << "game_settings.ini" << "game_settings.ini";
        QTest::newRow("trailing slash") << "http://127.0.0.1/cfg/" << "";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("query") << "http://127.0.0.1/p/game.zip?token=a/b" << "game.zip";
        QTest::newRow("fragment") << "http://127.0.0.1/p/game.zip#x/y" << "game.zip";
        QTest::newRow("backslash") << "http://127.0.0.1/p/..\\..\\evil.exe" << "";
        QTest::newRow("dot dot") << "http://127.0.0.1/p/.." << "";
        QTest::newRow("dot") << "http://127.0.0.1/p/." << "";
        QTest::newRow("drive") << "C:evil.exe" << "";
        QTest::newRow("two dots inside") << "http://127.0.0.1/p/game..zip" << "game..zip";
    }
    void fileNameOfUrl()
    {
        QFETCH(QString, url);
        QFETCH(QString, name);
        QCOMPARE(FileNameOfUrl(url), name);
    }

    void versions_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("local");
        QTest::addColumn<bool>("newer");
        QTest::newRow("patch") << "1.0.3" << "1.0.2" << true;
        QTest::newRow("equal") << "1.0.3" << "1.0.3" << false;
        QTest::newRow("older") << "1.0.1" << "1.0.2" << false;
        QTest::newRow("letter prefix") << "v1.0.3" << "1.0.2" << false;
        QTest::newRow("empty local") << "1.0.0" << "" << true;
        QTest::newRow("letter local") << "1.0.0" << "v1.0.2" << true;
        QTest::newRow("empty server") << "" << "1.0.2" << false;
        QTest::newRow("game") << "2.1" << "2.0" << true;
    }
    void versions()
    {
        QFETCH(QString, server);
        QFETCH(QString, local);
        QFETCH(bool, newer);
        QCOMPARE(IsNewerVersion(server, local), newer);
    }

    void decimal_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("1") << "1" << 1;
        QTest::newRow("0") << "0" << 0;
        QTest::newRow("word") << "yes" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("hex") << "0x1" << 0;
    }
    void decimal()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(DecimalOrZero(text), value);
    }

    void gameFolder_data()
    {
        QTest::addColumn<QString>("install");
        QTest::addColumn<QString>("folder");
        QTest::newRow("windows plain") << "D:/Games" << "D:/Games/valdane";
        QTest::newRow("windows name inside") << "D:/valdane_old/x" << "D:/valdane_old/x";
        QTest::newRow("linux plain") << "/home/p/Games" << "/home/p/Games/valdane";
        QTest::newRow("linux name inside") << "/srv/valdane_old/x" << "/srv/valdane_old/x";
        QTest::newRow("case differs") << "/srv/Valdane" << "/srv/Valdane/valdane";
    }
    void gameFolder()
    {
        QFETCH(QString, install);
        QFETCH(QString, folder);
        QCOMPARE(GameFolder(install, "valdane"), folder);
    }

    void executableName()
    {
#ifdef Q_OS_WIN
        QCOMPARE(ExecutableName("valdane"), QStringLiteral("valdane.exe"));
#else
        QCOMPARE(ExecutableName("valdane"), QStringLiteral("valdane"));
#endif
    }

    // The client is started exactly where the installation put it: a file of the
    // same name elsewhere below the folder (or outside it) is never taken.
    void executableBelow_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<bool>("found");
        QTest::newRow("recorded") << "bin/x64/valdane" << true;
        QTest::newRow("same name elsewhere") << "valdane" << false;
        QTest::newRow("not executable") << "bin/readme.txt" << false;
        QTest::newRow("leaves the folder") << "../outside/valdane" << false;
        QTest::newRow("absolute") << "/bin/sh" << false;
        QTest::newRow("a folder") << "bin" << false;
        QTest::newRow("empty") << "" << false;
    }
    void executableBelow()
    {
        QFETCH(QString, relative);
        QFETCH(bool, found);
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("game/bin/x64")));
        QVERIFY(QDir().mkpath(dir.filePath("outside")));
        QVERIFY(QDir().mkpath(dir.filePath("game/tools")));
        for (const char* path : {"game/bin/x64/valdane", "game/tools/valdane", "outside/valdane", "game/bin/readme.txt"}) {
            orbtest::writeFile(dir.filePath(path), "client");
            if (!QString::fromLatin1(path).endsWith(".txt"))
                QFile::setPermissions(dir.filePath(path), QFile::permissions(dir.filePath(path)) | QFile::ExeOwner);
        }
        const QString game = dir.filePath("game");
        QCOMPARE(ExecutableBelow(game, relative), found ? QDir::cleanPath(game + "/" + relative) : QString());
    }

    void recordedExecutable()
    {
        const QStringList written = {"tools/", "tools/deep/", "tools/deep/valdane", "bin/", "bin/valdane",
                                     "bin/Valdane", "valdane/"};
        QCOMPARE(RecordedExecutable(written, "valdane"), QStringLiteral("bin/valdane"));
        QCOMPARE(RecordedExecutable({"valdane/", "data/x"}, "valdane"), QString());
    }
};

QTEST_GUILESS_MAIN(tst_OrbWorkflowRules)
#include "tst_orbworkflowrules.moc"
