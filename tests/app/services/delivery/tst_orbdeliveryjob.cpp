// The delivery job against real nginx on loopback serving stores built here: fresh
// installs, updates that fetch only new chunks, killed updates, repair, bad mirrors,
// no free space, a network that goes away, and manifests that must change nothing.
#include "OrbDeliveryJob.h"
#include "OrbDeliveryPack.h"
#include "OrbDeliveryTestStore.h"
#include "OrbNetwork.h"
#include "OrbSignature.h"
#include "OrbTestFiles.h"
#include "TestHttpServer.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>

using namespace orbtest;
using namespace deliverytest;

namespace {

const QString kGame = QStringLiteral("Orb Game");

void makeExecutable(const QString& path)
{
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther);
}

void put(const QString& root, const QString& rel, const QByteArray& data, bool exec = false)
{
    QDir().mkpath(QFileInfo(root + QLatin1Char('/') + rel).path());
    writeFile(root + QLatin1Char('/') + rel, data);
    if (exec)
        makeExecutable(root + QLatin1Char('/') + rel);
}

// What a front serving the store at root under "/store" answers: the file (the requested
// range of it when ranged), or 404.
HttpReply fromStore(const QString& root, const HttpRequest& r, bool ranged = false)
{
    QFile f(root + QString::fromUtf8(r.path.mid(int(qstrlen("/store")))));
    if (!f.open(QIODevice::ReadOnly))
        return HttpReply{404, {}, {}, {}};
    return ranged ? HttpReply::ranged(r, f.readAll()) : HttpReply{200, {}, {}, f.readAll()};
}

// A connection dropped before any byte of the body.
HttpReply dropped()
{
    HttpReply rep;
    rep.body = QByteArray(100, 'x');
    rep.dropAfter = 0;
    return rep;
}

} // namespace

class TestOrbDeliveryJob : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;
    ExternalDaemon m_nginx;
    std::unique_ptr<OrbNetwork> m_net;
    std::string m_private, m_public;
    OrbDeliveryManifest m_v1, m_v2;
    QString m_log;

    QString www() const { return m_tmp.path() + QStringLiteral("/www"); }
    QString store() const { return www() + QStringLiteral("/good"); }
    QString src(const QString& v) const { return m_tmp.path() + QStringLiteral("/src/") + v; }
    QString base(const QString& mirror = QStringLiteral("good")) const
    {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(m_nginx.port()).arg(mirror);
    }

    // Chunk requests nginx answered for a mirror since the log was last cleared.
    int chunkGets(const QString& mirror = QStringLiteral("good")) const
    {
        const QByteArray needle = "\"GET /" + mirror.toUtf8() + "/chunks/";
        int n = 0;
        for (const QByteArray& line : readAll(m_log).split('\n'))
            n += line.contains(needle) ? 1 : 0;
        return n;
    }
    // Ranged pack requests nginx answered for a mirror.
    int packGets(const QString& mirror) const
    {
        const QByteArray needle = "\"GET /" + mirror.toUtf8() + "/packs/";
        int n = 0;
        for (const QByteArray& line : readAll(m_log).split('\n'))
            n += line.contains(needle) ? 1 : 0;
        return n;
    }
    void clearLog() { QFile(m_log).resize(0); }
    QString packed() const { return www() + QStringLiteral("/packed"); }

    // Compressed bytes of the chunks v2 has and v1 has not.
    qint64 newChunkBytes() const
    {
        const QSet<QByteArray> fresh = chunkSet(m_v2) - chunkSet(m_v1);
        QSet<QByteArray> seen;
        qint64 n = 0;
        for (const OrbDeliveryFile& f : m_v2.files)
            for (const OrbDeliveryChunk& c : f.chunks)
                if (fresh.contains(c.hash) && !seen.contains(c.hash)) {
                    seen.insert(c.hash);
                    n += c.compressedSize;
                }
        return n;
    }

    OrbDeliveryOptions options(const QString& folder, const QString& version) const
    {
        OrbDeliveryOptions o;
        o.folder = folder;
        o.version = version;
        o.baseUrls = {base()};
        o.game = kGame;
        o.publicKeyPem = m_public;
        o.timeoutSeconds = 3;
        o.fetchDeadlineMs = 20000;
        return o;
    }

    enum class Run { Install, Verify, Repair };

    // Runs one operation to its end; checks that finished comes exactly once.
    bool run(OrbDeliveryJob& job, Run what, const OrbDeliveryOptions& o, QString* reason = nullptr)
    {
        QSignalSpy done(&job, &OrbDeliveryJob::finished);
        bool started = false;
        switch (what) {
        case Run::Install: started = job.Install(o); break;
        case Run::Verify: started = job.Verify(o); break;
        case Run::Repair: started = job.Repair(o); break;
        }
        if (!started)
            return false;
        if (!done.wait(60000))
            return false;
        QTest::qWait(50);  // nothing may follow
        if (done.count() != 1)
            return false;
        if (reason)
            *reason = done.first().at(1).toString();
        return done.first().at(0).toBool();
    }

    bool install(const QString& folder, const QString& version, QString* reason = nullptr, OrbDeliveryJob::Stats* stats = nullptr)
    {
        OrbDeliveryJob job(m_net.get());
        const bool ok = run(job, Run::Install, options(folder, version), reason);
        if (stats)
            *stats = job.Statistics();
        return ok;
    }

    QString newFolder()
    {
        static int n = 0;
        const QString f = m_tmp.path() + QStringLiteral("/jeu installé %1").arg(++n);  // not ASCII, with a space
        QDir().mkpath(f);
        return f;
    }

    int newChunks() const { return int((chunkSet(m_v2) - chunkSet(m_v1)).size()); }

