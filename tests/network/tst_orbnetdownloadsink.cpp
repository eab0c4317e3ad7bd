// The download's file sink on real files: open modes and resume, the checks a reply
// must pass before it may touch the file, truncation, and failing writes.
#include "OrbNetDownloadSink_p.h"

#include <QtTest>

#include "OrbTestFiles.h"
#include "OrbTestLimits.h"


using orbtest::readAll;
using orbtest::writeFile;
namespace {



} // namespace

class tst_OrbNetDownloadSink : public QObject {
    Q_OBJECT

private slots:
    void rangeValue_data()
    {
        QTest::addColumn<qlonglong>("start");
        QTest::addColumn<qlonglong>("length");
        QTest::addColumn<QString>("value");
        QTest::newRow("bounded") << 100LL << 50LL << "bytes=100-149";
        QTest::newRow("open end") << 100LL << 0LL << "bytes=100-";
        QTest::newRow("from zero") << 0LL << 0LL << "bytes=0-";
        QTest::newRow("one byte") << 7LL << 1LL << "bytes=7-7";
        QTest::newRow("beyond 4 GiB") << 5000000000LL << 0LL << "bytes=5000000000-";
    }
    void rangeValue()
    {
        QFETCH(qlonglong, start);
        QFETCH(qlonglong, length);
        QFETCH(QString, value);
        QCOMPARE(QString::fromStdString(OrbNetDownloadSink::RangeValue(start, length)), value);
    }

    // How the file is opened and which range is asked for, proven by what a write leaves.
    void openModes_data()
    {
        QTest::addColumn<QByteArray>("existing");  // "<none>": no file
        QTest::addColumn<bool>("resume");
        QTest::addColumn<bool>("callerRange");
        QTest::addColumn<bool>("wantRange");
        QTest::addColumn<qlonglong>("wantStart");
        QTest::addColumn<QByteArray>("after");     // file after writing "XY" as a fitting reply
        QTest::newRow("resume, no file: created, no range") << QByteArray("<none>") << true << false << false << 0LL << QByteArray("XY");
        QTest::newRow("resume, empty file: bytes=0-, append") << QByteArray() << true << false << true << 0LL << QByteArray("XY");
        QTest::newRow("resume, partial file: from its size") << QByteArray("abc") << true << false << true << 3LL << QByteArray("abcXY");
        QTest::newRow("resume replaces the caller's range") << QByteArray("abc") << true << true << true << 3LL << QByteArray("abcXY");
        QTest::newRow("no resume, no range: truncated") << QByteArray("abc") << false << false << false << 0LL << QByteArray("XY");
        QTest::newRow("no resume, caller range: append") << QByteArray("abc") << false << true << true << 10LL << QByteArray("abcXY");
    }
    void openModes()
    {
        QFETCH(QByteArray, existing);
        QFETCH(bool, resume);
        QFETCH(bool, callerRange);
        QFETCH(bool, wantRange);
        QFETCH(qlonglong, wantStart);
        QFETCH(QByteArray, after);
        QTemporaryDir dir;
        const QString path = dir.filePath("f.bin");
        if (existing != "<none>")
            writeFile(path, existing);
        OrbNetDownloadSink sink(path);
        bool hasRange = callerRange;
        long long start = callerRange ? 10 : 0, length = callerRange ? 2 : 0;
        QVERIFY(sink.Open(resume, hasRange, start, length));
        QCOMPARE(hasRange, wantRange);
        if (wantRange) {
            QCOMPARE(start, wantStart);
            QCOMPARE(length, callerRange && !resume ? 2LL : 0LL);
        }
        const QByteArray cr = "bytes " + QByteArray::number(wantStart) + "-" + QByteArray::number(wantStart + 1) + "/" +
                              QByteArray::number(wantStart + 2);
        sink.BeginReply(wantRange ? 206 : 200, wantRange ? cr : QByteArray(), 2);
        QVERIFY(sink.Write(QByteArray("XY")));
        QCOMPARE(sink.Finish(0), 0);
        QVERIFY(!sink.IsOpen());
        QCOMPARE(readAll(path), after);
    }

    void openFailsInMissingDirectory()
    {
        QTemporaryDir dir;
        OrbNetDownloadSink sink(dir.filePath("no/such/dir/f.bin"));
        bool hasRange = false;
        long long start = 0, length = 0;
        QVERIFY(!sink.Open(true, hasRange, start, length));
        QVERIFY(!sink.IsOpen());
        QVERIFY(!sink.Write(QByteArray("x")));
    }

