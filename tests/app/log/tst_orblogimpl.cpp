#include "core/ComponentRegister.h"
#include "core/OrbLog.h"
#include "log/OrbLogImpl.h"

#include "OrbTestCapture.h"

#include <util/base.h>

#include <QtTest>

#include <memory>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QString logFolder()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME") + "/OrbLauncher/log";
}

void touch(const QString& path, const QByteArray& content = "old\n")
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}

const QRegularExpression kLine(R"(^\[\d\d:\d\d:\d\d\.\d{3}\]\[([EWI])\]\[tid:\d+\](.*)$)");

} // namespace

class tst_OrbLogImpl : public QObject {
    Q_OBJECT

    std::unique_ptr<ComponentRegister> m_registry;

    QString currentLogPath()
    {
        std::string name;
        GetComponent<IOrbLog>("OrbLogImpl")->GetLogFileName(name);
        return logFolder() + "/" + QString::fromStdString(name);
    }

    // The text field of every line of the current log file, and the raw lines.
    QStringList logTexts(QStringList* raw = nullptr)
    {
        QFile f(currentLogPath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList texts;
        for (const QString& line : QString::fromUtf8(f.readAll()).split('\n')) {
            if (line.isEmpty())
                continue;
            if (raw)
                raw->append(line);
            const auto m = kLine.match(line);
            texts.append(m.hasMatch() ? m.captured(2) : QStringLiteral("<summary>") + line);
        }
        return texts;
    }

    // A message from a call site of its own ends any run of repeats.
    void breakRepeats() { blog(LOG_INFO, "--- separator %d ---", 0); }

    void startLog()
    {
        m_registry = std::make_unique<ComponentRegister>();
        m_registry->RegisterLog<OrbLogImpl>("OrbLogImpl");
        m_registry->InitAll();
        breakRepeats();
    }

private slots:
    void init()
    {
        QDir(logFolder()).removeRecursively();
        startLog();
    }

    void cleanup() { m_registry.reset(); }

    void fileIsNamedFromTheLocalTime()
    {
        std::tm t {};
        t.tm_year = 2024 - 1900;
        t.tm_mon = 2;
        t.tm_mday = 5;
        t.tm_hour = 7;
        t.tm_min = 8;
        t.tm_sec = 9;
        QCOMPARE(OrbLogImpl::FileNameFor(t), std::string("2024-03-05-07-08-09.log"));

        const QFileInfo info(currentLogPath());
        QVERIFY(info.exists());
        QCOMPARE(info.absolutePath(), QFileInfo(logFolder()).absoluteFilePath());
        QVERIFY(QRegularExpression(R"(^\d{4}-\d\d-\d\d-\d\d-\d\d-\d\d\.log$)").match(info.fileName()).hasMatch());
    }

    void timestampOfNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("prefixed");
        QTest::addColumn<quint64>("value");
        QTest::newRow("plain log") << "2024-03-05-07-08-09.log" << false << quint64(20240305070809ULL);
        QTest::newRow("plain in prefixed pass") << "2024-03-05-07-08-09.log" << true << quint64(0);
        QTest::newRow("prefixed crash file") << "crash_2024-03-05-07-08-09.txt" << true << quint64(20240305070809ULL);
        QTest::newRow("prefixed in plain pass") << "crash_2024-03-05-07-08-09.txt" << false << quint64(0);
        QTest::newRow("only three groups") << "2024-03-05.log" << false << quint64(0);
        QTest::newRow("not a log") << "notes.txt" << false << quint64(0);
        QTest::newRow("suffix after six groups") << "2024-03-05-07-08-09-2.log" << false << quint64(20240305070809ULL);
        QTest::newRow("leading zeros kept") << "0001-02-03-04-05-06.log" << false << quint64(10203040506ULL);
        QTest::newRow("beyond 64 bits") << "99999999999-99999-9-9-9-9.log" << false << quint64(0);
        QTest::newRow("wrong separator") << "2024_03-05-07-08-09.log" << false << quint64(0);
    }

