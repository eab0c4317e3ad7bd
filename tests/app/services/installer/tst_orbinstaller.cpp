#include "OrbTestFiles.h"
#include "OrbTestZip.h"
#include "services/installer/OrbInstaller.h"

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipnewinfo.h>

#include <QtTest>

#include <QCryptographicHash>
#include <QDirIterator>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QStringEncoder>

#include <memory>

#include <zlib.h>

using namespace orbtest;

namespace {

// Everything below `folder` (without following links), except `skip`:
// type, mode, size, link target and a content hash per path.
QMap<QString, QString> snapshot(const QString& folder, const QString& skip = {})
{
    QMap<QString, QString> out;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!skip.isEmpty() && (path == skip || path.startsWith(skip + "/")))
            continue;
        const QFileInfo info(path);
        QString desc = QString::number(int(info.permissions()), 16);
        if (info.isSymLink()) {
            desc += " link " + info.symLinkTarget();
        } else if (info.isDir()) {
            desc += " dir";
        } else {
            QFile f(path);
            f.open(QIODevice::ReadOnly);
            desc += " file " + QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1).toHex();
        }
        out.insert(path, desc);
    }
    return out;
}

// Owner, group and other bits; the "User" bits depend on who runs the test.
QFile::Permissions modeOf(const QString& path)
{
    return QFileInfo(path).permissions() & ~QFile::Permissions(0x0700);
}

QStringList treeBelow(const QString& folder)
{
    QStringList paths;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths << it.next().mid(folder.size() + 1);
    paths.sort();
    return paths;
}

struct Run {
    QList<int> progress;
    QStringList captions;
    QStringList order; // signals in arrival order: "report", "game", "launcher"
    OrbExtractReport report;
    OrbExtractReport lastReport; // what the installer's accessor gave afterwards
};

QStringList skippedNames(const OrbExtractReport& report)
{
    QStringList names;
    for (const OrbSkippedEntry& s : report.skipped)
        names << s.name;
    return names;
}

} // namespace

Q_DECLARE_METATYPE(ZipEntry)
Q_DECLARE_METATYPE(RawEntry)

class tst_OrbInstaller : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void progressAndCompletion_data();
    void progressAndCompletion();
    void nothingToExtract_data();
    void nothingToExtract();
    void directoriesAndPermissions();
    void reinstallOverPreviousInstall();
    void checksumFailureRollsBack();
    void hostileArchive_data();
    void hostileArchive();
    void packageInsideDestination();
    void extractEntryAlone();
    void uninitCancelsRunningExtraction();
    void taskOutlivesDestroyedInstaller();
    void secondExtractionTakesOver();

    void namesMadeOnWindows_data();
    void namesMadeOnWindows();
    void overlappingEntriesAreRefused();
    void anEntryInflatingPastItsDeclaredSizeFails();
    void declaredSizesBeyondTheFreeSpaceFail();
    void aFailedUpdateKeepsThePreviousInstallation_data();
    void aFailedUpdateKeepsThePreviousInstallation();
    void parallelMatchesSerial_data();
    void parallelMatchesSerial();
    void directoryRecordsMustAgree_data();
    void directoryRecordsMustAgree();
    void reportListsWhatWasWritten_data();
    void reportListsWhatWasWritten();

    void removeDirContents();
    void removeDirContentsTakesHiddenEntriesAndDanglingLinks();
    void removeDirContentsOfMissingFolder();
    void protectedFolders_data();
    void protectedFolders();
    void removeDirContentsRefusesProtected();

private:
    // Runs one extraction to its end on a fresh installer.
    Run extract(const QString& archive, const QString& dest, IOrbArchieve::extractType type = IOrbArchieve::extractGame,
                int threads = 0, const QByteArray& codePage = {});
    QString path(const QString& rel) const { return m_tmp->filePath(rel); }

    std::unique_ptr<QTemporaryDir> m_tmp;
};

void tst_OrbInstaller::init()
{
    // Folder emptying is tried on HOME itself: only ever on the private one the
    // test runner sets up, never on a real user's.
    if (!QDir::homePath().contains(QStringLiteral("/orbtest.")))
        QSKIP("needs the private HOME of the test runner (run through ctest)");
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
    QVERIFY(QDir().mkpath(path("outside")));
    QVERIFY(QDir().mkpath(path("dest")));
    QFile outsideFile(path("outside/keep.txt"));
    QVERIFY(outsideFile.open(QIODevice::WriteOnly));
    outsideFile.write("precious");
    outsideFile.close();
    QVERIFY(QFile::setPermissions(path("outside/keep.txt"), QFile::ReadOwner | QFile::WriteOwner));
}

