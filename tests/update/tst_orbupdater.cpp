// The external updater: a real update of a program folder from an unpacked
// package, roll-back when a file cannot be put in place, the bounded wait for the
// launcher's end, refused input, links, an interrupted earlier run, and the real
// program handing over from a running launcher to the new one.
#include "OrbTestFiles.h"
#include "OrbPackageManifest.h"
#include "OrbUpdater.h"

#include <QProcess>
#include <QtTest>

using orbtest::readAll;
using orbtest::writeFile;

namespace {

const QString kProgram = QStringLiteral("OrbLive");

// Every file below `dir` (links as "-> target"), relative path to content.
QMap<QString, QByteArray> snapshot(const QString& dir)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        const QString rel = QDir(dir).relativeFilePath(path);
        if (info.isSymLink())
            out.insert(rel, "-> " + info.symLinkTarget().toUtf8());
        else if (info.isDir())
            out.insert(rel + "/", QByteArray());
        else
            out.insert(rel, readAll(path));
    }
    return out;
}

void put(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    writeFile(path, data);
}

void copyExecutable(const QString& from, const QString& to)
{
    QDir().mkpath(QFileInfo(to).absolutePath());
    QFile::remove(to);
    QVERIFY(QFile::copy(from, to));
    QVERIFY(QFile::setPermissions(to, QFile::permissions(to) | QFile::ExeOwner | QFile::ExeUser));
}

} // namespace

class tst_OrbUpdater : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_program, m_package, m_logs;

    // An old launcher installation and a newer package beside it.
    void layout()
    {
        put(m_program + "/" + kProgram, "old launcher");
        put(m_program + "/build-id.txt", "old");
        put(m_program + "/config/game_settings.ini", "[launcher]\nVersion=1.0.3\n[Basic]\nGameName=valdane\nVersion=2.1\n");
        put(m_program + "/lib/a.txt", "old a");
        put(m_program + "/notes/user.txt", "the player's");

        put(m_package + "/" + kProgram, "new launcher");
        put(m_package + "/build-id.txt", "new");
        put(m_package + "/config/game_settings.ini", "[launcher]\nVersion=1.0.2\n[Basic]\nGameName=valdane\nVersion=1.0\n");
        put(m_package + "/lib/a.txt", "new a");
        put(m_package + "/lib/deep/b.txt", "new b");
        seal();
    }

    // The package as the launcher leaves it after accepting it: sealed as it is now.
    void seal() { QVERIFY(OrbPackageManifest::Write(m_package)); }

    OrbUpdater::Options options() const
    {
        OrbUpdater::Options o;
        o.sourceDir = m_package;
        o.programDir = m_program;
        o.programFile = kProgram;
        o.startLauncher = false;
        o.logDir = m_logs;
        o.isRunning = [](const QString&) { return false; };
        return o;
    }

