// Downloads through the engine against real loopback servers: the Range header forms,
// resume and open modes, progress over the whole file, servers that ignore or botch
// ranges, cut and stalled transfers, close, failing writes, and nginx as the package server.
#include "OrbNetTestUtil.h"
#include "OrbNetDownload.h"
#include "OrbNetDownloadWatcher.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QMutex>
#include <QRandomGenerator>
#include <QtTest>

#include <atomic>
#include <mutex>
#include <vector>
#include "OrbTestFiles.h"
#include "OrbTestLimits.h"

using namespace orbtest;
using orbtest::makeEngine;
using orbtest::withProbes;


using orbtest::readAll;
using orbtest::writeFile;
namespace {

QByteArray content(int size, quint32 seed = 7)
{
    return orbtest::randomBytes(size, seed);
}



// What a download reported, collected on the worker thread.
struct Watch {
    std::mutex lock;
    std::vector<std::pair<long long, long long>> progress;
    std::atomic<int> finishes{0};
    int error = -1;
    QByteArray fileAtFinish;
    bool finishedAtFinish = false;
    bool recorded = false;

    std::vector<std::pair<long long, long long>> reports()
    {
        std::lock_guard<std::mutex> l(lock);
        return progress;
    }
};

// Registers the watch through the library's watcher: exactly one finish, delivered on
// this (the test's) thread through its event loop, also for a download that ended first.
bool attach(const std::shared_ptr<OrbNetDownload>& dl, const std::shared_ptr<Watch>& w, const QString& path)
{
    return OrbNetDownloadWatcher::Watch(
        dl, QCoreApplication::instance(),
        [w, path](const std::shared_ptr<OrbNetDownload>& d) {
            std::lock_guard<std::mutex> l(w->lock);
            QVERIFY(!w->recorded);
            w->recorded = true;
            w->error = d->Error();
            w->fileAtFinish = readAll(path);
            w->finishedAtFinish = d->IsFinish();
            ++w->finishes;
        },
        [w](const std::shared_ptr<OrbNetDownload>&, long long off, long long tot) {
            std::lock_guard<std::mutex> l(w->lock);
            w->progress.emplace_back(off, tot);
        });
}

OrbNetDownloadReq request(const QString& url, const QString& path)
{
    OrbNetDownloadReq r(url.toStdString(), path.toStdString(), orbtest::loopbackConfig());
    r.SetTimeout(5);
    return r;
}

// The server modes a test can pick with the first path segment ("/<mode>/pkg.zip").
HttpReply serve(const HttpRequest& r, const QByteArray& full)
{
    const QByteArray mode = r.path.split('/').value(1);
    if (mode == "ignore-range") {  // whole body, status 200, whatever was asked
        HttpReply rep;
        rep.body = full;
        rep.chunkSize = 16384;
        rep.chunkDelayMs = 25;  // slower than the transport's progress choke
        return rep;
    }
    if (mode == "wrong-range") {  // 206 from byte 0 whatever was asked
        HttpReply rep;
        rep.status = 206;
        rep.body = full;
        rep.headers.append(qMakePair(QByteArray("Content-Range"),
                                     "bytes 0-" + QByteArray::number(full.size() - 1) + "/" + QByteArray::number(full.size())));
        return rep;
    }
    if (mode == "wrong-total") {  // 416 that claims another size
        HttpReply rep;
        rep.status = 416;
        rep.headers.append(qMakePair(QByteArray("Content-Range"), "bytes */" + QByteArray::number(full.size() + 1)));
        return rep;
    }
    if (mode == "missing") {
        HttpReply rep;
        rep.status = 404;
        rep.body = "<html>not here</html>";
        return rep;
    }
    // A moment before answering, so that the test registers its callbacks before the end.
    QThread::msleep(20);
    HttpReply rep = HttpReply::ranged(r, full);
    if (mode == "drop")
        rep.dropAfter = rep.body.size() / 2;
    if (mode == "stall")
        rep.stallAfter = rep.body.size() / 2;
    if (mode == "slow") {
        rep.chunkSize = 8192;
        rep.chunkDelayMs = 20;
    }
    return rep;
}

} // namespace

class tst_OrbNetDownload : public QObject {
    Q_OBJECT