void tst_OrbInstaller::cleanup()
{
    // Undo restrictive modes archives may have left so the folder can go.
    QDirIterator it(m_tmp->path(), QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext())
        QFile::setPermissions(it.next(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_tmp.reset();
}

Run tst_OrbInstaller::extract(const QString& archive, const QString& dest, IOrbArchieve::extractType type,
                              int threads, const QByteArray& codePage)
{
    Run run;
    OrbInstaller installer;
    installer.Init();
    installer.setExtractThreads(threads);
    if (!codePage.isEmpty())
        installer.setLegacyCodePage(codePage);
    connect(&installer, &OrbInstaller::sigProgressValue, this, [&run](int value, const QString& caption) {
        run.progress << value;
        run.captions << caption;
    });
    connect(&installer, &OrbInstaller::sigExtractReport, this, [&run](const OrbExtractReport& r) {
        run.order << "report";
        run.report = r;
    });
    connect(&installer, &OrbInstaller::sigExtractGameFinished, this, [&run] { run.order << "game"; });
    connect(&installer, &OrbInstaller::sigExtractLauncherFinish, this, [&run] { run.order << "launcher"; });
    QSignalSpy game(&installer, &OrbInstaller::sigExtractGameFinished);
    QSignalSpy launcher(&installer, &OrbInstaller::sigExtractLauncherFinish);
    installer.extractDir(archive, dest, type);
    if (!(type == IOrbArchieve::extractGame ? game : launcher).wait(20000))
        qWarning("no completion signal");
    QTest::qWait(20); // a second completion would arrive here
    run.lastReport = installer.lastExtractReport();
    installer.Uninit();
    return run;
}

// ---- extraction ------------------------------------------------------------

void tst_OrbInstaller::progressAndCompletion_data()
{
    QTest::addColumn<QList<ZipEntry>>("entries");
    QTest::addColumn<int>("type");
    QTest::addColumn<QList<int>>("possible"); // values the task sets, in order
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QStringList>("skipped");

    const QList<ZipEntry> three = {file("a.txt", "a"), file("b.txt", "bb"), file("c.txt", "ccc")};
    QTest::newRow("three entries, game") << three << int(IOrbArchieve::extractGame) << QList<int>{33, 66, 100}
                                         << int(OrbExtractReport::Complete) << QStringList();
    QTest::newRow("three entries, launcher") << three << int(IOrbArchieve::extractLauncher)
                                             << QList<int>{33, 66, 100} << int(OrbExtractReport::Complete)
                                             << QStringList();
    QTest::newRow("one entry") << QList<ZipEntry>{file("only.txt", "x")} << int(IOrbArchieve::extractGame)
                               << QList<int>{100} << int(OrbExtractReport::Complete) << QStringList();
    QTest::newRow("one of two climbs out")
        << QList<ZipEntry>{file("../escape.txt", "x"), file("ok.txt", "y")} << int(IOrbArchieve::extractGame)
        << QList<int>{50} << int(OrbExtractReport::Partial) << QStringList{"../escape.txt"};
}

void tst_OrbInstaller::progressAndCompletion()
{
    QFETCH(QList<ZipEntry>, entries);
    QFETCH(int, type);
    QFETCH(QList<int>, possible);
    QFETCH(int, outcome);
    QFETCH(QStringList, skipped);

    QVERIFY(writeZip(path("p.zip"), entries));
    const Run run = extract(path("p.zip"), path("dest"), IOrbArchieve::extractType(type));

    // Qt's future interface coalesces steps that come within 40 ms of each other,
    // so on a busy machine any step may be dropped but the last one.
    QVERIFY(!run.progress.isEmpty());
    QCOMPARE(run.progress.last(), possible.last());
    int at = 0;
    for (int value : run.progress) {
        while (at < possible.size() && possible.at(at) != value)
            ++at;
        QVERIFY2(at < possible.size(), "progress value the task never set, or out of order");
        ++at;
    }
    const QString caption = type == IOrbArchieve::extractGame ? QStringLiteral("游戏安装进度")
                                                              : QStringLiteral("启动器安装进度");
    for (const QString& c : run.captions)
        QCOMPARE(c, caption);

    const QString completion = type == IOrbArchieve::extractGame ? "game" : "launcher";
    QCOMPARE(run.order, (QStringList{"report", completion}));
    QCOMPARE(int(run.report.outcome), outcome);
    QCOMPARE(run.lastReport.outcome, run.report.outcome);
    QCOMPARE(skippedNames(run.report), skipped);
    QCOMPARE(run.report.extractedCount, entries.size() - skipped.size());
    QCOMPARE(run.report.entryCount, entries.size());
    QVERIFY(run.report.installed());
    QVERIFY(!QFile::exists(path("escape.txt")));
    for (const ZipEntry& e : entries) {
        if (!skipped.contains(e.name))
            QCOMPARE(readAll(path("dest/") + e.name), e.data);
    }
}

void tst_OrbInstaller::nothingToExtract_data()
{
    QTest::addColumn<QString>("archive");
    QTest::addColumn<QString>("dest");
    QTest::newRow("missing archive") << "missing.zip" << "dest/game";
    QTest::newRow("archive without entries") << "empty.zip" << "dest/game";
    QTest::newRow("not a zip") << "junk.zip" << "dest/game";
    QTest::newRow("every entry unsafe") << "unsafe.zip" << "dest/game";
    QTest::newRow("no destination folder") << "good.zip" << "";
}

void tst_OrbInstaller::nothingToExtract()
{
    QFETCH(QString, archive);
    QFETCH(QString, dest);
    QVERIFY(writeZip(path("empty.zip"), {}));
    QVERIFY(writeZip(path("unsafe.zip"), {file("../a", "x"), file("/abs", "y")}));
    QVERIFY(writeZip(path("good.zip"), {file("a.txt", "x")}));
    QFile junk(path("junk.zip"));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write("this is not an archive");
    junk.close();

    const QString destPath = dest.isEmpty() ? QString() : path(dest);
    const Run run = extract(path(archive), destPath);
    QVERIFY(run.progress.isEmpty());
    QCOMPARE(run.order, (QStringList{"report", "game"}));
    QCOMPARE(run.report.outcome, OrbExtractReport::Failed);
    QVERIFY(!run.report.installed());
    QVERIFY(!run.report.error.isEmpty());
    QVERIFY(!QFileInfo::exists(path("dest/game"))); // a failed run leaves no folder behind
    QVERIFY(!QFileInfo::exists(QDir::currentPath() + "/a.txt"));
    if (QFile::exists(path(archive)))
        QVERIFY(QFileInfo(path(archive)).size() > 0); // the package is never touched
}

void tst_OrbInstaller::directoriesAndPermissions()
{
    QVERIFY(writeZip(path("d.zip"), {
                                        dir("a/b/c/", 0750),
                                        file("a/b/c/run.sh", "#!/bin/sh\n", 0755),
                                        file("a/readonly.txt", "r", 0444),
                                        dir("plain/"),
                                        file("deep/er/file.txt", "no folder entries before me"),
                                    }));
    const Run run = extract(path("d.zip"), path("dest"));
    QCOMPARE(run.report.outcome, OrbExtractReport::Complete);

    const QFileInfo c(path("dest/a/b/c"));
    QVERIFY(c.isDir());
    QCOMPARE(modeOf(c.filePath()),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup);
    QVERIFY(QFileInfo(path("dest/a/b/c/run.sh")).isExecutable());
    QVERIFY(QFileInfo(path("dest/a/b/c/run.sh")).permissions().testFlag(QFile::ExeOther));
    QCOMPARE(modeOf(path("dest/a/readonly.txt")), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    QVERIFY(QFileInfo(path("dest/plain")).isDir());
    QCOMPARE(readAll(path("dest/deep/er/file.txt")), QByteArray("no folder entries before me"));
}

void tst_OrbInstaller::reinstallOverPreviousInstall()
{
    QVERIFY(writeZip(path("r.zip"), {file("lib/libgame.so.1", "v1"), lnkEntry("lib/libgame.so", "libgame.so.1"),
                                     file("game", "bin")}));
    QCOMPARE(extract(path("r.zip"), path("dest")).report.outcome, OrbExtractReport::Complete);
    QVERIFY(writeZip(path("r.zip"), {file("lib/libgame.so.2", "v2"), lnkEntry("lib/libgame.so", "libgame.so.2"),
                                     file("game", "bin2")}));
    const Run second = extract(path("r.zip"), path("dest"));
    QCOMPARE(second.report.outcome, OrbExtractReport::Complete);
    QCOMPARE(QFileInfo(path("dest/lib/libgame.so")).symLinkTarget(), path("dest/lib/libgame.so.2"));
    QCOMPARE(readAll(path("dest/lib/libgame.so")), QByteArray("v2"));
    QCOMPARE(readAll(path("dest/game")), QByteArray("bin2"));
}

void tst_OrbInstaller::checksumFailureRollsBack()
{
    // Stored entries keep their bytes verbatim, so flipping one breaks only the CRC.
    ZipEntry bad = file("later/bad.bin", "GOODDATA-GOODDATA");
    bad.stored = true;
    QVERIFY(writeZip(path("c.zip"), {file("first.txt", "1"), dir("sub/"), file("sub/second.txt", "2"), bad,
                                     file("never.txt", "3")}));
    {
        QFile f(path("c.zip"));
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        QVERIFY(bytes.contains("GOODDATA-GOODDATA"));
        bytes.replace("GOODDATA-GOODDATA", "GOODDATA-BADDATA!");
        f.seek(0);
        f.write(bytes);
    }
    // What was there before the run is not the run's to remove.
    QVERIFY(QDir().mkpath(path("dest/sub")));
    QFile before(path("dest/sub/mine.txt"));
    QVERIFY(before.open(QIODevice::WriteOnly));
    before.close();
    const qint64 archiveSize = QFileInfo(path("c.zip")).size();

    const Run run = extract(path("c.zip"), path("dest"));
    QCOMPARE(run.report.outcome, OrbExtractReport::Failed);
    QCOMPARE(run.report.failedEntry, QString("later/bad.bin"));
    QVERIFY(!run.report.installed());
    QCOMPARE(run.order, (QStringList{"report", "game"}));
    QVERIFY(!run.progress.isEmpty());
    QVERIFY(run.progress.last() <= 60); // three of five entries were written before the failure

    QVERIFY(!QFileInfo::exists(path("dest/later/bad.bin")));
    QVERIFY(!QFileInfo::exists(path("dest/later")));
    QVERIFY(!QFileInfo::exists(path("dest/first.txt")));
    QVERIFY(!QFileInfo::exists(path("dest/sub/second.txt")));
    QVERIFY(!QFileInfo::exists(path("dest/never.txt")));
    QVERIFY(QFileInfo::exists(path("dest/sub/mine.txt")));
    QCOMPARE(QFileInfo(path("c.zip")).size(), archiveSize);
}

void tst_OrbInstaller::hostileArchive_data()
{
    QTest::addColumn<QList<ZipEntry>>("entries");
    QTest::addColumn<QString>("plantedLink"); // a link already in the destination, to "outside"
    QTest::addColumn<QStringList>("skipped");
    QTest::addColumn<QStringList>("written"); // must exist below the destination afterwards

    // "@OUT@" stands for the absolute path of the outside folder.
    QTest::newRow("climbing names")
        << QList<ZipEntry>{file("../escape.txt", "x"), file("a/../../escape2.txt", "x"), file("a/../fine.txt", "y")}
        << QString() << QStringList{"../escape.txt", "a/../../escape2.txt"} << QStringList{"fine.txt"};
    QTest::newRow("absolute names") << QList<ZipEntry>{file("@OUT@/abs.txt", "x"), file("//server/share/x", "x"),
                                                       file("ok.txt", "y")}
                                    << QString() << QStringList{"@OUT@/abs.txt", "//server/share/x"}
                                    << QStringList{"ok.txt"};
    // Backslashes are folder separators (archives made on Windows), judged after reading them so.
    QTest::newRow("backslashes") << QList<ZipEntry>{file("..\\escape.txt", "x"), file("sub\\..\\..\\esc.txt", "x"),
                                                    file("sub\\file.txt", "x"), file("ok.txt", "y")}
                                 << QString() << QStringList{"..\\escape.txt", "sub\\..\\..\\esc.txt"}
                                 << QStringList{"ok.txt", "sub/file.txt"};
    QTest::newRow("drive letters") << QList<ZipEntry>{file("C:/escape.txt", "x"), file("C:escape.txt", "x"),
                                                      file("sub/D:/x", "x"), file("ok.txt", "y")}
                                   << QString() << QStringList{"C:/escape.txt", "C:escape.txt", "sub/D:/x"}
                                   << QStringList{"ok.txt"};
    QTest::newRow("NUL byte") << QList<ZipEntry>{file("evil<NUL>.txt", "x"), file("ok.txt", "y")} << QString()
                              << QStringList{QString("evil") + QChar(0) + "NUL>.txt"} << QStringList{"ok.txt"};
    QTest::newRow("absolute link, then a write through it")
        << QList<ZipEntry>{lnkEntry("lnk", "@OUT@"), file("lnk/payload", "x")} << QString() << QStringList{"lnk"}
        << QStringList{"lnk/payload"};
    QTest::newRow("climbing link, then a write through it")
        << QList<ZipEntry>{dir("sub/"), lnkEntry("sub/lnk", "../../outside"), file("sub/lnk/payload", "x"),
                           file("ok.txt", "y")}
        << QString() << QStringList{"sub/lnk"} << QStringList{"ok.txt", "sub/lnk/payload"};
    QTest::newRow("link inside, then a write through it")
        << QList<ZipEntry>{dir("real/"), lnkEntry("alias", "real"), file("alias/payload", "x")} << QString()
        << QStringList{"alias/payload"} << QStringList{"alias", "real"};
    QTest::newRow("link climbing after a name")
        << QList<ZipEntry>{lnkEntry("self", "."), lnkEntry("esc", "self/.."), dir("a/"), lnkEntry("a/up", "../a/../.."),
                           file("ok.txt", "y")}
        << QString() << QStringList{"esc", "a/up"} << QStringList{"self", "ok.txt"};
    QTest::newRow("link through a planted link") << QList<ZipEntry>{lnkEntry("x", "planted/keep.txt"), file("ok.txt", "y")}
                                                 << QString("planted") << QStringList{"x"} << QStringList{"ok.txt"};
    QTest::newRow("writes through a planted link")
        << QList<ZipEntry>{file("planted/keep.txt", "overwritten"), file("planted/new.txt", "x"),
                           dir("planted/sub/"), file("ok.txt", "y")}
        << QString("planted") << QStringList{"planted/keep.txt", "planted/new.txt", "planted/sub/"}
        << QStringList{"ok.txt"};
    QTest::newRow("entry named like a planted link")
        << QList<ZipEntry>{file("planted", "replaced", 0777), dir("planted/", 0777), file("ok.txt", "y")}
        << QString("planted") << QStringList{"planted", "planted/"} << QStringList{"ok.txt"};
    QTest::newRow("link entry carrying permissions")
        << QList<ZipEntry>{file("target.txt", "t", 0600), lnkEntry("perm", "target.txt", 0777),
                           lnkEntry("permout", "@OUT@/keep.txt", 0777)}
        << QString() << QStringList{"permout"} << QStringList{"target.txt", "perm"};
}

void tst_OrbInstaller::hostileArchive()
{
    QFETCH(QList<ZipEntry>, entries);
    QFETCH(QString, plantedLink);
    QFETCH(QStringList, skipped);
    QFETCH(QStringList, written);

    const QString out = path("outside");
    for (ZipEntry& e : entries) {
        e.name.replace("@OUT@", out);
        e.data.replace("@OUT@", QFile::encodeName(out));
    }
    for (QString& s : skipped)
        s.replace("@OUT@", out);
    if (!plantedLink.isEmpty())
        QVERIFY(QFile::link(out, path("dest/") + plantedLink));
    QVERIFY(writeZip(path("h.zip"), entries));
    const QMap<QString, QString> before = snapshot(m_tmp->path(), path("dest"));

    const Run run = extract(path("h.zip"), path("dest"));

    QCOMPARE(snapshot(m_tmp->path(), path("dest")), before);
    QCOMPARE(run.report.outcome, OrbExtractReport::Partial);
    QCOMPARE(skippedNames(run.report), skipped);
    for (const OrbSkippedEntry& s : run.report.skipped)
        QVERIFY(!s.reason.isEmpty());
    for (const QString& w : written)
        QVERIFY2(QFileInfo(path("dest/") + w).exists() || QFileInfo(path("dest/") + w).isSymLink(), qPrintable(w));
    // Nothing written below the destination may lead out of it.
    QDirIterator it(path("dest"), QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString target = QDir::cleanPath(info.symLinkTarget());
        if (info.isSymLink() && info.fileName() != plantedLink)
            QVERIFY2(target == path("dest") || target.startsWith(path("dest/")), qPrintable(info.filePath()));
    }
    // Link modes never reach the link's target.
    if (QFileInfo::exists(path("dest/target.txt")))
        QCOMPARE(modeOf(path("dest/target.txt")), QFile::ReadOwner | QFile::WriteOwner);
}

void tst_OrbInstaller::packageInsideDestination()
{
    // Download and install folder chosen alike: the package must survive its own extraction.
    QVERIFY(writeZip(path("dest/game.zip"), {file("readme.txt", "r"), file("game.zip", "not the package")}));
    const QByteArray package = readAll(path("dest/game.zip"));
    const Run run = extract(path("dest/game.zip"), path("dest"));
    QCOMPARE(run.report.outcome, OrbExtractReport::Partial);
    QCOMPARE(skippedNames(run.report), QStringList{"game.zip"});
    QCOMPARE(readAll(path("dest/game.zip")), package);
    QCOMPARE(readAll(path("dest/readme.txt")), QByteArray("r"));
}

void tst_OrbInstaller::extractEntryAlone()
{
    QVERIFY(writeZip(path("e.zip"), {file("one.txt", "1"), lnkEntry("out", "../outside"), file("two.txt", "2")}));
    QuaZip zip(path("e.zip"));
    OrbInstaller installer;
    QVERIFY(!installer.extractEntry(&zip, "one.txt", path("dest/one.txt"))); // not open yet
    QVERIFY(zip.open(QuaZip::mdUnzip));
    QVERIFY(installer.extractEntry(&zip, "two.txt", path("dest/x/two.txt")));
    QCOMPARE(readAll(path("dest/x/two.txt")), QByteArray("2"));
    QVERIFY(zip.goToFirstFile());
    QVERIFY(installer.extractEntry(&zip, QString(), path("dest/first.txt")));
    QCOMPARE(readAll(path("dest/first.txt")), QByteArray("1"));
    QVERIFY(!installer.extractEntry(&zip, "out", path("dest/out")));
    QVERIFY(!QFileInfo(path("dest/out")).isSymLink());
    QVERIFY(!installer.extractEntry(&zip, "missing", path("dest/missing")));
}

namespace {
// Enough data that extraction is still busy when the test reacts to its first step.
QList<ZipEntry> slowArchive()
{
    ZipEntry big = file("big/zeros.bin", QByteArray(1024 * 1024, '\0'));
    big.repeat = 256;
    return {file("small.txt", "s"), big, file("after.txt", "a")};
}
} // namespace

void tst_OrbInstaller::uninitCancelsRunningExtraction()
{
    QVERIFY(writeZip(path("slow.zip"), slowArchive()));
    auto installer = std::make_unique<OrbInstaller>();
    installer->Init();
    QSignalSpy progress(installer.get(), &OrbInstaller::sigProgressValue);
    QList<OrbExtractReport> reports;
    connect(installer.get(), &OrbInstaller::sigExtractReport, this,
            [&reports](const OrbExtractReport& r) { reports << r; });
    installer->extractDir(path("slow.zip"), path("dest/game"), IOrbArchieve::extractGame);
    QVERIFY(progress.wait(20000));
    QCOMPARE(progress.first().first().toInt(), 33);

    installer->Uninit();
    // Uninit returns once the task has stopped and taken its files back.
    QVERIFY(!QFileInfo::exists(path("dest/game/small.txt")));
    QVERIFY(!QFileInfo::exists(path("dest/game/big/zeros.bin")));
    QVERIFY(!QFileInfo::exists(path("dest/game")));
    QTRY_COMPARE(reports.size(), 1);
    QCOMPARE(reports.first().outcome, OrbExtractReport::Cancelled);
    QVERIFY(!reports.first().installed());
    installer.reset();
    QTest::qWait(20);
    QVERIFY(QFileInfo::exists(path("slow.zip")));
}

void tst_OrbInstaller::taskOutlivesDestroyedInstaller()
{
    QVERIFY(writeZip(path("slow.zip"), slowArchive()));
    auto installer = std::make_unique<OrbInstaller>();
    installer->Init();
    QSignalSpy progress(installer.get(), &OrbInstaller::sigProgressValue);
    installer->extractDir(path("slow.zip"), path("dest/game"), IOrbArchieve::extractGame);
    QVERIFY(progress.wait(20000));
    // Destroyed mid-run without Uninit: the task owns everything it touches and finishes on its own.
    installer.reset();
    // Entries are written in parallel: the last one in the archive need not be the last to finish.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(path("dest/game/after.txt")) &&
                                 QFileInfo(path("dest/game/big/zeros.bin")).size() == qint64(256 * 1024 * 1024),
                             60000);
}

void tst_OrbInstaller::secondExtractionTakesOver()
{
    QVERIFY(writeZip(path("slow.zip"), slowArchive()));
    QVERIFY(writeZip(path("launcher.zip"), {file("OrbLive.exe", "new")}));
    OrbInstaller installer;
    installer.Init();
    QSignalSpy game(&installer, &OrbInstaller::sigExtractGameFinished);
    QSignalSpy launcher(&installer, &OrbInstaller::sigExtractLauncherFinish);
    QSignalSpy progress(&installer, &OrbInstaller::sigProgressValue);
    QList<OrbExtractReport> reports;
    connect(&installer, &OrbInstaller::sigExtractReport, this, [&reports](const OrbExtractReport& r) { reports << r; });

    installer.extractDir(path("slow.zip"), path("dest/game"), IOrbArchieve::extractGame);
    installer.extractDir(path("launcher.zip"), path("dest/backup"), IOrbArchieve::extractLauncher);
    QVERIFY(launcher.wait(20000));
    // The first run goes on unobserved; let it end before looking for stray signals.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(path("dest/game/after.txt")), 60000);
    QTest::qWait(50);
    QCOMPARE(launcher.size(), 1);
    QCOMPARE(game.size(), 0);
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports.first().type, int(IOrbArchieve::extractLauncher));
    QCOMPARE(reports.first().outcome, OrbExtractReport::Complete);
    for (const QList<QVariant>& p : progress)
        QCOMPARE(p.at(1).toString(), QStringLiteral("启动器安装进度"));
    QCOMPARE(readAll(path("dest/backup/OrbLive.exe")), QByteArray("new"));
    installer.Uninit();
}


// ---- archives made elsewhere, bombs, updates -------------------------------------

void tst_OrbInstaller::namesMadeOnWindows_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("flags");
    QTest::addColumn<QByteArray>("codePage"); // empty: the default
    QTest::addColumn<QString>("expected");

    auto encoded = [](const char* codec, const QString& text) {
        QStringEncoder encoder(codec);
        return QByteArray(encoder(text));
    };
    const QString chinese = QStringLiteral("游戏/数据.txt");
    const QString japanese = QStringLiteral("ゲーム/データ.txt");
    QTest::newRow("GBK without the UTF-8 flag") << encoded("GBK", chinese) << 0 << QByteArray() << chinese;
    QTest::newRow("GBK with backslashes") << encoded("GBK", QStringLiteral("游戏\\存档\\数据.txt")) << 0 << QByteArray()
                                          << QStringLiteral("游戏/存档/数据.txt");
    QTest::newRow("UTF-8 without the flag") << japanese.toUtf8() << 0 << QByteArray() << japanese;
    QTest::newRow("UTF-8 with the flag") << chinese.toUtf8() << 0x0800 << QByteArray() << chinese;
    QTest::newRow("configured Shift_JIS") << encoded("Shift_JIS", japanese) << 0 << QByteArray("Shift_JIS")
                                          << japanese;
    QTest::newRow("neither: CP437") << QByteArray("caf\x82.txt") << 0 << QByteArray() << QStringLiteral("café.txt");
    QTest::newRow("backslash separators") << QByteArray("game\\bin\\data.txt") << 0 << QByteArray()
                                          << QStringLiteral("game/bin/data.txt");
}

