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

    void executableSearch()
    {
        QTemporaryDir dir;
        const QString name = ExecutableName("valdane");
#ifdef Q_OS_WIN
        QCOMPARE(name, QStringLiteral("valdane.exe"));
#else
        QCOMPARE(name, QStringLiteral("valdane"));
#endif
        QVERIFY(QDir().mkpath(dir.filePath("bin/x64")));
        orbtest::writeFile(dir.filePath("Valdane"), "wrong case");
        orbtest::writeFile(dir.filePath("bin/readme.txt"), "");
        QCOMPARE(FindExecutable(dir.path(), name), QString());
        orbtest::writeFile(dir.filePath("bin/x64/") + name, "client");
        QCOMPARE(FindExecutable(dir.path(), name), dir.filePath("bin/x64/") + name);
        QCOMPARE(FindExecutable(QString(), name), QString());
    }
};

QTEST_GUILESS_MAIN(tst_OrbWorkflowRules)
#include "tst_orbworkflowrules.moc"