    const QByteArray m_full = content(300000);
    TestHttpServer m_srv;
    std::unique_ptr<OrbNetwork> m_net;

    QString url(const char* mode = "") const
    {
        return m_srv.url(QStringLiteral("/%1/pkg.zip").arg(QString::fromLatin1(*mode ? mode : "plain")));
    }
    // The Range header of the last request the server saw ("<none>" when it had none).
    QByteArray lastRange() const
    {
        const auto reqs = m_srv.requests();
        for (int i = reqs.size() - 1; i >= 0; --i)
            if (reqs[i].method == "GET")
                return reqs[i].headers.value("range", "<none>");
        return "<no request>";
    }

    // A resume against the sound server completes the file.
    void resumeCompletes(const QString& path)
    {
        auto again = m_net->Download(request(url(), path), true);
        auto w = std::make_shared<Watch>();
        QVERIFY(attach(again, w, path));
        QTRY_COMPARE_WITH_TIMEOUT(w->finishes.load(), 1, 30000);
        QCOMPARE(w->error, 0);
        QVERIFY(readAll(path) == m_full);
    }

private slots:
    void initTestCase()
    {
        clearProxyEnv();
        const QByteArray full = m_full;
        QVERIFY(m_srv.start(withProbes([full](const HttpRequest& r) { return serve(r, full); })));
        m_net = makeEngine();
    }
    void cleanupTestCase()
    {
        m_net.reset();
        m_srv.stop();
    }

    void requestRange_data()
    {
        QTest::addColumn<qlonglong>("start");
        QTest::addColumn<qlonglong>("length");
        QTest::addColumn<bool>("on");
        QTest::addColumn<QString>("header");
        QTest::newRow("bounded") << 100LL << 50LL << true << "bytes=100-149";
        QTest::newRow("to the end") << 100LL << 0LL << true << "bytes=100-";
        QTest::newRow("negative start: off") << -1LL << 10LL << false << "";
        QTest::newRow("negative length: off") << 5LL << -1LL << false << "";
    }
    void requestRange()
    {
        QFETCH(qlonglong, start);
        QFETCH(qlonglong, length);
        QFETCH(bool, on);
        QFETCH(QString, header);
        OrbNetDownloadReq r("http://127.0.0.1:1/a", "/x/y", DefaultNetConfig);
        r.SetRange(7, 3).SetRange(start, length);
        long long s = -5, l = -5;
        QCOMPARE(r.GetRange(s, l), on);
        QCOMPARE(s, on ? start : -5LL);
        QCOMPARE(l, on ? length : -5LL);
        std::string value;
        QCOMPARE(r.GetRuquest().GetHeader("Range", value), on);
        QCOMPARE(QString::fromStdString(value), header);
        QCOMPARE(r.GetRuquest().Method(), HttpGet);
    }

    void requestFields()
    {
        OrbNetDownloadReq r("http://127.0.0.1:81/p?b=2&a=1", "/tmp/f", DefaultNetConfig);
        QCOMPARE(r.Url(), std::string("http://127.0.0.1:81/p?a=1&b=2"));
        QCOMPARE(r.Path(), std::string("/tmp/f"));
        QCOMPARE(r.Timeout(), DefaultNetConfig.Timeout());
        r.SetRetryCount(3).SetTimeout(11);
        QCOMPARE(r.RetryCount(), 3);
        QCOMPARE(r.Timeout(), 11);
        OrbNetDownloadReq copy(r);
        r.SetPath("/other").SetRange(1, 2).SetUrl("http://127.0.0.1/q");
        long long s, l;
        QVERIFY(!copy.GetRange(s, l));
        QCOMPARE(copy.Path(), std::string("/tmp/f"));
        QCOMPARE(copy.Url(), std::string("http://127.0.0.1:81/p?a=1&b=2"));
        OrbNetDownloadReq moved(std::move(r));
        QVERIFY(r.IsEmpty());
        QCOMPARE(r.Path(), std::string());
        QCOMPARE(moved.Path(), std::string("/other"));
    }