void tst_OrbInstaller::namesMadeOnWindows()
{
    QFETCH(QByteArray, stored);
    QFETCH(int, flags);
    QFETCH(QByteArray, codePage);
    QFETCH(QString, expected);
    RawEntry entry{stored, "content", quint16(flags)};
    QVERIFY(writeRaw(path("w.zip"), {entry, RawEntry{"plain.txt", "p"}}));
    const Run run = extract(path("w.zip"), path("dest"), IOrbArchieve::extractGame, 0, codePage);
    QCOMPARE(run.report.outcome, OrbExtractReport::Complete);
    QCOMPARE(readAll(path("dest/") + expected), QByteArray("content"));
    QCOMPARE(treeBelow(path("dest")).size(), expected.count('/') + 2);
}

void tst_OrbInstaller::overlappingEntriesAreRefused()
{
    // A few KiB that name one compressed MiB a hundred times over.
    RawEntry bomb{"a.bin", QByteArray(1024 * 1024, '\0'), 0, true};
    for (int i = 0; i < 100; ++i)
        bomb.aliases << QByteArray("copy") + QByteArray::number(i) + ".bin";
    QVERIFY(writeRaw(path("bomb.zip"), {RawEntry{"first.txt", "1"}, bomb}));
    QVERIFY(QFileInfo(path("bomb.zip")).size() < 16 * 1024);
    const Run run = extract(path("bomb.zip"), path("dest/game"));
    QCOMPARE(run.report.outcome, OrbExtractReport::Failed);
    QVERIFY2(run.report.error.contains("overlap"), qPrintable(run.report.error));
    QVERIFY(!QFileInfo::exists(path("dest/game")));
    QVERIFY(run.progress.isEmpty());
}