    // Each reply against the file it is meant to extend: what ends up on disk, the outcome
    // and where progress starts.
    void replies_data()
    {
        QTest::addColumn<QByteArray>("existing");
        QTest::addColumn<bool>("resume");
        QTest::addColumn<qlonglong>("rangeStart");   // caller range, -1 none
        QTest::addColumn<qlonglong>("rangeLength");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contentRange");
        QTest::addColumn<qlonglong>("contentLength");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("transportError");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<qlonglong>("progressBase");  // -1: progress not reported

        QTest::newRow("resume continued by 206")
            << QByteArray("abc") << true << -1LL << 0LL << 206 << QByteArray("bytes 3-5/6") << 3LL << QByteArray("def") << 0 << 0
            << QByteArray("abcdef") << 3LL;
        QTest::newRow("resume answered with whole body: start over")
            << QByteArray("abc") << true << -1LL << 0LL << 200 << QByteArray() << 6LL << QByteArray("abcdef") << 0 << 0
            << QByteArray("abcdef") << 0LL;
        QTest::newRow("resume answered with empty whole body: file emptied")
            << QByteArray("abc") << true << -1LL << 0LL << 200 << QByteArray() << 0LL << QByteArray() << 0 << 0
            << QByteArray() << 0LL;
        QTest::newRow("206 from the wrong offset: rejected unwritten")
            << QByteArray("abc") << true << -1LL << 0LL << 206 << QByteArray("bytes 0-5/6") << 6LL << QByteArray("abcdef") << 0
            << int(OrbDownloadBadReply) << QByteArray("abc") << -1LL;
        QTest::newRow("206 without Content-Range: rejected")
            << QByteArray("abc") << true << -1LL << 0LL << 206 << QByteArray() << 3LL << QByteArray("def") << 0
            << int(OrbDownloadBadReply) << QByteArray("abc") << -1LL;
        QTest::newRow("206 with garbled Content-Range: rejected")
            << QByteArray("abc") << true << -1LL << 0LL << 206 << QByteArray("bytes 3-x/6") << 3LL << QByteArray("def") << 0
            << int(OrbDownloadBadReply) << QByteArray("abc") << -1LL;
        QTest::newRow("416 on a complete file: done, body unwritten")
            << QByteArray("abcdef") << true << -1LL << 0LL << 416 << QByteArray("bytes */6") << 5LL << QByteArray("<err>") << 299
            << 0 << QByteArray("abcdef") << -1LL;
        QTest::newRow("416 with another total: error")
            << QByteArray("abcdef") << true << -1LL << 0LL << 416 << QByteArray("bytes */9") << 5LL << QByteArray("<err>") << 299
            << 299 << QByteArray("abcdef") << -1LL;
        QTest::newRow("416 without Content-Range: error")
            << QByteArray("abcdef") << true << -1LL << 0LL << 416 << QByteArray() << 5LL << QByteArray("<err>") << 299 << 299
            << QByteArray("abcdef") << -1LL;
        QTest::newRow("416 for a caller range: error")
            << QByteArray() << false << 6LL << 0LL << 416 << QByteArray("bytes */6") << 0LL << QByteArray() << 299 << 299
            << QByteArray() << -1LL;
        QTest::newRow("body shorter than announced")
            << QByteArray("abc") << true << -1LL << 0LL << 206 << QByteArray("bytes 3-5/6") << 3LL << QByteArray("de") << 0
            << int(OrbDownloadIncomplete) << QByteArray("abcde") << 3LL;
        QTest::newRow("plain body shorter than Content-Length")
            << QByteArray() << false << -1LL << 0LL << 200 << QByteArray() << 10LL << QByteArray("abc") << 0
            << int(OrbDownloadIncomplete) << QByteArray("abc") << 0LL;
        QTest::newRow("error page never reaches the file")
            << QByteArray("abc") << true << -1LL << 0LL << 404 << QByteArray() << 4LL << QByteArray("nope") << 203 << 203
            << QByteArray("abc") << -1LL;
        QTest::newRow("unexpected status without transport error")
            << QByteArray("abc") << true << -1LL << 0LL << 302 << QByteArray() << 0LL << QByteArray() << 0
            << int(OrbDownloadBadReply) << QByteArray("abc") << -1LL;
        QTest::newRow("closed mid-body keeps what arrived")
            << QByteArray("abc") << true << -1LL << 0LL << 206 << QByteArray("bytes 3-5/6") << 3LL << QByteArray("d") << 98 << 98
            << QByteArray("abcd") << 3LL;
        QTest::newRow("no resume rewrites the file")
            << QByteArray("old content") << false << -1LL << 0LL << 200 << QByteArray() << 3LL << QByteArray("new") << 0 << 0
            << QByteArray("new") << 0LL;
        QTest::newRow("caller range appended, progress of the transfer")
            << QByteArray("xy") << false << 2LL << 0LL << 206 << QByteArray("bytes 2-4/5") << 3LL << QByteArray("cde") << 0 << 0
            << QByteArray("xycde") << 0LL;
        QTest::newRow("caller range answered with whole body: rejected")
            << QByteArray("xy") << false << 2LL << 2LL << 200 << QByteArray() << 5LL << QByteArray("abcde") << 0
            << int(OrbDownloadBadReply) << QByteArray("xy") << -1LL;
        QTest::newRow("caller range answered with more than asked: rejected")
            << QByteArray() << false << 2LL << 2LL << 206 << QByteArray("bytes 2-4/5") << 3LL << QByteArray("cde") << 0
            << int(OrbDownloadBadReply) << QByteArray() << -1LL;
        QTest::newRow("unknown length, body to the end")
            << QByteArray() << false << -1LL << 0LL << 200 << QByteArray() << -1LL << QByteArray("abc") << 0 << 0
            << QByteArray("abc") << 0LL;
    }
    void replies()
    {
        QFETCH(QByteArray, existing);
        QFETCH(bool, resume);
        QFETCH(qlonglong, rangeStart);
        QFETCH(qlonglong, rangeLength);
        QFETCH(int, status);
        QFETCH(QByteArray, contentRange);
        QFETCH(qlonglong, contentLength);
        QFETCH(QByteArray, body);
        QFETCH(int, transportError);
        QFETCH(int, outcome);
        QFETCH(QByteArray, file);
        QFETCH(qlonglong, progressBase);

        QTemporaryDir dir;
        const QString path = dir.filePath("f.bin");
        writeFile(path, existing);
        OrbNetDownloadSink sink(path);
        bool hasRange = rangeStart >= 0;
        long long start = qMax(0LL, rangeStart), length = rangeLength;
        QVERIFY(sink.Open(resume, hasRange, start, length));
        sink.BeginReply(status, contentRange, contentLength);

        long long off = -7, tot = -7;
        const bool counted = sink.MapProgress(0, contentLength, off, tot);
        QCOMPARE(counted, progressBase >= 0);
        if (counted) {
            QCOMPARE(off, progressBase);
            QCOMPARE(tot, contentLength + progressBase);
        }
        // One byte at a time: the checks must hold for every chunk, not only the first.
        bool accepted = true;
        for (char c : body)
            accepted = sink.Write(&c, 1) && accepted;
        QCOMPARE(accepted, outcome != int(OrbDownloadBadReply) || body.isEmpty());
        QCOMPARE(sink.Finish(transportError), outcome);
        QCOMPARE(sink.Finish(0), outcome);  // settled once
        QVERIFY(!sink.IsOpen());
        QCOMPARE(readAll(path), file);
    }