    // Resume and open modes against a server that honours ranges: the header sent, what the
    // file holds at the finish callback, and progress counted over the whole file on resume.
    void modes_data()
    {
        QTest::addColumn<int>("existing");   // -1 no file, else bytes of the right content already there
        QTest::addColumn<bool>("garbage");   // the existing bytes are not the content
        QTest::addColumn<bool>("resume");
        QTest::addColumn<qlonglong>("rangeStart");  // caller range, -1 none
        QTest::addColumn<qlonglong>("rangeLength");
        QTest::addColumn<QByteArray>("sentRange");
        QTest::addColumn<qlonglong>("firstAtLeast");  // lowest first progress offset
        QTest::addColumn<qlonglong>("lastOffset");
        QTest::addColumn<qlonglong>("lastTotal");
        QTest::addColumn<int>("expectFile");  // 0 whole content, 1 garbage + range, 2 the existing file

        const qlonglong n = 300000;
        QTest::newRow("resume without file: created, no Range")
            << -1 << false << true << -1LL << 0LL << QByteArray("<none>") << 0LL << n << n << 0;
        QTest::newRow("resume an empty file: bytes=0-")
            << 0 << false << true << -1LL << 0LL << QByteArray("bytes=0-") << 0LL << n << n << 0;
        QTest::newRow("resume a partial file: whole-file progress")
            << 120000 << false << true << -1LL << 0LL << QByteArray("bytes=120000-") << 120000LL << n << n << 0;
        QTest::newRow("resume replaces the caller's range")
            << 1000 << false << true << 5LL << 10LL << QByteArray("bytes=1000-") << 1000LL << n << n << 0;
        QTest::newRow("no resume rewrites an existing file")
            << 5000 << true << false << -1LL << 0LL << QByteArray("<none>") << 0LL << n << n << 0;
        QTest::newRow("caller range appends, progress of the transfer")
            << 10 << true << false << 100LL << 50LL << QByteArray("bytes=100-149") << 0LL << 50LL << 50LL << 1;
        QTest::newRow("complete file: 416 counts as done")
            << 300000 << false << true << -1LL << 0LL << QByteArray("bytes=300000-") << -1LL << -1LL << -1LL << 2;
    }
    void modes()
    {
        QFETCH(int, existing);
        QFETCH(bool, garbage);
        QFETCH(bool, resume);
        QFETCH(qlonglong, rangeStart);
        QFETCH(qlonglong, rangeLength);
        QFETCH(QByteArray, sentRange);
        QFETCH(qlonglong, firstAtLeast);
        QFETCH(qlonglong, lastOffset);
        QFETCH(qlonglong, lastTotal);
        QFETCH(int, expectFile);

        QTemporaryDir dir;
        const QString path = dir.filePath("pkg.zip");
        const QByteArray before = existing < 0 ? QByteArray() : (garbage ? QByteArray(existing, 'g') : m_full.left(existing));
        if (existing >= 0)
            writeFile(path, before);
        OrbNetDownloadReq req = request(url(), path);
        if (rangeStart >= 0)
            req.SetRange(rangeStart, rangeLength);
        auto dl = m_net->Download(req, resume);
        auto w = std::make_shared<Watch>();
        QVERIFY(attach(dl, w, path));
        QTRY_COMPARE_WITH_TIMEOUT(w->finishes.load(), 1, 30000);
        QCOMPARE(w->error, 0);
        QVERIFY(w->finishedAtFinish);
        QCOMPARE(lastRange(), sentRange);
        // Ranges count bytes of the file itself, so no compressed rendition is asked for.
        QCOMPARE(m_srv.requests().last().header("accept-encoding"), QByteArray("identity"));
        const QByteArray want = expectFile == 0 ? m_full
                              : expectFile == 1 ? before + m_full.mid(rangeStart, rangeLength)
                                                : before;
        QCOMPARE(w->fileAtFinish.size(), want.size());
        QVERIFY(w->fileAtFinish == want);
        const auto reports = w->reports();
        if (lastOffset < 0) {
            QVERIFY(reports.empty());  // nothing of a 416 body counts as the file's progress
        } else {
            QVERIFY(!reports.empty());
            QVERIFY(reports.front().first >= firstAtLeast);
            QCOMPARE(reports.back().first, lastOffset);
            QCOMPARE(reports.back().second, lastTotal);
        }
        QVERIFY(dl->IsFinish());
        QVERIFY(dl->Cost() >= 0);
        QCOMPARE(dl->GetReq().Url(), req.Url());
        // A registration after the end calls nothing and reports the outcome.
        bool called = false;
        QVERIFY(dl->Async([&](const std::shared_ptr<OrbNetDownload>&) { called = true; }, nullptr));
        QVERIFY(!called);
    }