void tst_OrbInstaller::anEntryInflatingPastItsDeclaredSizeFails()
{
    // The directory claims 1000 bytes (with their checksum); the stream inflates to a MiB.
    RawEntry liar{"big.bin", QByteArray(1024 * 1024, '\0'), 0, true, 1000, 1000};
    QVERIFY(writeRaw(path("liar.zip"), {RawEntry{"first.txt", "1"}, liar}));
    const Run run = extract(path("liar.zip"), path("dest/game"));
    QCOMPARE(run.report.outcome, OrbExtractReport::Failed);
    QCOMPARE(run.report.failedEntry, QString("big.bin"));
    QVERIFY(!QFileInfo::exists(path("dest/game")));
}

void tst_OrbInstaller::declaredSizesBeyondTheFreeSpaceFail()
{
    const qint64 free = QStorageInfo(path("dest")).bytesAvailable();
    QVERIFY(free > 0);
    RawEntry huge{"huge.bin", "tiny", 0, false, quint64(free) + (quint64(1) << 40)};
    QVERIFY(writeRaw(path("huge.zip"), {RawEntry{"first.txt", "1"}, huge}));
    const Run run = extract(path("huge.zip"), path("dest/game"));
    QCOMPARE(run.report.outcome, OrbExtractReport::Failed);
    QVERIFY2(run.report.error.contains("free space"), qPrintable(run.report.error));
    QVERIFY(!QFileInfo::exists(path("dest/game")));
}