    // A new attempt (a retry before any body) is judged by its own head.
    void laterAttemptJudgedAfresh()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("f.bin");
        writeFile(path, "abc");
        OrbNetDownloadSink sink(path);
        bool hasRange = false;
        long long start = 0, length = 0;
        QVERIFY(sink.Open(true, hasRange, start, length));
        sink.BeginReply(200, QByteArray(), 6);  // first attempt fails before its body
        sink.BeginReply(206, "bytes 3-5/6", 3);
        QVERIFY(sink.Write(QByteArray("def")));
        QCOMPARE(sink.Finish(0), 0);
        QCOMPARE(readAll(path), QByteArray("abcdef"));
    }

    // A write beyond the process's file size limit fails like a full disk: the download
    // ends with an error and the file keeps every byte written before.
    void failedWriteIsAnError()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("f.bin");
        writeFile(path, QByteArray(1000, 'a'));
        OrbNetDownloadSink sink(path);
        bool hasRange = false;
        long long start = 0, length = 0;
        QVERIFY(sink.Open(true, hasRange, start, length));
        sink.BeginReply(206, "bytes 1000-9999/10000", 9000);

        OrbTestFileSizeLimit limit(4096);
        QVERIFY(limit.ok());
        const QByteArray chunk(1000, 'b');
        int accepted = 0;
        for (int i = 0; i < 9; ++i) {
            if (!sink.Write(chunk))
                break;
            ++accepted;
        }
        const int outcome = sink.Finish(0);
        limit.release();

        QCOMPARE(accepted, 3);
        QCOMPARE(outcome, int(OrbDownloadFileWriteFailed));
        QCOMPARE(sink.Written(), 3096LL);
        QCOMPARE(readAll(path), QByteArray(1000, 'a') + QByteArray(3096, 'b'));
        long long off, tot;
        QVERIFY(!sink.MapProgress(4096, 9000, off, tot));
    }
};

QTEST_GUILESS_MAIN(tst_OrbNetDownloadSink)
#include "tst_orbnetdownloadsink.moc"