private slots:
    void initTestCase()
    {
        clearProxyEnv();
        QVERIFY(m_tmp.isValid());
        QVERIFY(OrbSignature::GenerateKeyPair(m_private, m_public));

        // Version 1: several multi-chunk files, a dropped file in a folder of its own,
        // an empty folder, an executable, a name with a space.
        const QString v1 = src(QStringLiteral("1.0"));
        const QByteArray game = randomBytes(3 << 20, 11);
        const QByteArray pak = randomBytes(4 << 20, 12);
        put(v1, QStringLiteral("bin/game"), game, true);
        put(v1, QStringLiteral("data/big.pak"), pak);
        put(v1, QStringLiteral("data/copy.pak"), pak.left(2 << 20));  // shares its leading chunks
        put(v1, QStringLiteral("data/old.txt"), "old\n");
        put(v1, QStringLiteral("legacy/notes.txt"), "gone in 2.0\n");
        put(v1, QStringLiteral("read me.txt"), "version one\n");
        put(v1, QStringLiteral("données/carte é.txt"), "carte\n");
        QDir().mkpath(v1 + QStringLiteral("/saves/empty"));

        // Version 2: an edit inside the executable, one file unchanged, new files,
        // a new empty folder, dropped files.
        const QString v2 = src(QStringLiteral("2.0"));
        QByteArray game2 = game;
        game2.replace(1500000, 1000, randomBytes(1000, 13));
        put(v2, QStringLiteral("bin/game"), game2, true);
        put(v2, QStringLiteral("data/big.pak"), pak);
        put(v2, QStringLiteral("data/copy.pak"), pak.left(2 << 20));
        put(v2, QStringLiteral("data/new.bin"), randomBytes(500000, 14));
        put(v2, QStringLiteral("read me.txt"), "version two\n");
        put(v2, QStringLiteral("données/carte é.txt"), "carte\n");
        put(v2, QStringLiteral("tools/run.sh"), "#!/bin/sh\n", true);
        QDir().mkpath(v2 + QStringLiteral("/saves/empty"));
        QDir().mkpath(v2 + QStringLiteral("/logs"));

        QVERIFY(publish(v1, store(), QStringLiteral("1.0"), kGame, 1, m_private, &m_v1));
        QVERIFY(publish(v2, store(), QStringLiteral("2.0"), kGame, 2, m_private, &m_v2));
        QVERIFY(newChunks() > 0);
        QVERIFY(newChunks() < int(chunkSet(m_v2).size()));
        // The same store with the packs of both versions (the other mirrors have none).
        QVERIFY(copyTree(store(), packed()));
        QString why;
        QVERIFY2(OrbDeliveryPack::Write(packed(), m_v1, &why), qPrintable(why));
        QVERIFY2(OrbDeliveryPack::Write(packed(), m_v2, &why), qPrintable(why));

        m_log = m_tmp.path() + QStringLiteral("/access.log");
        QVERIFY(startLoggedNginx(m_nginx, freePort(), www(), m_log));
        DefaultNetConfig.SetResolvers("127.0.0.1", "127.0.0.1").SetLookupTimeout(1000);
        m_net = std::make_unique<OrbNetwork>();
        m_net->Init(DefaultNetConfig);
    }

    void cleanupTestCase()
    {
        m_net.reset();
        m_nginx.stop();
    }

    void freshInstall_data()
    {
        QTest::addColumn<int>("connections");
        QTest::addColumn<bool>("unpackedBefore");  // the same files already there, installed from the ZIP
        QTest::newRow("one connection") << 1 << false;
        QTest::newRow("four connections") << 4 << false;
        QTest::newRow("more connections than chunks") << 64 << false;
        QTest::newRow("over an unpacked copy") << 4 << true;
    }
    void freshInstall()
    {
        QFETCH(int, connections);
        QFETCH(bool, unpackedBefore);
        const QString folder = newFolder();
        if (unpackedBefore)
            QVERIFY(copyTree(src(QStringLiteral("1.0")), folder));
        clearLog();
        OrbDeliveryJob job(m_net.get());
        QSignalSpy progress(&job, &OrbDeliveryJob::progress);
        OrbDeliveryOptions o = options(folder, QStringLiteral("1.0"));
        o.connections = connections;
        QString reason;
        QVERIFY2(run(job, Run::Install, o, &reason), qPrintable(reason));
        QCOMPARE(snapshot(folder), snapshot(src(QStringLiteral("1.0"))));
        QCOMPARE(OrbDeliveryJob::InstalledVersion(folder), QStringLiteral("1.0"));
        const int expected = unpackedBefore ? 0 : int(chunkSet(m_v1).size());
        QCOMPARE(chunkGets(), expected);
        QCOMPARE(job.Statistics().chunksFetched, expected);
        QCOMPARE(job.Statistics().filesKept, unpackedBefore ? int(m_v1.files.size()) : 0);
        QCOMPARE(job.CurrentPhase(), OrbDeliveryJob::Done);
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last().at(0).toLongLong(), progress.last().at(1).toLongLong());
        // Only the installed manifest stays behind.
        QCOMPARE(QDir(folder + QStringLiteral("/.orbdelivery")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList({QStringLiteral("installed.manifest"), QStringLiteral("installed.manifest.sig")}));
        // A second run on an intact installation fetches nothing.
        clearLog();
        QVERIFY2(install(folder, QStringLiteral("1.0"), &reason), qPrintable(reason));
        QCOMPARE(chunkGets(), 0);
    }

    void updateFetchesOnlyNewChunks()
    {
        const QString folder = newFolder();
        QString reason;
        QVERIFY2(install(folder, QStringLiteral("1.0"), &reason), qPrintable(reason));
        writeFile(folder + QStringLiteral("/saves/player.sav"), "mine");  // not the publisher's: stays
        clearLog();
        OrbDeliveryJob::Stats stats;
        QVERIFY2(install(folder, QStringLiteral("2.0"), &reason, &stats), qPrintable(reason));
        QMap<QString, QByteArray> expected = snapshot(src(QStringLiteral("2.0")));
        expected.remove(QStringLiteral("saves/empty"));
        QMap<QString, QByteArray> got = snapshot(folder);
        QCOMPARE(got.take(QStringLiteral("saves/player.sav")), OrbDeliveryHash::Sha256Hex("mine") + " 644");
        got.remove(QStringLiteral("saves/empty"));
        QCOMPARE(got, expected);
        QVERIFY(QFileInfo(folder + QStringLiteral("/saves/empty")).isDir());
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/legacy")));
        QCOMPARE(chunkGets(), newChunks());
        QCOMPARE(stats.chunksFetched, newChunks());
        QVERIFY(stats.chunksReused > 0);
        QCOMPARE(stats.filesKept, 3);  // the two packs and the map stayed where they were
        QCOMPARE(OrbDeliveryJob::InstalledVersion(folder), QStringLiteral("2.0"));
    }

    void killedUpdateEndsWhollyOldOrNew_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<int>("nth");
        QTest::addColumn<QString>("afterRecovery");
        QTest::newRow("after the first chunk") << "fetched:" << 1 << "1.0";
        QTest::newRow("after the last chunk") << "fetched:" << newChunks() << "1.0";
        QTest::newRow("after one staged file") << "staged:" << 1 << "1.0";
        QTest::newRow("journal written") << "journal" << 1 << "2.0";
        QTest::newRow("first file swapped in") << "moved:" << 1 << "2.0";
        QTest::newRow("third file swapped in") << "moved:" << 3 << "2.0";
        QTest::newRow("manifest swapped in") << "installed" << 1 << "2.0";
    }
    void killedUpdateEndsWhollyOldOrNew()
    {
        QFETCH(QString, step);
        QFETCH(int, nth);
        QFETCH(QString, afterRecovery);
        const QString folder = newFolder();
        QString reason;
        QVERIFY2(install(folder, QStringLiteral("1.0"), &reason), qPrintable(reason));
        const QString keyFile = m_tmp.path() + QStringLiteral("/public.pem");
        writeFile(keyFile, QByteArray::fromStdString(m_public));

        clearLog();
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QStringLiteral(ORB_DELIVERY_CHILD),
                    {folder, base(), QStringLiteral("2.0"), kGame, keyFile, step, QString::number(nth)});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        const int fetchedBefore = chunkGets();

        QVERIFY(OrbDeliveryJob::Recover(folder, &reason));
        QCOMPARE(snapshot(folder), snapshot(src(afterRecovery)));
        QCOMPARE(OrbDeliveryJob::InstalledVersion(folder), afterRecovery);

        // The next run ends at the new version without fetching a chunk twice.
        clearLog();
        QVERIFY2(install(folder, QStringLiteral("2.0"), &reason), qPrintable(reason));
        QCOMPARE(snapshot(folder), snapshot(src(QStringLiteral("2.0"))));
        QCOMPARE(fetchedBefore + chunkGets(), newChunks());
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/.orbdelivery/journal")));
    }

    void verifyAndRepair_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("missing");
        QTest::newRow("one byte flipped") << "flip" << "bin/game" << false;
        QTest::newRow("flipped in a chunk another file holds") << "flip-shared" << "data/big.pak" << false;
        QTest::newRow("truncated") << "truncate" << "data/big.pak" << false;
        QTest::newRow("grown") << "append" << "read me.txt" << false;
        QTest::newRow("file missing") << "remove" << "data/big.pak" << true;
        QTest::newRow("empty folder missing") << "rmdir" << "saves/empty" << true;
        QTest::newRow("folder in place of a file") << "dir" << "data/old.txt" << false;
    }
    void verifyAndRepair()
    {
        QFETCH(QString, damage);
        QFETCH(QString, path);
        QFETCH(bool, missing);
        const QString folder = newFolder();
        QString reason;
        QVERIFY2(install(folder, QStringLiteral("1.0"), &reason), qPrintable(reason));
        const QString file = folder + QLatin1Char('/') + path;
        const OrbDeliveryFile* entry = nullptr;
        for (const OrbDeliveryFile& f : m_v1.files)
            if (f.path == path)
                entry = &f;
        QSet<QByteArray> elsewhere;  // chunks intact files still hold
        for (const OrbDeliveryFile& f : m_v1.files)
            if (f.path != path)
                for (const OrbDeliveryChunk& c : f.chunks)
                    elsewhere.insert(c.hash);
        int expectFetched = 0;
        if (damage == QLatin1String("flip")) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.seek(2000000);
            const char c = f.read(1).at(0);
            f.seek(2000000);
            f.write(QByteArray(1, char(c ^ 0x5a)));
            expectFetched = 1;
        } else if (damage == QLatin1String("flip-shared")) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.seek(100000);
            const char c = f.read(1).at(0);
            f.seek(100000);
            f.write(QByteArray(1, char(c ^ 0x5a)));
            expectFetched = 0;  // data/copy.pak still holds that chunk intact
        } else if (damage == QLatin1String("truncate")) {
            QVERIFY(QFile::resize(file, 1 << 20));
            for (const OrbDeliveryChunk& c : entry->chunks)
                expectFetched += c.offset + c.size > (1 << 20) && !elsewhere.contains(c.hash) ? 1 : 0;
        } else if (damage == QLatin1String("append")) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::Append));
            f.write("more");
            expectFetched = 0;  // its only chunk is still at its offset
        } else if (damage == QLatin1String("remove")) {
            QVERIFY(QFile::remove(file));
            for (const OrbDeliveryChunk& c : entry->chunks)
                expectFetched += elsewhere.contains(c.hash) ? 0 : 1;
        } else if (damage == QLatin1String("rmdir")) {
            QVERIFY(QDir(folder).rmdir(path));
        } else if (damage == QLatin1String("dir")) {
            QVERIFY(QFile::remove(file));
            QVERIFY(QDir().mkpath(file + QStringLiteral("/inside")));
            expectFetched = 1;
        }

        OrbDeliveryJob verify(m_net.get());
        QSignalSpy report(&verify, &OrbDeliveryJob::verifyReport);
        QVERIFY2(run(verify, Run::Verify, options(folder, QString()), &reason), qPrintable(reason));
        QCOMPARE(report.count(), 1);
        QCOMPARE(verify.Damaged(), missing ? QStringList() : QStringList{path});
        QCOMPARE(verify.Missing(), missing ? QStringList{path} : QStringList());
        QCOMPARE(report.first().at(0).toStringList(), verify.Damaged());

        clearLog();
        OrbDeliveryJob repair(m_net.get());
        QVERIFY2(run(repair, Run::Repair, options(folder, QString()), &reason), qPrintable(reason));
        QCOMPARE(snapshot(folder), snapshot(src(QStringLiteral("1.0"))));
        QCOMPARE(chunkGets(), expectFetched);

        OrbDeliveryJob again(m_net.get());
        QVERIFY(run(again, Run::Verify, options(folder, QString())));
        QVERIFY(again.Damaged().isEmpty());
        QVERIFY(again.Missing().isEmpty());
    }

    void wrongChunkOnAMirror_data()
    {
        QTest::addColumn<QStringList>("mirrors");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("refetched");
        QTest::newRow("wrong bytes, then the next mirror") << QStringList{"bad", "good"} << true << 1;
        QTest::newRow("chunk missing, then the next mirror") << QStringList{"holes", "good"} << true << 1;
        QTest::newRow("longer than declared, then the next mirror") << QStringList{"long", "good"} << true << 1;
        QTest::newRow("wrong bytes on every mirror") << QStringList{"bad", "bad2"} << false << 1;
        QTest::newRow("wrong bytes in a chunk two files hold, then the next mirror") << QStringList{"shared", "good"} << true << 1;
    }
    void wrongChunkOnAMirror()
    {
        QFETCH(QStringList, mirrors);
        QFETCH(bool, ok);
        QFETCH(int, refetched);
        // Mirrors of the store: a chunk's bytes altered (same length), the chunk left out,
        // the chunk with bytes beyond its declared compressed size; the first chunk of
        // data/big.pak, which data/copy.pak holds as well, altered.
        const OrbDeliveryChunk& gameChunk = m_v2.files.front().chunks[2];  // bin/game, past the edit-free start
        const OrbDeliveryChunk* packChunk = nullptr;
        for (const OrbDeliveryFile& f : m_v1.files)
            if (f.path == QLatin1String("data/big.pak"))
                packChunk = &f.chunks.front();
        QVERIFY(packChunk);
        const OrbDeliveryChunk& victim = mirrors[0] == QLatin1String("shared") ? *packChunk : gameChunk;
        for (const QString& m : {QStringLiteral("bad"), QStringLiteral("bad2"), QStringLiteral("holes"), QStringLiteral("long"),
                                 QStringLiteral("shared")}) {
            if (QFileInfo::exists(www() + QLatin1Char('/') + m))
                continue;
            QVERIFY(copyTree(store(), www() + QLatin1Char('/') + m));
            const QString rel = OrbChunkStore::RelativePath(m == QLatin1String("shared") ? packChunk->hash : gameChunk.hash);
            const QString path = www() + QLatin1Char('/') + m + QLatin1Char('/') + rel;
            if (m == QLatin1String("holes")) {
                QVERIFY(QFile::remove(path));
            } else if (m == QLatin1String("long")) {
                writeFile(path, readAll(path) + QByteArray(4096, 'z'));
            } else {
                QByteArray bytes = readAll(path);
                bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x01);
                writeFile(path, bytes);
            }
        }
        const QString folder = newFolder();
        QString reason;
        clearLog();
        OrbDeliveryJob job(m_net.get());
        OrbDeliveryOptions o = options(folder, QStringLiteral("1.0"));
        o.baseUrls.clear();
        for (const QString& m : mirrors)
            o.baseUrls << base(m);
        QCOMPARE(run(job, Run::Install, o, &reason), ok);
        QCOMPARE(job.Statistics().chunksRefetched, refetched);
        if (ok) {
            QCOMPARE(snapshot(folder), snapshot(src(QStringLiteral("1.0"))));
            QCOMPARE(chunkGets(mirrors[0]) + chunkGets(mirrors[1]), int(chunkSet(m_v1).size()) + 1);
        } else {
            QVERIFY2(reason.contains(QLatin1String("refused")), qPrintable(reason));
            QVERIFY2(reason.contains(QString::fromLatin1(victim.hash)), qPrintable(reason));
            QVERIFY(snapshot(folder).isEmpty());
            QCOMPARE(OrbDeliveryJob::InstalledVersion(folder), QString());
        }
    }

    void noFreeSpace_data()
    {
        QTest::addColumn<QString>("from");  // "" for a fresh install
        QTest::newRow("fresh install") << QString();
        QTest::newRow("update") << "1.0";
    }
    void noFreeSpace()
    {
        QFETCH(QString, from);
        const QString folder = newFolder();
        QString reason;
        if (!from.isEmpty())
            QVERIFY2(install(folder, from, &reason), qPrintable(reason));
        const auto before = snapshot(folder);
        clearLog();
        OrbDeliveryJob job(m_net.get());
        OrbDeliveryOptions o = options(folder, QStringLiteral("2.0"));
        std::atomic<int> asked{0};
        o.freeSpace = [&asked](const QString&) {
            ++asked;
            return std::int64_t(1) << 20;
        };
        QVERIFY(!run(job, Run::Install, o, &reason));
        QVERIFY2(reason.contains(QLatin1String("not enough free space")), qPrintable(reason));
        QCOMPARE(asked.load(), 1);
        QCOMPARE(chunkGets(), 0);
        QCOMPARE(snapshot(folder), before);
        QCOMPARE(OrbDeliveryJob::InstalledVersion(folder), from);
    }

    void networkGoneThenResume_data()
    {
        QTest::addColumn<bool>("damageCached");
        QTest::newRow("resume") << false;
        QTest::newRow("resume with a fetched chunk damaged meanwhile") << true;
    }
    void networkGoneThenResume()
    {
        QFETCH(bool, damageCached);
        // A front that serves the store, then drops every connection after a few chunks.
        std::atomic<int> chunksServed{0};
        const QString root = store();
        TestHttpServer front;
        QVERIFY(front.start([&chunksServed, root](const HttpRequest& r) {
            const bool chunk = r.path.contains("/chunks/");
            if (chunk && chunksServed.load() >= 3)
                return dropped();
            const HttpReply rep = fromStore(root, r);
            if (chunk && rep.status == 200)
                ++chunksServed;
            return rep;
        }));
        const QString folder = newFolder();
        QString reason;
        QVERIFY2(install(folder, QStringLiteral("1.0"), &reason), qPrintable(reason));

        OrbDeliveryJob cut(m_net.get());
        OrbDeliveryOptions o = options(folder, QStringLiteral("2.0"));
        o.baseUrls = {front.url(QStringLiteral("/store"))};
        o.connections = 1;  // no fetch in flight when the network goes
        QVERIFY(!run(cut, Run::Install, o, &reason));
        QVERIFY2(reason.contains(QLatin1String("cannot fetch chunk")), qPrintable(reason));
        QCOMPARE(snapshot(folder), snapshot(src(QStringLiteral("1.0"))));
        QCOMPARE(cut.Statistics().chunksFetched, 3);

        // The fetched chunks are in the cache and written into the half-built file; a
        // cached copy damaged meanwhile is taken from the half-built file instead.
        int cached = 3;
        if (damageCached) {
            QDirIterator it(folder + QStringLiteral("/.orbdelivery/chunks"), {QStringLiteral("*.zst")}, QDir::Files,
                            QDirIterator::Subdirectories);
            QVERIFY(it.hasNext());
            const QString victim = it.next();
            QByteArray bytes = readAll(victim);
            bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x01);
            writeFile(victim, bytes);
            cached = 2;
        }
        clearLog();
        OrbDeliveryJob::Stats stats;
        QVERIFY2(install(folder, QStringLiteral("2.0"), &reason, &stats), qPrintable(reason));
        QCOMPARE(snapshot(folder), snapshot(src(QStringLiteral("2.0"))));
        QCOMPARE(stats.chunksCached, cached);
        QCOMPARE(chunkGets(), newChunks() - 3);
    }

    void fromPacks()
    {
        // Runs of chunks come in ranged requests of the version's pack, none one by one.
        const QString folder = newFolder();
        QString reason;
        clearLog();
        OrbDeliveryJob fresh(m_net.get());
        OrbDeliveryOptions o = options(folder, QStringLiteral("1.0"));
        o.baseUrls = {base(QStringLiteral("packed"))};
        QVERIFY2(run(fresh, Run::Install, o, &reason), qPrintable(reason));
        QCOMPARE(snapshot(folder), snapshot(src(QStringLiteral("1.0"))));
        const qint64 packSize = OrbDeliveryPack::LayoutOf(m_v1).size;
        QCOMPARE(chunkGets(QStringLiteral("packed")), 0);
        QVERIFY(packGets(QStringLiteral("packed")) >= 2);  // more than one request to share between connections
        QVERIFY(packGets(QStringLiteral("packed")) <= int(packSize / (3 << 20)) + 1);
        QCOMPARE(fresh.Statistics().bytesFetched, packSize);
        QCOMPARE(fresh.Statistics().chunksFetched, int(chunkSet(m_v1).size()));

        // An update takes only the new chunks out of the new version's pack.
        clearLog();
        OrbDeliveryJob update(m_net.get());
        o.version = QStringLiteral("2.0");
        QVERIFY2(run(update, Run::Install, o, &reason), qPrintable(reason));
        QCOMPARE(snapshot(folder), snapshot(src(QStringLiteral("2.0"))));
        QCOMPARE(chunkGets(QStringLiteral("packed")), 0);
        QCOMPARE(update.Statistics().chunksFetched, newChunks());
        QCOMPARE(update.Statistics().bytesFetched, newChunkBytes());
        QCOMPARE(QDir(folder + QStringLiteral("/.orbdelivery")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList({QStringLiteral("installed.manifest"), QStringLiteral("installed.manifest.sig")}));
    }

    void badPackFallsBackToChunks_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("refetched");
        QTest::newRow("a frame altered") << "frame" << 1;
        QTest::newRow("shorter than the manifest says") << "short" << 0;
        QTest::newRow("another version's pack") << "stale" << -1;
    }
    void badPackFallsBackToChunks()
    {
        QFETCH(QString, damage);
        QFETCH(int, refetched);
        const QString mirror = QStringLiteral("pack-") + damage;
        const QString root = www() + QLatin1Char('/') + mirror;
        QVERIFY(copyTree(packed(), root));
        const QString pack = root + QStringLiteral("/packs/1.0.pack");
        QByteArray bytes = readAll(pack);
        if (damage == QLatin1String("frame")) {
            const OrbDeliveryChunk& victim = m_v1.files.front().chunks[1];
            const qint64 at = OrbDeliveryPack::LayoutOf(m_v1).offsets.value(victim.hash) + victim.compressedSize / 2;
            bytes[int(at)] = char(bytes[int(at)] ^ 0x01);
        } else if (damage == QLatin1String("short")) {
            bytes.truncate(bytes.size() / 2);
        } else {
            bytes = readAll(root + QStringLiteral("/packs/2.0.pack"));
        }
        writeFile(pack, bytes);

        const QString folder = newFolder();
        QString reason;
        clearLog();
        OrbDeliveryJob job(m_net.get());
        OrbDeliveryOptions o = options(folder, QStringLiteral("1.0"));
        o.baseUrls = {base(mirror)};
        QVERIFY2(run(job, Run::Install, o, &reason), qPrintable(reason));
        QCOMPARE(snapshot(folder), snapshot(src(QStringLiteral("1.0"))));
        if (refetched >= 0) {
            QCOMPARE(job.Statistics().chunksRefetched, refetched);
        }
        if (damage == QLatin1String("frame"))
            QCOMPARE(chunkGets(mirror), 1);  // only the altered one, as a chunk of its own
        else
            QVERIFY(chunkGets(mirror) > 0);
    }

    void serverIgnoringRangesServesChunks()
    {
        // A server that answers a ranged request with the whole pack (200): refused by its
        // size, and the chunks come one by one.
        std::atomic<int> chunks{0};
        const QString root = packed();
        TestHttpServer front;
        QVERIFY(front.start([&chunks, root](const HttpRequest& r) {
            const HttpReply rep = fromStore(root, r);
            if (rep.status == 200 && r.path.contains("/chunks/"))
                ++chunks;
            return rep;
        }));
        const QString folder = newFolder();
        QString reason;
        OrbDeliveryJob job(m_net.get());
        OrbDeliveryOptions o = options(folder, QStringLiteral("1.0"));
        o.baseUrls = {front.url(QStringLiteral("/store"))};
        QVERIFY2(run(job, Run::Install, o, &reason), qPrintable(reason));
        QCOMPARE(snapshot(folder), snapshot(src(QStringLiteral("1.0"))));
        QCOMPARE(chunks.load(), int(chunkSet(m_v1).size()));
        QCOMPARE(job.Statistics().bytesFetched, OrbDeliveryPack::LayoutOf(m_v1).size);
    }

    void packCutThenResume()
    {
        // A front that serves the first pack request, then drops every connection: the
        // chunks of that first run stay in the half-built files and are not fetched again.
        std::atomic<int> packsServed{0};
        const QString root = packed();
        TestHttpServer front;
        QVERIFY(front.start([&packsServed, root](const HttpRequest& r) {
            if (packsServed.load() >= 1)
                return dropped();
            const bool pack = r.path.contains("/packs/");
            const HttpReply rep = fromStore(root, r, pack);
            if (pack && rep.status != 404)
                ++packsServed;
            return rep;
        }));
        const QString folder = newFolder();
        QString reason;
        OrbDeliveryJob cut(m_net.get());
        OrbDeliveryOptions o = options(folder, QStringLiteral("1.0"));
        o.baseUrls = {front.url(QStringLiteral("/store"))};
        o.connections = 1;
        QVERIFY(!run(cut, Run::Install, o, &reason));
        QVERIFY2(reason.contains(QLatin1String("cannot fetch chunk")), qPrintable(reason));
        QCOMPARE(OrbDeliveryJob::InstalledVersion(folder), QString());
        const qint64 before = cut.Statistics().bytesFetched;
        QVERIFY(before > 0);

        OrbDeliveryJob resumed(m_net.get());
        o.baseUrls = {base(QStringLiteral("packed"))};
        o.connections = 4;
        QVERIFY2(run(resumed, Run::Install, o, &reason), qPrintable(reason));
        QCOMPARE(snapshot(folder), snapshot(src(QStringLiteral("1.0"))));
        QCOMPARE(before + resumed.Statistics().bytesFetched, OrbDeliveryPack::LayoutOf(m_v1).size);
        QVERIFY(resumed.Statistics().chunksReused > 0);
    }

    void badInputChangesNothing_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("why");
        QTest::newRow("another game") << "other" << "game";
        QTest::newRow("bad signature") << "forged" << "signature";
        QTest::newRow("no such version") << "9.9" << "cannot fetch the manifest";
        QTest::newRow("names the launcher's state") << "sneaky" << "own folder";
        QTest::newRow("older serial") << "old" << "serial";
    }
    void badInputChangesNothing()
    {
        QFETCH(QString, version);
        QFETCH(QString, why);
        const QString extra = m_tmp.path() + QStringLiteral("/src/extra");
        if (!QFileInfo::exists(extra)) {
            put(extra, QStringLiteral("a.txt"), "a");
            QVERIFY(publish(extra, store(), QStringLiteral("other"), QStringLiteral("Other Game"), 5, m_private));
            QVERIFY(publish(extra, store(), QStringLiteral("old"), kGame, 0, m_private));
            std::string otherPrivate, otherPublic;
            QVERIFY(OrbSignature::GenerateKeyPair(otherPrivate, otherPublic));
            QVERIFY(publish(extra, store(), QStringLiteral("forged"), kGame, 5, otherPrivate));
            const QString sneaky = m_tmp.path() + QStringLiteral("/src/sneaky");
            put(sneaky, QStringLiteral(".orbdelivery/installed.manifest"), "evil");
            QVERIFY(publish(sneaky, store(), QStringLiteral("sneaky"), kGame, 5, m_private));
        }
        const QString folder = newFolder();
        QString reason;
        QVERIFY2(install(folder, QStringLiteral("1.0"), &reason), qPrintable(reason));
        const auto before = snapshot(folder);
        clearLog();
        QVERIFY(!install(folder, version, &reason));
        QVERIFY2(reason.contains(why), qPrintable(reason));
        QCOMPARE(snapshot(folder), before);
        QCOMPARE(OrbDeliveryJob::InstalledVersion(folder), QStringLiteral("1.0"));
        QCOMPARE(chunkGets(), 0);
    }

    void refusedOptionsAndOneFinish()
    {
        OrbDeliveryJob job(m_net.get());
        OrbDeliveryOptions o = options(newFolder(), QStringLiteral("1.0"));
        o.game.clear();
        QVERIFY(!job.Install(o));
        o = options(newFolder(), QStringLiteral("../1.0"));
        QVERIFY(!job.Install(o));
        o = options(newFolder(), QStringLiteral("1.0"));
        o.baseUrls.clear();
        QVERIFY(!job.Install(o));

        // Cancel at once: one finish, nothing installed; the job cannot be reused.
        QSignalSpy done(&job, &OrbDeliveryJob::finished);
        o = options(newFolder(), QStringLiteral("1.0"));
        QVERIFY(job.Install(o));
        QVERIFY(!job.Install(o));
        job.Cancel();
        job.Cancel();
        QVERIFY(done.wait(10000));
        QTest::qWait(100);
        QCOMPARE(done.count(), 1);
        QCOMPARE(done.first().at(0).toBool(), false);
        QCOMPARE(done.first().at(1).toString(), QStringLiteral("cancelled"));
        QVERIFY(snapshot(o.folder).isEmpty());

        // Cancelled in the middle of an update: still the old version, and the next run resumes.
        const QString folder = newFolder();
        QString reason;
        QVERIFY2(install(folder, QStringLiteral("1.0"), &reason), qPrintable(reason));
        OrbDeliveryJob update(m_net.get());
        o = options(folder, QStringLiteral("2.0"));
        o.connections = 1;
        o.stepHook = [&update](const QString& step) {
            if (step.startsWith(QLatin1String("fetched:")))
                update.Cancel();  // fetch steps are reported on the job's thread
        };
        QVERIFY(!run(update, Run::Install, o, &reason));
        QCOMPARE(reason, QStringLiteral("cancelled"));
        QCOMPARE(snapshot(folder), snapshot(src(QStringLiteral("1.0"))));
        OrbDeliveryJob::Stats stats;
        QVERIFY2(install(folder, QStringLiteral("2.0"), &reason, &stats), qPrintable(reason));
        QCOMPARE(stats.chunksCached, 1);
        QCOMPARE(snapshot(folder), snapshot(src(QStringLiteral("2.0"))));
    }
};

QTEST_GUILESS_MAIN(TestOrbDeliveryJob)
#include "tst_orbdeliveryjob.moc"