void tst_OrbInstaller::aFailedUpdateKeepsThePreviousInstallation_data()
{
    QTest::addColumn<int>("threads");
    QTest::newRow("one thread") << 1;
    QTest::newRow("four threads") << 4;
}

void tst_OrbInstaller::aFailedUpdateKeepsThePreviousInstallation()
{
    QFETCH(int, threads);
    QVERIFY(writeZip(path("v1.zip"), {file("data.txt", "old data"), file("lib/libgame.so.1", "v1"),
                                      lnkEntry("lib/libgame.so", "libgame.so.1"), lnkEntry("lib/old.so", "gone.so"),
                                      file("keep.txt", "k")}));
    QCOMPARE(extract(path("v1.zip"), path("dest"), IOrbArchieve::extractGame, threads).report.outcome,
             OrbExtractReport::Complete);
    const QMap<QString, QString> before = snapshot(path("dest"));

    ZipEntry bad = file("zz/bad.bin", "GOODDATA-GOODDATA");
    bad.stored = true;
    QList<ZipEntry> v2 = {file("data.txt", "new data"), file("lib/libgame.so.2", "v2"),
                          lnkEntry("lib/libgame.so", "libgame.so.2"), lnkEntry("lib/old.so", "libgame.so.2")};
    for (int i = 0; i < 20; ++i)
        v2 << file(QString("extra/%1.txt").arg(i), QByteArray(50000, char('a' + i % 26)));
    v2 << bad;
    QVERIFY(writeZip(path("v2.zip"), v2));
    {
        QFile f(path("v2.zip"));
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        bytes.replace("GOODDATA-GOODDATA", "GOODDATA-BADDATA!");
        f.seek(0);
        f.write(bytes);
    }
    const Run failed = extract(path("v2.zip"), path("dest"), IOrbArchieve::extractGame, threads);
    QCOMPARE(failed.report.outcome, OrbExtractReport::Failed);
    QCOMPARE(failed.report.failedEntry, QString("zz/bad.bin"));
    // Exactly the old installation: replaced files and links back, nothing new, no backups.
    QCOMPARE(snapshot(path("dest")), before);

    // The same update without the damaged entry succeeds and leaves no backups either.
    v2.removeLast();
    QVERIFY(writeZip(path("v2.zip"), v2));
    const Run ok = extract(path("v2.zip"), path("dest"), IOrbArchieve::extractGame, threads);
    QCOMPARE(ok.report.outcome, OrbExtractReport::Complete);
    QCOMPARE(readAll(path("dest/data.txt")), QByteArray("new data"));
    QCOMPARE(readAll(path("dest/lib/libgame.so")), QByteArray("v2"));
    QCOMPARE(readAll(path("dest/keep.txt")), QByteArray("k"));
    QVERIFY(QDir(path("dest")).entryList({".orb-replaced-*"}, QDir::AllEntries | QDir::Hidden).isEmpty());
}