    void timestampOfNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, prefixed);
        QFETCH(quint64, value);
        QCOMPARE(quint64(OrbLogImpl::FileTimestamp(name.toUtf8().constData(), prefixed)), value);
    }

    void retentionKeepsTwentyAndNothingElseIsTouched_data()
    {
        QTest::addColumn<int>("logFiles");
        QTest::addColumn<bool>("oldestDeleted");
        QTest::newRow("21 files") << 21 << true;
        QTest::newRow("20 files") << 20 << false;
    }

    void retentionKeepsTwentyAndNothingElseIsTouched()
    {
        QFETCH(int, logFiles);
        QFETCH(bool, oldestDeleted);
        QTemporaryDir dir;
        // Names sort by time stamp, day 01 being the oldest.
        for (int i = 1; i <= logFiles; ++i)
            touch(dir.filePath(QString("2024-03-%1-07-08-09.log").arg(i, 2, 10, QChar('0'))));
        touch(dir.filePath("notes.txt"));
        touch(dir.filePath("2024-03-05.log"));
        touch(dir.filePath("crash_2000-01-01-00-00-00.txt"));
        QDir(dir.path()).mkdir("2000-01-01-00-00-00.log");

        OrbLogImpl::CleanupOldFiles(dir.path().toStdString(), true);
        OrbLogImpl::CleanupOldFiles(dir.path().toStdString(), false);

        QCOMPARE(QFile::exists(dir.filePath("2024-03-01-07-08-09.log")), !oldestDeleted);
        QVERIFY(QFile::exists(dir.filePath("2024-03-02-07-08-09.log")));
        QVERIFY(QFile::exists(dir.filePath("notes.txt")));
        QVERIFY(QFile::exists(dir.filePath("2024-03-05.log")));
        QVERIFY(QFile::exists(dir.filePath("crash_2000-01-01-00-00-00.txt")));
        QVERIFY(QFileInfo(dir.filePath("2000-01-01-00-00-00.log")).isDir());
    }

    void startupKeepsAtMostTwentyFiles()
    {
        m_registry.reset();
        QDir(logFolder()).removeRecursively();
        QDir().mkpath(logFolder());
        for (int i = 1; i <= 20; ++i)
            touch(logFolder() + QString("/2020-01-%1-00-00-00.log").arg(i, 2, 10, QChar('0')));
        startLog();
        QCOMPARE(QDir(logFolder()).entryList(QDir::Files).size(), 20);
        QVERIFY(!QFile::exists(logFolder() + "/2020-01-01-00-00-00.log"));
    }

    void aStartInTheSameSecondKeepsTheEarlierFile()
    {
        m_registry.reset();
        QDir().mkpath(logFolder());
        // Occupy this second and the next ones: whichever second the start lands
        // in, its name is already taken by a running launcher's file.
        const QDateTime now = QDateTime::currentDateTime();
        QStringList taken;
        for (int s = 0; s < 3; ++s) {
            const QString name = now.addSecs(s).toString("yyyy-MM-dd-HH-mm-ss") + ".log";
            touch(logFolder() + "/" + name, "running launcher\n");
            taken << name;
        }
        startLog();
        const QString mine = QFileInfo(currentLogPath()).fileName();
        QVERIFY2(!taken.contains(mine), qPrintable(mine));
        for (const QString& name : taken) {
            QFile f(logFolder() + "/" + name);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("running launcher\n"));
        }
        QVERIFY(OrbLogImpl::FileTimestamp(mine.toUtf8().constData(), false) != 0);
    }

    void lineFormatCarriesLevelThreadAndCallSite()
    {
        ORB_LOG(OrbLogError, "boom %d", 7);
        ORB_LOG(OrbLogWarning, "careful");
        ORB_LOG(OrbLogInfo, "fine");
        ORB_LOG(OrbLogDebug, "debug never reaches the file");
        QStringList raw;
        const QStringList texts = logTexts(&raw);
        const QString site = QString("[tst_orblogimpl.cpp:%1][lineFormatCarriesLevelThreadAndCallSite] ---> ");
        const int line = __LINE__ - 7;
        QCOMPARE(texts.mid(1), QStringList({site.arg(line) + "boom 7", site.arg(line + 1) + "careful",
                                            site.arg(line + 2) + "fine"}));
        QCOMPARE(kLine.match(raw[1]).captured(1), QString("E"));
        QCOMPARE(kLine.match(raw[2]).captured(1), QString("W"));
        QCOMPARE(kLine.match(raw[3]).captured(1), QString("I"));
    }

    void repeatedEntriesAreFolded_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("written");
        QTest::addColumn<int>("summary");
        QTest::newRow("100 lines") << 100 << 31 << 69;
        QTest::newRow("31 lines") << 31 << 31 << 0;
        QTest::newRow("32 lines") << 32 << 31 << 1;
    }

    void repeatedEntriesAreFolded()
    {
        QFETCH(int, lines);
        QFETCH(int, written);
        QFETCH(int, summary);
        for (int i = 0; i < lines; ++i)
            ORB_LOG(OrbLogInfo, "progress %d of %d", i, lines);
        ORB_LOG(OrbLogInfo, "finished");
        const QStringList texts = logTexts();
        QCOMPARE(texts.filter("progress").size(), written);
        const QStringList summaries = texts.filter("<summary>");
        if (summary == 0) {
            QVERIFY(summaries.isEmpty());
        } else {
            QCOMPARE(summaries.size(), 1);
            QVERIFY2(QRegularExpression(QString(R"(^<summary>\d\d:\d\d:\d\d\.\d{3}: Last log entry repeated for %1 more lines$)")
                                            .arg(summary))
                         .match(summaries[0])
                         .hasMatch(),
                     qPrintable(summaries[0]));
            // The summary stands right before the message that ended the run.
            QCOMPARE(texts.indexOf(summaries[0]) + 1, texts.size() - 1);
        }
        QVERIFY(texts.last().endsWith("finished"));
    }

    void differentCallSitesOrDistantTextsAreNeverFolded()
    {
        for (int i = 0; i < 50; ++i) {
            ORB_LOG(OrbLogInfo, "left %d", i);
            ORB_LOG(OrbLogInfo, "right %d", i);
        }
        // Same call site, byte sums 765 apart or more: never a repeat.
        for (int i = 0; i < 40; ++i)
            blog(LOG_INFO, "%s", i % 2 ? "a" : "a~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~");
        const QStringList texts = logTexts();
        QCOMPARE(texts.filter("left").size(), 50);
        QCOMPARE(texts.filter("right").size(), 50);
        QCOMPARE(texts.filter(QRegularExpression("^a~*$")).size(), 40);
        QVERIFY(texts.filter("<summary>").isEmpty());
    }

    void messagesAreSplitIntoLines_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("lf") << QByteArray("a\nb") << QStringList({"a", "b"});
        QTest::newRow("crlf") << QByteArray("a\r\nb") << QStringList({"a", "b"});
        QTest::newRow("trailing lf") << QByteArray("a\n") << QStringList({"a", ""});
    }

    void messagesAreSplitIntoLines()
    {
        QFETCH(QByteArray, message);
        QFETCH(QStringList, lines);
        blog(LOG_WARNING, "%s", message.constData());
        QFile f(currentLogPath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QStringList all = QString::fromUtf8(f.readAll()).split('\n');
        all.removeLast(); // after the final line end
        const QStringList mine = all.mid(all.size() - lines.size());
        QString prefix;
        for (int i = 0; i < lines.size(); ++i) {
            const auto m = kLine.match(mine[i]);
            QVERIFY2(m.hasMatch(), qPrintable(mine[i]));
            QCOMPARE(m.captured(2), lines[i]);
            const QString head = mine[i].left(mine[i].size() - lines[i].size());
            if (i == 0)
                prefix = head;
            QCOMPARE(head, prefix);
        }
    }

    void longMessagesAreCut()
    {
        const QByteArray big(5000, 'x');
        blog(LOG_INFO, "%s", big.constData());
        QCOMPARE(logTexts().last().size(), 4094);
    }

    void messagesWithoutLogInstanceGoToStandardError()
    {
        m_registry.reset();
        OrbTestCapture err(stderr);
        ORB_LOG(OrbLogInfo, "lost %d", 1);
        QCOMPARE(err.take(), QByteArray("Error: Log instance is not available.\n"));
    }

    void nothingReachesAClosedOrDestroyedLog()
    {
        const QString path = currentLogPath();
        m_registry.reset(); // Uninit closes, then the component is destroyed
        OrbTestCapture out(stdout);
        blog(LOG_INFO, "after the end");
        const QByteArray printed = out.take();
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(!f.readAll().contains("after the end"));
        // The util library's own output took over again.
        QVERIFY(printed.contains("after the end"));
    }

    void theHandlerBeforeTheLogComesBackAfterIt_data()
    {
        QTest::addColumn<bool>("closeFirst");
        QTest::newRow("second open while the file is open") << false;
        QTest::newRow("reopen after a close") << true;
    }

    void theHandlerBeforeTheLogComesBackAfterIt()
    {
        QFETCH(bool, closeFirst);
        m_registry.reset();
        // Whatever handled the util library's messages before the log component
        // must handle them again once it is gone, however often it opened files.
        static QStringList seen;
        seen.clear();
        log_handler_t original = nullptr;
        void* originalParam = nullptr;
        base_get_log_handler(&original, &originalParam);
        base_set_log_handler(
            [](int, const char* format, va_list args, void*) {
                char text[256];
                std::vsnprintf(text, sizeof(text), format, args);
                seen << QString::fromUtf8(text);
            },
            nullptr);
        startLog();
        auto* log = GetComponent<IOrbLog>("OrbLogImpl");
        if (closeFirst)
            log->CloseLogFile();
        log->OpenLogFile("OrbLauncher/log");
        blog(LOG_INFO, "while the log %s", "lives");
        m_registry.reset();
        blog(LOG_INFO, "after the log %s", "is gone");
        base_set_log_handler(original, originalParam);
        QVERIFY(!seen.contains("while the log lives"));
        QVERIFY2(seen.contains("after the log is gone"), qPrintable(seen.join('|')));
    }

    void debuggerSeesEveryLevel()
    {
        // Become traced: a child attaches to us as a tracer without stopping us.
        int ready[2], done[2];
        QVERIFY(pipe(ready) == 0 && pipe(done) == 0);
        const pid_t parent = getpid();
        const pid_t child = fork();
        if (child == 0) {
            const char ok = ptrace(PTRACE_SEIZE, parent, nullptr, nullptr) == 0 ? '1' : '0';
            [[maybe_unused]] auto w = write(ready[1], &ok, 1);
            char c;
            [[maybe_unused]] auto r = read(done[0], &c, 1);
            _exit(0);
        }
        char ok = '0';
        QCOMPARE(read(ready[0], &ok, 1), ssize_t(1));
        QByteArray seen;
        // The tracer state is looked up again at most once a second.
        QElapsedTimer waited;
        waited.start();
        while (ok == '1' && seen.isEmpty() && waited.elapsed() < 5000) {
            OrbTestCapture err(stderr);
            blog(LOG_DEBUG, "only for the debugger %d", 42);
            seen = err.take();
            if (seen.isEmpty())
                QThread::msleep(50);
        }
        [[maybe_unused]] auto w = write(done[1], "x", 1);
        waitpid(child, nullptr, 0);
        for (int fd : {ready[0], ready[1], done[0], done[1]})
            ::close(fd);
        if (ok != '1')
            QSKIP("this machine does not allow attaching a tracer");
        QCOMPARE(seen, QByteArray("only for the debugger 42\n"));
        QVERIFY(logTexts().filter("only for the debugger").isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_OrbLogImpl)
#include "tst_orblogimpl.moc"