    // Servers that botch the exchange: the file must never be corrupted, and a later
    // resume against a sound server must complete it.
    void faults_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<int>("existing");
        QTest::addColumn<int>("error");       // -1: any non-zero
        QTest::addColumn<int>("fileAtMost");  // -1: exactly the existing bytes
        QTest::addColumn<bool>("wholeAfter"); // the file is the whole content straight away

        QTest::newRow("range ignored: start over from 0") << QByteArray("ignore-range") << 100000 << 0 << 300000 << true;
        QTest::newRow("206 from the wrong offset") << QByteArray("wrong-range") << 100000 << int(NetBadReply) << -1 << false;
        QTest::newRow("416 with another total") << QByteArray("wrong-total") << 300000 << 299 << -1 << false;
        QTest::newRow("error page") << QByteArray("missing") << 100000 << 203 << -1 << false;
        QTest::newRow("connection dropped mid-body") << QByteArray("drop") << 100000 << -1 << 299999 << false;
        QTest::newRow("stalled mid-body") << QByteArray("stall") << 100000 << -1 << 299999 << false;
    }
    void faults()
    {
        QFETCH(QByteArray, mode);
        QFETCH(int, existing);
        QFETCH(int, error);
        QFETCH(int, fileAtMost);
        QFETCH(bool, wholeAfter);

        QTemporaryDir dir;
        const QString path = dir.filePath("pkg.zip");
        writeFile(path, m_full.left(existing));
        OrbNetDownloadReq req = request(url(mode.constData()), path);
        req.SetTimeout(1);
        auto dl = m_net->Download(req, true);
        auto w = std::make_shared<Watch>();
        QVERIFY(attach(dl, w, path));
        QTRY_COMPARE_WITH_TIMEOUT(w->finishes.load(), 1, 30000);
        if (error < 0)
            QVERIFY(w->error != 0);
        else
            QCOMPARE(w->error, error);
        QCOMPARE(int(dl->Error()), w->error);
        const QByteArray got = w->fileAtFinish;
        if (fileAtMost < 0) {
            QVERIFY(got == m_full.left(existing));
        } else {
            QVERIFY(got.size() <= fileAtMost);
            QVERIFY(got == m_full.left(got.size()));  // a clean prefix, never a splice
        }
        if (mode == "ignore-range") {
            const auto reports = w->reports();
            QVERIFY(!reports.empty());
            QVERIFY(reports.front().first < existing);  // progress restarted from 0
            QCOMPARE(reports.back(), std::make_pair(300000LL, 300000LL));
        }
        if (wholeAfter)
            return;
        // Resume against the sound server completes the file.
        if (existing == m_full.size())
            return;  // nothing left to fetch
        resumeCompletes(path);
    }

    void closeKeepsPartialFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("pkg.zip");
        auto dl = m_net->Download(request(url("slow"), path), true);
        auto w = std::make_shared<Watch>();
        QVERIFY(attach(dl, w, path));
        QTRY_VERIFY_WITH_TIMEOUT(!w->reports().empty() && w->reports().back().first > 0, 30000);
        dl->Close();
        QTRY_COMPARE_WITH_TIMEOUT(w->finishes.load(), 1, 30000);
        QCOMPARE(w->error, int(NetClosed));
        QCOMPARE(int(dl->Error()), int(NetClosed));
        QVERIFY(w->fileAtFinish.size() > 0 && w->fileAtFinish.size() < m_full.size());
        QVERIFY(w->fileAtFinish == m_full.left(w->fileAtFinish.size()));
        QCOMPARE(w->finishes.load(), 1);

        resumeCompletes(path);
    }

    void closeBeforeDispatch()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("pkg.zip");
        auto dl = m_net->Download(request(url(), path), false);
        auto w = std::make_shared<Watch>();
        QVERIFY(attach(dl, w, path));
        dl->Close();
        QTRY_COMPARE_WITH_TIMEOUT(w->finishes.load(), 1, 30000);
        QCOMPARE(w->error, int(NetClosed));
        QVERIFY(dl->IsFinish());
    }

    void unopenableFile()
    {
        QTemporaryDir dir;
        const int before = m_srv.count("GET");
        auto dl = m_net->Download(request(url(), dir.filePath("no/such/dir/pkg.zip")), true);
        QCOMPARE(int(dl->Error()), int(NetFileOpenFailed));
        QVERIFY(dl->IsFinish());
        QCOMPARE(dl->Cost(), 0);
        bool called = false;
        QVERIFY(!dl->Async([&](const std::shared_ptr<OrbNetDownload>&) { called = true; },
                           [&](const std::shared_ptr<OrbNetDownload>&, long long, long long) { called = true; }));
        dl->Close();
        QTest::qWait(100);
        QVERIFY(!called);
        QCOMPARE(m_srv.count("GET"), before);
    }

    // A write beyond the file size limit ends the download with an error; the file keeps
    // what was written and a later resume completes it.
    void failedWriteEndsWithError()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("pkg.zip");
        writeFile(path, m_full.left(1000));
        OrbTestFileSizeLimit limit(100000);
        QVERIFY(limit.ok());
        auto dl = m_net->Download(request(url(), path), true);
        auto w = std::make_shared<Watch>();
        QVERIFY(attach(dl, w, path));
        QTRY_COMPARE_WITH_TIMEOUT(w->finishes.load(), 1, 30000);
        limit.release();
        QCOMPARE(w->error, int(NetFileWriteFailed));
        QVERIFY(w->fileAtFinish == m_full.left(100000));

        resumeCompletes(path);
    }

    // A file replaced on the server between pause and resume: the partial file's validator
    // goes out as If-Range, so a changed file comes again from byte 0 instead of being spliced.
    void changedFileBetweenPauseAndResume_data()
    {
        QTest::addColumn<QByteArray>("validator");  // etag | last-modified | weak-etag | none
        QTest::addColumn<bool>("changed");
        QTest::newRow("etag, changed") << QByteArray("etag") << true;
        QTest::newRow("etag, unchanged") << QByteArray("etag") << false;
        QTest::newRow("last-modified, changed") << QByteArray("last-modified") << true;
        QTest::newRow("weak etag falls back to last-modified") << QByteArray("weak-etag") << true;
        QTest::newRow("no validator resumes as before") << QByteArray("none") << false;
    }
    void changedFileBetweenPauseAndResume()
    {
        QFETCH(QByteArray, validator);
        QFETCH(bool, changed);
        struct Served {
            QMutex lock;
            QByteArray body;
            QByteArray etag, lastModified;
            bool cut = true;  // the first GET is cut halfway
        };
        auto served = std::make_shared<Served>();
        const QByteArray a = content(200000, 1), b = content(260000, 2);
        auto setContent = [&](const QByteArray& body, const char* tag, const char* date) {
            QMutexLocker l(&served->lock);
            served->body = body;
            served->etag = validator == "etag" ? QByteArray(tag) : validator == "weak-etag" ? "W/" + QByteArray(tag) : QByteArray();
            served->lastModified = validator == "last-modified" || validator == "weak-etag" ? QByteArray(date) : QByteArray();
        };
        setContent(a, "\"a-1\"", "Mon, 01 Jan 2024 00:00:00 GMT");
        TestHttpServer srv;
        QVERIFY(srv.start(withProbes([served](const HttpRequest& r) {
            QMutexLocker l(&served->lock);
            const QByteArray current = !served->etag.isEmpty() && !served->etag.startsWith("W/") ? served->etag
                                                                                                 : served->lastModified;
            HttpReply rep;
            const QByteArray ifRange = r.header("if-range");
            if (r.headers.contains("range") && (ifRange.isEmpty() || ifRange == current)) {
                rep = HttpReply::ranged(r, served->body);
            } else {
                rep.body = served->body;
                if (served->cut) {
                    served->cut = false;
                    rep.dropAfter = served->body.size() / 2;
                }
            }
            if (!served->etag.isEmpty())
                rep.headers.append(qMakePair(QByteArray("ETag"), served->etag));
            if (!served->lastModified.isEmpty())
                rep.headers.append(qMakePair(QByteArray("Last-Modified"), served->lastModified));
            return rep;
        })));
        QTemporaryDir dir;
        const QString path = dir.filePath("pkg.zip");
        const QString side = path + ".orbpart";
        const QString u = srv.url("/pkg.zip");

        auto first = m_net->Download(request(u, path), true);
        auto w1 = std::make_shared<Watch>();
        QVERIFY(attach(first, w1, path));
        QTRY_COMPARE_WITH_TIMEOUT(w1->finishes.load(), 1, 30000);
        QVERIFY(w1->error != 0);
        const QByteArray partial = readAll(path);
        QVERIFY(partial.size() > 0 && partial.size() < a.size());
        QVERIFY(partial == a.left(partial.size()));
        const QByteArray kept = validator == "etag" ? QByteArray("\"a-1\"")
                              : validator == "none" ? QByteArray()
                                                    : QByteArray("Mon, 01 Jan 2024 00:00:00 GMT");
        QCOMPARE(QFile::exists(side), !kept.isEmpty());
        if (!kept.isEmpty())
            QCOMPARE(readAll(side).trimmed(), kept);

        if (changed)
            setContent(b, "\"b-2\"", "Tue, 02 Jan 2024 00:00:00 GMT");
        auto again = m_net->Download(request(u, path), true);
        auto w2 = std::make_shared<Watch>();
        QVERIFY(attach(again, w2, path));
        QTRY_COMPARE_WITH_TIMEOUT(w2->finishes.load(), 1, 30000);
        QCOMPARE(w2->error, 0);
        const HttpRequest last = srv.requests().last();
        QCOMPARE(last.header("range"), "bytes=" + QByteArray::number(partial.size()) + "-");
        QCOMPARE(last.header("if-range"), kept);
        const QByteArray want = changed ? b : a;
        QCOMPARE(w2->fileAtFinish.size(), want.size());
        QVERIFY(w2->fileAtFinish == want);
        QVERIFY(!QFile::exists(side));  // complete: nothing left to resume
    }

    // The same against nginx, whose ETag changes with the file: paused by Close mid-transfer.
    void nginxChangedFileBetweenPauseAndResume()
    {
        QTemporaryDir root;
        const QString served = root.filePath("game.zip");
        const QByteArray a = content(600 * 1024, 21), b = content(700 * 1024, 22);
        writeFile(served, a);
        ExternalDaemon nginx;
        const quint16 port = freePort();
        QVERIFY2(startNginx(nginx, port, root.path(), "1m"), nginx.output().constData());
        const QString u = QStringLiteral("http://127.0.0.1:%1/game.zip").arg(port);
        QTemporaryDir dir;
        const QString path = dir.filePath("game.zip");

        auto first = m_net->Download(request(u, path), true);
        auto w1 = std::make_shared<Watch>();
        QVERIFY(attach(first, w1, path));
        QTRY_VERIFY_WITH_TIMEOUT(!w1->reports().empty() && w1->reports().back().first > 0, 30000);
        first->Close();
        QTRY_COMPARE_WITH_TIMEOUT(w1->finishes.load(), 1, 30000);
        QCOMPARE(w1->error, int(NetClosed));
        const QByteArray partial = readAll(path);
        QVERIFY(partial.size() > 0 && partial.size() < a.size());
        QVERIFY(QFile::exists(path + ".orbpart"));

        writeFile(served, b);
        QFile f(served);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(QDateTime::currentDateTimeUtc().addSecs(100), QFileDevice::FileModificationTime));
        f.close();

        auto again = m_net->Download(request(u, path), true);
        auto w2 = std::make_shared<Watch>();
        QVERIFY(attach(again, w2, path));
        QTRY_COMPARE_WITH_TIMEOUT(w2->finishes.load(), 1, 30000);
        QCOMPARE(w2->error, 0);
        QCOMPARE(w2->fileAtFinish.size(), b.size());
        QVERIFY(w2->fileAtFinish == b);
        QVERIFY(!QFile::exists(path + ".orbpart"));
    }

    // A body cut before its end, by a reset or an orderly close, is never a success: with a
    // Content-Length the shortfall shows; a chunked body (no length) is checked with a range
    // request for what lies beyond the file's end. The file is a clean prefix either way, and
    // a whole chunked body still succeeds.
    void cutBody_data()
    {
        QTest::addColumn<bool>("chunked");
        QTest::addColumn<int>("cutAt");  // -1: not cut
        QTest::addColumn<int>("chunk");
        QTest::addColumn<bool>("clean");  // orderly close instead of a reset
        for (bool chunked : {false, true})
            for (bool clean : {false, true}) {
                const char* how = clean ? "closed" : "reset";
                const char* framing = chunked ? "chunked" : "length";
                QTest::addRow("%s, mid-body, small pieces, %s", framing, how) << chunked << 150000 << 4096 << clean;
                QTest::addRow("%s, mid-body, large pieces, %s", framing, how) << chunked << 150000 << 65536 << clean;
                QTest::addRow("%s, early, %s", framing, how) << chunked << 100 << 1024 << clean;
                QTest::addRow("%s, one byte short, %s", framing, how) << chunked << 299999 << 8192 << clean;
            }
        QTest::newRow("chunked, whole body") << true << -1 << 8192 << false;
        QTest::newRow("chunked, all data but no last chunk") << true << 300000 << 8192 << false;
    }
    void cutBody()
    {
        QFETCH(bool, chunked);
        QFETCH(int, cutAt);
        QFETCH(int, chunk);
        QFETCH(bool, clean);
        TestHttpServer srv;
        const QByteArray full = m_full;
        QVERIFY(srv.start(withProbes([full, chunked, cutAt, chunk, clean](const HttpRequest& r) {
            if (r.headers.contains("range"))
                return HttpReply::ranged(r, full);
            HttpReply rep;
            rep.body = full;
            rep.chunked = chunked;
            rep.chunkSize = chunk;
            rep.dropAfter = cutAt;
            rep.dropCleanly = clean;
            return rep;
        })));
        // Whole data without its last chunk is the whole file: nothing lies beyond it.
        const bool whole = cutAt < 0 || cutAt >= full.size();
        for (int round = 0; round < 10; ++round) {
            QTemporaryDir dir;
            const QString path = dir.filePath("pkg.zip");
            auto dl = m_net->Download(request(srv.url("/c"), path), false);
            auto w = std::make_shared<Watch>();
            QVERIFY(attach(dl, w, path));
            QTRY_COMPARE_WITH_TIMEOUT(w->finishes.load(), 1, 30000);
            QVERIFY(w->fileAtFinish == full.left(w->fileAtFinish.size()));
            if (whole && cutAt < 0) {
                QCOMPARE(w->error, 0);
                QVERIFY(w->fileAtFinish == full);
                continue;
            }
            if (whole) {
                // Reported either as the transport's error or, when it missed the cut, as
                // complete after the check found nothing beyond the end.
                QVERIFY(w->error != 0 || w->fileAtFinish == full);
                continue;
            }
            QVERIFY(w->fileAtFinish.size() <= cutAt);
            QVERIFY2(w->error != 0, qPrintable(QStringLiteral("round %1: %2 bytes reported as complete")
                                                   .arg(round).arg(w->fileAtFinish.size())));
            if (w->fileAtFinish.size() == cutAt)
                QVERIFY2(w->error == NetIncomplete || w->error == QNetworkReply::RemoteHostClosedError,
                         QByteArray::number(w->error));
        }
    }

    // The watcher delivers exactly one finish through the context's event loop, never inside
    // Watch, also for a download that ended before it; a gone context receives nothing.
    void watcherDeliversOnce_data()
    {
        QTest::addColumn<bool>("endedFirst");
        QTest::addColumn<bool>("dropContext");
        QTest::addColumn<QByteArray>("mode");
        QTest::newRow("registered before the end") << false << false << QByteArray("slow");
        QTest::newRow("ended before the registration") << true << false << QByteArray("plain");
        QTest::newRow("failed before the registration") << true << false << QByteArray("missing");
        QTest::newRow("context destroyed first") << true << true << QByteArray("plain");
    }
    void watcherDeliversOnce()
    {
        QFETCH(bool, endedFirst);
        QFETCH(bool, dropContext);
        QFETCH(QByteArray, mode);
        QTemporaryDir dir;
        const QString path = dir.filePath("pkg.zip");
        auto dl = m_net->Download(request(url(mode.constData()), path), false);
        if (endedFirst)
            QTRY_VERIFY_WITH_TIMEOUT(dl->IsFinish(), 30000);
        auto context = std::make_unique<QObject>();
        std::atomic<int> calls{0};
        std::atomic<bool> onCallerThread{false};
        int errorSeen = -1;
        QThread* const caller = QThread::currentThread();
        QVERIFY(OrbNetDownloadWatcher::Watch(dl, context.get(), [&](const std::shared_ptr<OrbNetDownload>& d) {
            ++calls;
            onCallerThread = QThread::currentThread() == caller;
            errorSeen = d->Error();
        }));
        QCOMPARE(calls.load(), 0);  // never from inside the registration
        if (dropContext) {
            context.reset();
            QTest::qWait(100);
            QCOMPARE(calls.load(), 0);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(calls.load(), 1, 30000);
        QVERIFY(onCallerThread.load());
        QCOMPARE(errorSeen, int(dl->Error()));
        QCOMPARE(errorSeen == 0, mode != "missing");
        QTest::qWait(100);
        QCOMPARE(calls.load(), 1);
    }

    void watcherRefusesAnUnopenedFile()
    {
        QTemporaryDir dir;
        auto dl = m_net->Download(request(url(), dir.filePath("no/such/dir/pkg.zip")), true);
        QObject context;
        bool called = false;
        QVERIFY(!OrbNetDownloadWatcher::Watch(dl, &context, [&](const std::shared_ptr<OrbNetDownload>&) { called = true; }));
        QVERIFY(!OrbNetDownloadWatcher::Watch(dl, nullptr, [&](const std::shared_ptr<OrbNetDownload>&) { called = true; }));
        QTest::qWait(50);
        QVERIFY(!called);
    }

    void droppedHandleKeepsRunning()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("pkg.zip");
        auto w = std::make_shared<Watch>();
        {
            auto dl = m_net->Download(request(url("slow"), path), false);
            QVERIFY(attach(dl, w, path));
        }
        QTRY_COMPARE_WITH_TIMEOUT(w->finishes.load(), 1, 30000);
        QCOMPARE(w->error, 0);
        QVERIFY(w->fileAtFinish == m_full);
    }

    // An engine torn down mid-transfer calls nothing more, and the handle ends closed with
    // its file closed.
    void engineGoneMidTransfer()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("pkg.zip");
        auto net = makeEngine();
        auto dl = net->Download(request(url("slow"), path), false);
        auto w = std::make_shared<Watch>();
        QVERIFY(attach(dl, w, path));
        QTRY_VERIFY_WITH_TIMEOUT(!w->reports().empty(), 30000);
        net.reset();
        QCOMPARE(w->finishes.load(), 0);
        QVERIFY(dl->IsFinish());
        QCOMPARE(int(dl->Error()), int(NetClosed));
        const QByteArray got = readAll(path);
        QVERIFY(got == m_full.left(got.size()));
    }

    // nginx as the package server: its own Range handling for resume and for a complete file.
    void nginxResume()
    {
        QTemporaryDir root;
        const QByteArray big = content(3 * 1024 * 1024, 11);
        writeFile(root.filePath("game.zip"), big);
        ExternalDaemon nginx;
        const quint16 port = freePort();
        QVERIFY2(startNginx(nginx, port, root.path()), nginx.output().constData());
        const QString u = QStringLiteral("http://127.0.0.1:%1/game.zip").arg(port);

        QTemporaryDir dir;
        const QString path = dir.filePath("game.zip");
        for (int cut : {0, 1, 1234567, 3 * 1024 * 1024 - 1, 3 * 1024 * 1024}) {
            writeFile(path, big.left(cut));
            auto dl = m_net->Download(request(u, path), true);
            auto w = std::make_shared<Watch>();
            QVERIFY(attach(dl, w, path));
            QTRY_COMPARE_WITH_TIMEOUT(w->finishes.load(), 1, 30000);
            QCOMPARE(w->error, 0);
            QVERIFY2(w->fileAtFinish == big, qPrintable(QString::number(cut)));
            const auto reports = w->reports();
            // nginx answers at once, so the end may come before the registration: then no reports.
            if (cut < big.size() && !reports.empty())
                QCOMPARE(reports.back(), std::make_pair(qlonglong(big.size()), qlonglong(big.size())));
        }
    }
};

QTEST_GUILESS_MAIN(tst_OrbNetDownload)
#include "tst_orbnetdownload.moc"