void tst_OrbInstaller::parallelMatchesSerial_data()
{
    QTest::addColumn<int>("threads");
    QTest::newRow("one thread") << 1;
    QTest::newRow("two threads") << 2;
    QTest::newRow("eight threads") << 8;
}

void tst_OrbInstaller::parallelMatchesSerial()
{
    QFETCH(int, threads);
    QList<ZipEntry> entries;
    for (int i = 0; i < 60; ++i) {
        if (i % 10 == 0)
            entries << dir(QString("d%1/").arg(i), 0755);
        QByteArray data(1000 + i * 977, char('A' + i % 26));
        ZipEntry e = file(QString("d%1/f%2.bin").arg(i / 10 * 10).arg(i), data, 0640);
        e.stored = i % 3 == 0;
        entries << e;
    }
    QVERIFY(writeZip(path("p.zip"), entries));
    const Run run = extract(path("p.zip"), path("dest"), IOrbArchieve::extractGame, threads);
    QCOMPARE(run.report.outcome, OrbExtractReport::Complete);
    QCOMPARE(run.report.extractedCount, entries.size());
    QCOMPARE(run.progress.last(), 100);
    for (int i = 1; i < run.progress.size(); ++i)
        QVERIFY(run.progress.at(i) > run.progress.at(i - 1));
    for (const ZipEntry& e : entries) {
        if (!e.name.endsWith('/')) {
            QCOMPARE(readAll(path("dest/") + e.name), e.data);
            QCOMPARE(modeOf(path("dest/") + e.name), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        }
    }
}

void tst_OrbInstaller::directoryRecordsMustAgree_data()
{
    // The safety checks read the directory themselves while QuaZip extracts from
    // the one it finds: both must be the same, or the checks judged other entries.
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("refused");
    QTest::newRow("zip64 record naming a copy of the directory elsewhere") << "zip64 copy" << true;
    QTest::newRow("zip64 record naming a directory with other names") << "zip64 other names" << true;
    QTest::newRow("zip64 record agreeing with the classic one") << "zip64 agreeing" << false;
    QTest::newRow("local header with another name") << "local other" << true;
    QTest::newRow("local header name climbing out") << "local climbing" << true;
    QTest::newRow("local header name of another case") << "local case" << true;
}

void tst_OrbInstaller::directoryRecordsMustAgree()
{
    QFETCH(QString, kind);
    QFETCH(bool, refused);
    const QList<RawEntry> entries = {RawEntry{"a.txt", "first"}, RawEntry{"sub/b.txt", "second", 0, true}};
    QByteArray bytes = rawZip(entries);
    if (kind == "zip64 copy") {
        bytes = withZip64Record(bytes, centralOf(bytes));
    } else if (kind == "zip64 other names") {
        QByteArray other = centralOf(bytes);
        other.replace("sub/b.txt", "sub/x.txt");
        bytes = withZip64Record(bytes, other);
    } else if (kind == "zip64 agreeing") {
        bytes = withZip64Record(bytes, {});
    } else {
        QList<RawEntry> changed = entries;
        changed[1].localName = kind == "local other" ? "sub/c.txt" : kind == "local case" ? "SUB/b.txt" : "../b.txt";
        bytes = rawZip(changed);
    }
    QFile f(path("d.zip"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();

    const Run run = extract(path("d.zip"), path("dest/game"));
    if (!refused) {
        QCOMPARE(run.report.outcome, OrbExtractReport::Complete);
        QCOMPARE(readAll(path("dest/game/sub/b.txt")), QByteArray("second"));
        return;
    }
    QCOMPARE(run.report.outcome, OrbExtractReport::Failed);
    const QString expected = kind.startsWith("zip64") ? "directory records disagree" : "local header";
    QVERIFY2(run.report.error.contains(expected), qPrintable(run.report.error));
    QVERIFY(!QFileInfo::exists(path("dest/game")));
    QVERIFY(!QFileInfo::exists(path("dest/b.txt")));
    QVERIFY(run.progress.isEmpty());
    QCOMPARE(run.order, (QStringList{"report", "game"}));
}

void tst_OrbInstaller::reportListsWhatWasWritten_data()
{
    QTest::addColumn<QList<ZipEntry>>("entries");
    QTest::addColumn<int>("threads");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QStringList>("written");

    const QList<ZipEntry> tree = {dir("bin/"), file("bin/game", "g", 0755), file("data/maps/one.map", "1"),
                                  lnkEntry("bin/current", "game"), file("readme.txt", "r"),
                                  file("data/maps/two.map", "2")};
    const QStringList treeWritten = {"bin/", "bin/game", "data/", "data/maps/", "data/maps/one.map", "bin/current",
                                     "readme.txt", "data/maps/two.map"};
    QTest::newRow("complete, one thread") << tree << 1 << int(OrbExtractReport::Complete) << treeWritten;
    QTest::newRow("complete, four threads") << tree << 4 << int(OrbExtractReport::Complete) << treeWritten;
    QTest::newRow("partial: the skipped entry is not listed")
        << QList<ZipEntry>{file("../escape.txt", "x"), file("in/side.txt", "y")} << 0
        << int(OrbExtractReport::Partial) << QStringList{"in/", "in/side.txt"};
    ZipEntry bad = file("zz/bad.bin", "GOODDATA-GOODDATA"); // its bytes are damaged below
    bad.stored = true;
    QTest::newRow("failed: nothing listed")
        << QList<ZipEntry>{file("ok.txt", "x"), bad} << 0 << int(OrbExtractReport::Failed) << QStringList();
}

void tst_OrbInstaller::reportListsWhatWasWritten()
{
    QFETCH(QList<ZipEntry>, entries);
    QFETCH(int, threads);
    QFETCH(int, outcome);
    QFETCH(QStringList, written);
    QVERIFY(writeZip(path("w.zip"), entries));
    {
        QFile f(path("w.zip"));
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        bytes.replace("GOODDATA-GOODDATA", "GOODDATA-BADDATA!");
        f.seek(0);
        f.write(bytes);
    }
    const Run run = extract(path("w.zip"), path("dest/game"), IOrbArchieve::extractGame, threads);
    QCOMPARE(int(run.report.outcome), outcome);
    QCOMPARE(run.report.written, written);
    QCOMPARE(run.lastReport.written, written);
    // Every listed path is there, as a folder exactly when it ends in '/'.
    for (const QString& rel : written) {
        const QFileInfo info(path("dest/game/") + rel);
        QVERIFY2(info.exists() || info.isSymLink(), qPrintable(rel));
        QCOMPARE(info.isDir() && !info.isSymLink(), rel.endsWith('/'));
    }
}

// ---- folder emptying ---------------------------------------------------------

namespace {
QStringList g_messages;
void collectMessages(QtMsgType, const QMessageLogContext&, const QString& text)
{
    g_messages << text;
}
} // namespace

void tst_OrbInstaller::removeDirContents()
{
    const QString d = path("dest");
    QVERIFY(QDir().mkpath(d + "/sub/inner"));
    for (const QString& f : {d + "/a.txt", d + "/b.txt", d + "/sub/inner/c.txt"}) {
        QFile file(f);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QFile::link(path("outside"), d + "/link"));
    QVERIFY(QFile::link(path("outside/keep.txt"), d + "/filelink"));
    const QMap<QString, QString> outside = snapshot(path("outside"));

    OrbInstaller installer;
    g_messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectMessages);
    const bool ok = installer.removeDirContents(d);
    qInstallMessageHandler(previous);

    QVERIFY(ok);
    QVERIFY(QFileInfo(d).isDir());
    QVERIFY(QDir(d).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
    QCOMPARE(snapshot(path("outside")), outside);
    const QStringList expected = {
        QString("Removed shortcut: \"%1/link\"").arg(d),
        QString("Removed file: \"%1/sub/inner/c.txt\"").arg(d),
        QString("Removed directory: \"%1/sub/inner\"").arg(d),
        QString("Removed directory: \"%1/sub\"").arg(d),
        QString("Removed file: \"%1/a.txt\"").arg(d),
        QString("Removed file: \"%1/b.txt\"").arg(d),
        QString("Removed shortcut: \"%1/filelink\"").arg(d),
    };
    QCOMPARE(g_messages, expected);
}

void tst_OrbInstaller::removeDirContentsTakesHiddenEntriesAndDanglingLinks()
{
    const QString d = path("dest");
    QVERIFY(QDir().mkpath(d + "/.cache/inner"));
    QVERIFY(QDir().mkpath(d + "/visible"));
    for (const QString& f : {d + "/.hidden", d + "/.cache/inner/.x", d + "/visible/.y", d + "/plain"}) {
        QFile file(f);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QFile::link(d + "/gone", d + "/dangling"));
    QVERIFY(QFile::link(path("outside"), d + "/.hiddenlink"));
    const QMap<QString, QString> outside = snapshot(path("outside"));
    OrbInstaller installer;
    QVERIFY(installer.removeDirContents(d));
    QVERIFY(QFileInfo(d).isDir());
    QCOMPARE(treeBelow(d), QStringList());
    QCOMPARE(snapshot(path("outside")), outside);
}

void tst_OrbInstaller::removeDirContentsOfMissingFolder()
{
    OrbInstaller installer;
    QFile plain(path("plain.txt"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QString("Directory does not exist: \"%1\"").arg(path("nope"))));
    QVERIFY(!installer.removeDirContents(path("nope")));
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QString("Directory does not exist: \"%1\"").arg(path("plain.txt"))));
    QVERIFY(!installer.removeDirContents(path("plain.txt")));
    QVERIFY(QFile::exists(path("plain.txt")));
}

void tst_OrbInstaller::protectedFolders_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("isProtected");
    const QString home = QDir::homePath();
    const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QTest::newRow("filesystem root") << QDir::rootPath() << true;
    QTest::newRow("root, spelled oddly") << "/./tmp/.." << true;
    QTest::newRow("home") << home << true;
    QTest::newRow("home with trailing slash") << home + "/" << true;
    QTest::newRow("documents") << docs << true;
    QTest::newRow("parent of home") << QFileInfo(home).path() << true;
    QTest::newRow("link to home") << "@TMP@/homelink" << true;
    QTest::newRow("folder in home") << home + "/Games/MyGame" << false;
    QTest::newRow("folder in documents") << docs + "/MyGame" << false;
    QTest::newRow("temporary folder") << "@TMP@/dest" << false;
}

