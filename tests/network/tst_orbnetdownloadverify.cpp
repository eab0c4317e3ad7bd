// Declared size and SHA-256 of a download: a finished file is reported only when it
// matches; a mismatch removes it; nothing beyond a declared size is written; a resumed
// file is verified over its earlier part as well; undeclared downloads are unaffected.
#include "OrbNetTestUtil.h"
#include "OrbNetDownload.h"
#include "OrbNetDownloadWatcher.h"
#include "OrbTestFiles.h"

#include <QCryptographicHash>
#include <QtTest>

#include <atomic>

using namespace orbtest;

namespace {

QByteArray sha(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

} // namespace

class tst_OrbNetDownloadVerify : public QObject {
    Q_OBJECT

    TestHttpServer m_srv;
    std::unique_ptr<OrbNetwork> m_net;
    const QByteArray m_body = randomBytes(600 * 1024 + 13, 11);

    // Runs one download to its end; returns its error code.
    int run(const QString& path, const QString& urlPath, long long size, const QByteArray& hash, bool resume,
            QList<long long>* offsets = nullptr)
    {
        OrbNetDownloadReq req(m_srv.url(urlPath).toStdString(), path.toStdString(), orbtest::loopbackConfig());
        req.SetTimeout(5).SetExpectedSize(size).SetExpectedSha256(hash.toStdString());
        auto dl = m_net->Download(req, resume);
        std::atomic<int> error{-1};
        auto seen = std::make_shared<QList<long long>>();
        const bool ok = OrbNetDownloadWatcher::Watch(
            dl, QCoreApplication::instance(), [&error](const std::shared_ptr<OrbNetDownload>& d) { error = d->Error(); },
            [seen](const std::shared_ptr<OrbNetDownload>&, long long off, long long) { seen->append(off); });
        if (!ok)
            return -2;
        if (!QTest::qWaitFor([&] { return error != -1; }, 20000))
            return -3;
        if (offsets)
            *offsets = *seen;
        return error;
    }

private slots:
    void initTestCase()
    {
        clearProxyEnv();
        const QByteArray body = m_body;
        QVERIFY(m_srv.start([body](const HttpRequest& r) {
            if (r.path == "/more") {  // longer than anyone declares
                HttpReply rep;
                rep.body = body + QByteArray(4096, 'X');
                rep.chunkSize = 64 * 1024;
                return rep;
            }
            HttpReply rep = HttpReply::ranged(r, body);
            rep.chunkSize = 64 * 1024;
            return rep;
        }));
        m_net = orbtest::makeEngine();
    }
    void cleanupTestCase()
    {
        m_net.reset();
        m_srv.stop();
    }

    void wholeDownload_data()
    {
        QTest::addColumn<qlonglong>("size");
        QTest::addColumn<QByteArray>("hash");
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("kept");
        const QByteArray good = sha(m_body);
        QByteArray bad = good;
        bad[0] = bad[0] == 'a' ? 'b' : 'a';
        const qlonglong n = m_body.size();
        QTest::newRow("nothing declared") << qlonglong(-1) << QByteArray() << 0 << true;
        QTest::newRow("size and hash match") << n << good << 0 << true;
        QTest::newRow("hash in capitals") << n << good.toUpper() << 0 << true;
        QTest::newRow("only the hash") << qlonglong(-1) << good << 0 << true;
        QTest::newRow("hash differs") << n << bad << int(NetVerifyFailed) << false;
        QTest::newRow("declared larger") << n + 1 << good << int(NetVerifyFailed) << false;
    }
    void wholeDownload()
    {
        QFETCH(qlonglong, size);
        QFETCH(QByteArray, hash);
        QFETCH(int, error);
        QFETCH(bool, kept);
        QTemporaryDir dir;
        const QString path = dir.filePath("pkg.zip");
        QCOMPARE(run(path, "/pkg.zip", size, hash, true), error);
        QCOMPARE(QFileInfo::exists(path), kept);
        if (kept)
            QVERIFY(readAll(path) == m_body);
    }

    // A server sending more than declared is cut off at the declared size.
    void moreThanDeclared()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("pkg.zip");
        QCOMPARE(run(path, "/more", m_body.size(), QByteArray(), false), int(NetTooLarge));
        QCOMPARE(QFileInfo(path).size(), qint64(m_body.size()));
        QVERIFY(readAll(path) == m_body);
    }

    // The earlier part of a resumed file counts: a good prefix passes, a damaged one fails.
    void resumed_data()
    {
        QTest::addColumn<bool>("damaged");
        QTest::addColumn<int>("prefix");
        QTest::newRow("good prefix") << false << 200000;
        QTest::newRow("damaged prefix") << true << 200000;
        QTest::newRow("complete file") << false << int(m_body.size());
        QTest::newRow("complete file, damaged") << true << int(m_body.size());
        QTest::newRow("longer than declared") << false << int(m_body.size()) + 50;
    }
    void resumed()
    {
        QFETCH(bool, damaged);
        QFETCH(int, prefix);
        QTemporaryDir dir;
        const QString path = dir.filePath("pkg.zip");
        QByteArray start = (m_body + QByteArray(64, 'Z')).left(prefix);
        if (damaged)
            start[100] = char(start[100] ^ 0x55);
        writeFile(path, start);
        QList<long long> offsets;
        const int error = run(path, "/pkg.zip", m_body.size(), sha(m_body), true, &offsets);
        QCOMPARE(error, damaged ? int(NetVerifyFailed) : 0);
        QCOMPARE(QFileInfo::exists(path), !damaged);
        if (!damaged)
            QVERIFY(readAll(path) == m_body);
        if (prefix < m_body.size() && !offsets.isEmpty())
            QVERIFY(offsets.first() > prefix);  // only the rest was fetched
    }
};

QTEST_GUILESS_MAIN(tst_OrbNetDownloadVerify)
#include "tst_orbnetdownloadverify.moc"