private slots:
    void init()
    {
        m_tmp = std::make_unique<QTemporaryDir>();
        m_program = m_tmp->filePath("program");
        m_package = m_tmp->filePath("program/backup");
        m_logs = m_tmp->filePath("logs");
    }

    void updatesAndKeepsTheSettings()
    {
        layout();
        const QByteArray settings = readAll(m_program + "/config/game_settings.ini");
        OrbUpdater updater(options());
        QCOMPARE(updater.run(), OrbUpdater::Updated);
        QCOMPARE(readAll(m_program + "/" + kProgram), QByteArray("new launcher"));
        QCOMPARE(readAll(m_program + "/build-id.txt"), QByteArray("new"));
        QCOMPARE(readAll(m_program + "/lib/a.txt"), QByteArray("new a"));
        QCOMPARE(readAll(m_program + "/lib/deep/b.txt"), QByteArray("new b"));
        QCOMPARE(readAll(m_program + "/notes/user.txt"), QByteArray("the player's"));
        // The launcher's advanced versions stay: the same update is not offered again.
        QCOMPARE(readAll(m_program + "/config/game_settings.ini"), settings);
        for (const char* work : {OrbUpdater::kStageName, OrbUpdater::kStashName, OrbUpdater::kJournalName})
            QVERIFY2(!QFileInfo::exists(m_program + "/" + work), work);
        // The package itself is not copied into itself.
        QVERIFY(!QFileInfo::exists(m_program + "/backup/backup"));
        QVERIFY(QFileInfo(updater.logFile()).isFile());
        QVERIFY(readAll(updater.logFile()).contains("update complete"));
    }

    void settingsOfAFreshFolderComeFromThePackage()
    {
        layout();
        QFile::remove(m_program + "/config/game_settings.ini");
        QCOMPARE(OrbUpdater(options()).run(), OrbUpdater::Updated);
        QCOMPARE(readAll(m_program + "/config/game_settings.ini"), readAll(m_package + "/config/game_settings.ini"));
    }

    // "z/in-the-way" comes last in order, after the other files were replaced.
    void aFileThatCannotBePlacedRollsEverythingBack()
    {
        layout();
        put(m_package + "/z/in-the-way", "new");
        seal();
        put(m_program + "/z/in-the-way/held", "a folder where the package has a file");
        const auto before = snapshot(m_program);
        OrbUpdater updater(options());
        QCOMPARE(updater.run(), OrbUpdater::CopyFailed);
        auto after = snapshot(m_program);
        QCOMPARE(after, before);
        QVERIFY(updater.log().join("\n").contains("rolled back"));
        QVERIFY(readAll(updater.logFile()).contains("a folder is in the way of z/in-the-way"));
    }

    void aLauncherThatNeverEndsStopsTheWait()
    {
        layout();
        const auto before = snapshot(m_program);
        OrbUpdater::Options o = options();
        o.waitTimeoutMs = 300;
        o.pollIntervalMs = 20;
        int asked = 0;
        QString askedFor;
        o.isRunning = [&](const QString& p) {
            ++asked;
            askedFor = p;
            return true;
        };
        QElapsedTimer timer;
        timer.start();
        OrbUpdater updater(o);
        QCOMPARE(updater.run(), OrbUpdater::LauncherStillRunning);
        QVERIFY(asked > 1);
        QCOMPARE(QFileInfo(askedFor).fileName(), kProgram);
        QCOMPARE(snapshot(m_program), before);
        QVERIFY(readAll(updater.logFile()).contains("still running"));
    }

    void refusedInput_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::newRow("package without the program") << "no-program";
        QTest::newRow("program name with a folder") << "slash";
        QTest::newRow("program name ..") << "dotdot";
        QTest::newRow("package is the program folder") << "same";
        QTest::newRow("missing package") << "missing";
    }
    void refusedInput()
    {
        QFETCH(QString, setup);
        layout();
        OrbUpdater::Options o = options();
        if (setup == "no-program")
            QFile::remove(m_package + "/" + kProgram);
        else if (setup == "slash")
            o.programFile = "../OrbLive";
        else if (setup == "dotdot")
            o.programFile = "..";
        else if (setup == "same")
            o.sourceDir = m_program;
        else if (setup == "missing")
            o.sourceDir = m_tmp->filePath("nothing");
        const auto before = snapshot(m_program);
        QCOMPARE(OrbUpdater(o).run(), OrbUpdater::BadArguments);
        QCOMPARE(snapshot(m_program), before);
    }

    void linksAreNeverFollowed()
    {
        layout();
        const QString outside = m_tmp->filePath("outside");
        put(outside + "/precious.txt", "outside");
        // A link in the package is not copied; a link in the program folder is not written through.
        QVERIFY(QFile::link(outside, m_package + "/evil"));
        put(m_package + "/data/file.txt", "new data");
        seal();
        QVERIFY(QFile::link(outside, m_program + "/data"));
        const auto before = snapshot(m_program);
        OrbUpdater updater(options());
        QCOMPARE(updater.run(), OrbUpdater::CopyFailed);
        QCOMPARE(snapshot(m_program), before);
        QCOMPARE(snapshot(outside), (QMap<QString, QByteArray>{{"precious.txt", "outside"}}));
        QVERIFY(updater.log().join("\n").contains("skipped link evil"));

        // Without the link in the way the update goes through, still without the package's link.
        QFile::remove(m_program + "/data");
        QCOMPARE(OrbUpdater(options()).run(), OrbUpdater::Updated);
        QVERIFY(!QFileInfo(m_program + "/evil").exists() && !QFileInfo(m_program + "/evil").isSymLink());
        QCOMPARE(readAll(m_program + "/data/file.txt"), QByteArray("new data"));
        QCOMPARE(snapshot(outside), (QMap<QString, QByteArray>{{"precious.txt", "outside"}}));
    }

    // An updater killed halfway left one file replaced; the next run undoes that
    // before anything else, so a failing retry still ends with the old launcher.
    void anInterruptedRunIsUndoneFirst()
    {
        layout();
        put(m_package + "/z/in-the-way", "new");
        seal();
        const auto before = snapshot(m_program);
        put(m_program + "/" + OrbUpdater::kStashName + "/lib/a.txt", "old a");
        writeFile(m_program + "/lib/a.txt", "half-updated a");
        put(m_program + "/" + OrbUpdater::kJournalName, "1 lib/a.txt\n0 lib/new-in-interrupted.txt\n");
        put(m_program + "/lib/new-in-interrupted.txt", "left by the killed run");
        put(m_program + "/z/in-the-way/held", "x");
        auto expected = before;
        expected.insert("z/", QByteArray());
        expected.insert("z/in-the-way/", QByteArray());
        expected.insert("z/in-the-way/held", "x");
        OrbUpdater updater(options());
        QCOMPARE(updater.run(), OrbUpdater::CopyFailed);
        QVERIFY(updater.log().join("\n").contains("interrupted"));
        QCOMPARE(snapshot(m_program), expected);
    }

    // Links planted where the updater keeps its work: a work folder or the
    // journal linked elsewhere, or a journal whose steps lead through a link.
    // The linked place stays byte for byte as it was, the update is refused and
    // the program folder is unchanged.
    void plantedLinksAreRefused_data()
    {
        QTest::addColumn<QString>("plant");
        QTest::newRow("staging folder linked to a folder") << "stage";
        QTest::newRow("stash folder linked to a folder") << "stash";
        QTest::newRow("journal linked to a file") << "journal";
        QTest::newRow("journal step through a linked folder") << "journal-step";
        QTest::newRow("journal step through a linked stash subfolder") << "stash-step";
    }
    void plantedLinksAreRefused()
    {
        QFETCH(QString, plant);
        layout();
        const QString outside = m_tmp->filePath("outside");
        put(outside + "/precious.txt", "outside");
        put(outside + "/lib/a.txt", "outside a");
        put(outside + "/deep/er/file.bin", "deep");
        const QString journal = m_program + "/" + OrbUpdater::kJournalName;
        const QString stash = m_program + "/" + OrbUpdater::kStashName;
        if (plant == "stage") {
            QVERIFY(QFile::link(outside, m_program + "/" + OrbUpdater::kStageName));
        } else if (plant == "stash") {
            QVERIFY(QFile::link(outside, stash));
        } else if (plant == "journal") {
            QVERIFY(QFile::link(outside + "/precious.txt", journal));
        } else if (plant == "journal-step") {
            // An interrupted run "created" data/precious.txt and "replaced" data/lib/a.txt,
            // but data is a link: undoing those steps must not reach outside.
            QVERIFY(QFile::link(outside, m_program + "/data"));
            put(stash + "/data/lib/a.txt", "from the stash");
            put(journal, "0 data/precious.txt\n1 data/lib/a.txt\n");
        } else {
            // The stash's own subfolder is a link: putting "back" lib/a.txt would
            // move the outside file into the program folder.
            QDir().mkpath(stash);
            QVERIFY(QFile::link(outside + "/lib", stash + "/lib"));
            put(journal, "1 lib/a.txt\n");
        }
        const auto outsideBefore = snapshot(outside);
        const auto before = snapshot(m_program);
        OrbUpdater updater(options());
        const OrbUpdater::Result result = updater.run();
        QCOMPARE(snapshot(outside), outsideBefore);
        if (plant == "journal-step" || plant == "stash-step") {
            // The unsafe steps are left, the rest of the run goes on normally.
            QVERIFY2(updater.log().join("\n").contains("passes through a link"), qPrintable(updater.log().join("\n")));
            QCOMPARE(result, OrbUpdater::Updated);
            QCOMPARE(readAll(m_program + "/build-id.txt"), QByteArray("new"));
            if (plant == "journal-step")
                QVERIFY(QFileInfo(m_program + "/data").isSymLink());
            else
                QCOMPARE(readAll(m_program + "/lib/a.txt"), QByteArray("new a"));
        } else {
            QCOMPARE(result, OrbUpdater::UnsafeWorkFolder);
            QVERIFY(int(result) != 0);
            QCOMPARE(snapshot(m_program), before);
            QVERIFY2(updater.log().join("\n").contains("is a link"), qPrintable(updater.log().join("\n")));
        }
    }

    // The real program refuses too, with its exit code.
    void theProgramRefusesALinkedWorkFolder()
    {
        layout();
        const QString outside = m_tmp->filePath("outside");
        put(outside + "/precious.txt", "outside");
        QVERIFY(QFile::link(outside, m_program + "/" + OrbUpdater::kStashName));
        const auto before = snapshot(m_program);
        QProcess updater;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", m_logs);
        updater.setProcessEnvironment(env);
        updater.start(ORB_UPDATE_PROGRAM, {m_package, m_program, kProgram});
        QVERIFY(updater.waitForFinished(20000));
        QCOMPARE(updater.exitCode(), int(OrbUpdater::UnsafeWorkFolder));
        QCOMPARE(snapshot(outside), (QMap<QString, QByteArray>{{"precious.txt", "outside"}}));
        QCOMPARE(snapshot(m_program), before);
    }

    // What does not match the seal is never installed, and nothing changes.
    void onlyTheSealedPackageIsInstalled_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("no seal") << "no seal";
        QTest::newRow("a file changed after sealing") << "changed";
        QTest::newRow("a file added after sealing") << "added";
        QTest::newRow("a sealed file removed") << "removed";
        QTest::newRow("a broken seal") << "broken";
    }
    void onlyTheSealedPackageIsInstalled()
    {
        QFETCH(QString, change);
        layout();
        const OrbUpdater::Options o = options();
        const QString seal = m_package + "/" + OrbPackageManifest::kFileName;
        if (change == "no seal")
            QVERIFY(QFile::remove(seal));
        else if (change == "changed")
            writeFile(m_package + "/lib/deep/b.txt", "not what was accepted");
        else if (change == "added")
            put(m_package + "/lib/extra.so", "smuggled");
        else if (change == "removed")
            QVERIFY(QFile::remove(m_package + "/lib/a.txt"));
        else
            writeFile(seal, "OrbPackage 1\nnot a line\n");
        const auto before = snapshot(m_program);  // holds the package too
        OrbUpdater updater(o);
        QCOMPARE(updater.run(), OrbUpdater::NotSealed);
        QCOMPARE(snapshot(m_program), before);
        QVERIFY(updater.log().join("\n").contains("nothing was changed"));
    }

    // The real program: it waits while the old launcher runs, then replaces the
    // files and starts the new launcher, which reads the kept settings.
    void realHandOver()
    {
        layout();
        copyExecutable(ORB_FAKE_LAUNCHER, m_program + "/" + kProgram);
        copyExecutable(ORB_FAKE_LAUNCHER, m_package + "/" + kProgram);
        seal();
        writeFile(m_program + "/stay", "");
        QProcess oldLauncher;
        oldLauncher.start(m_program + "/" + kProgram, {});
        QVERIFY(oldLauncher.waitForStarted());
        QTRY_VERIFY(readAll(m_program + "/started.log").contains("started:old:1.0.3"));

        QProcess updater;
        updater.start(ORB_UPDATE_PROGRAM, {QDir::toNativeSeparators(m_package), QDir::toNativeSeparators(m_program + "/"), kProgram});
        QVERIFY(updater.waitForStarted());
        QVERIFY(!updater.waitForFinished(1500));  // still waiting for the launcher
        QCOMPARE(readAll(m_program + "/build-id.txt"), QByteArray("old"));

        QFile::remove(m_program + "/stay");
        QVERIFY(oldLauncher.waitForFinished(10000));
        QVERIFY(updater.waitForFinished(20000));
        QCOMPARE(updater.exitStatus(), QProcess::NormalExit);
        QCOMPARE(updater.exitCode(), int(OrbUpdater::Updated));
        QCOMPARE(readAll(m_program + "/build-id.txt"), QByteArray("new"));
        QTRY_VERIFY_WITH_TIMEOUT(readAll(m_program + "/started.log").contains("started:new:1.0.3"), 10000);

        // Its log is in the launcher's log folder of this (temporary) user.
        const QDir logs(OrbUpdater::DefaultLogDir());
        const QStringList files = logs.entryList({"OrbUpdate-*.log"}, QDir::Files);
        QVERIFY(!files.isEmpty());
        QVERIFY(readAll(logs.filePath(files.last())).contains("started "));
    }
};

QTEST_GUILESS_MAIN(tst_OrbUpdater)
#include "tst_orbupdater.moc"