void tst_OrbInstaller::protectedFolders()
{
    QFETCH(QString, folder);
    QFETCH(bool, isProtected);
    // The test runs with a private HOME; make sure that is what we are looking at.
    QVERIFY(!QDir::homePath().isEmpty());
    QVERIFY(QDir::homePath() != QDir::rootPath());
    QVERIFY(QFile::link(QDir::homePath(), path("homelink")));
    QVERIFY(QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + "/MyGame"));
    QVERIFY(QDir().mkpath(QDir::homePath() + "/Games/MyGame"));
    folder.replace("@TMP@", m_tmp->path());
    QCOMPARE(OrbInstaller::isProtectedFolder(folder), isProtected);
}

void tst_OrbInstaller::removeDirContentsRefusesProtected()
{
    const QString home = QDir::homePath();
    const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QVERIFY(QDir().mkpath(docs));
    for (const QString& f : {home + "/profile.txt", docs + "/letter.txt"}) {
        QFile file(f);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    OrbInstaller installer;
    QVERIFY(!installer.removeDirContents(home));
    QVERIFY(!installer.removeDirContents(docs));
    QVERIFY(!installer.removeDirContents(QFileInfo(home).path()));
    QVERIFY(QFile::exists(home + "/profile.txt"));
    QVERIFY(QFile::exists(docs + "/letter.txt"));
}

QTEST_GUILESS_MAIN(tst_OrbInstaller)
#include "tst_orbinstaller.moc"
