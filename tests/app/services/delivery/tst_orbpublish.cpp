// The publisher's tool as a process: versions built into one store share their
// unchanged chunks, every file comes back byte for byte from store and manifest,
// and uploads to a loopback S3 store send only what the store lacks.
#include "OrbChunkStore.h"
#include "OrbDeliveryManifest.h"
#include "OrbDeliveryPack.h"
#include "OrbSignature.h"
#include "OrbTestFiles.h"
#include "OrbNetTestUtil.h"
#include "TestHttpServer.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <set>

using namespace orbtest;

namespace {

const char kBucket[] = "orb-games";
const char kAccessKey[] = "ORBPUBLISHERKEY";
const char kSecretKey[] = "orb-publisher-secret";
const char kToken[] = "orb-publisher-token";
const char kGame[] = "Orb Game";

struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

QStringList chunkFiles(const QString& store)
{
    QStringList out;
    QDirIterator it(store + "/chunks", {"*.zst"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        out.append(QDir(store).relativeFilePath(it.next()));
    out.sort();
    return out;
}

std::set<QByteArray> hashesOf(const OrbDeliveryManifest& m)
{
    std::set<QByteArray> out;
    for (const OrbDeliveryFile& f : m.files)
        for (const OrbDeliveryChunk& c : f.chunks)
            out.insert(c.hash);
    return out;
}

} // namespace

class TestOrbPublish : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_key, m_public;
    std::string m_publicPem;
    ExternalDaemon m_s3;
    quint16 m_s3Store = 0;

    QString path(const QString& rel) const { return m_dir.filePath(rel); }

    Run tool(const QStringList& args, const QProcessEnvironment& extra = QProcessEnvironment())
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // The library's resolvers stay on loopback whatever the endpoint.
        env.insert("ORBPUBLISH_RESOLVERS", "127.0.0.1,127.0.0.1");
        for (const QString& k : extra.keys())
            env.insert(k, extra.value(k));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(ORB_PUBLISH_TOOL), args);
        Run r;
        if (!p.waitForFinished(240000)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
        return r;
    }

    Run build(const QString& game, const QString& version, const QStringList& more = {})
    {
        return tool(QStringList{"build", game, path("store"), "--version", version, "--game", kGame, "--key", m_key} + more);
    }

    OrbDeliveryManifest manifest(const QString& version)
    {
        OrbDeliveryManifest::Expect e;
        e.publicPem = m_publicPem;
        e.signature = readAll(path("store/manifests/" + version + ".manifest.sig"));
        e.game = kGame;
        e.now = QDateTime::currentSecsSinceEpoch();
        const auto parsed = OrbDeliveryManifest::Parse(readAll(path("store/manifests/" + version + ".manifest")), e);
        if (!parsed.ok)
            qWarning() << "manifest" << version << "refused:" << parsed.reason;
        return parsed.manifest;
    }

    // Every file of the manifest rebuilt from the store equals the game folder's.
    void compareWithFolder(const OrbDeliveryManifest& m, const QString& folder)
    {
        QVERIFY(!m.files.empty());
        OrbChunkStore store(path("store"));
        QTemporaryDir out;
        int files = 0;
        QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            ++files;
        }
        QCOMPARE(int(m.files.size()), files);
        for (const OrbDeliveryFile& f : m.files) {
            const QString target = out.filePath(QString::number(files--));
            QString error;
            QVERIFY2(store.Assemble(f, target, &error), qPrintable(error));
            QCOMPARE(readAll(target), readAll(folder + "/" + f.path));
            QCOMPARE(f.executable, QFileInfo(folder + "/" + f.path).permission(QFileDevice::ExeOwner));
        }
    }

    QProcessEnvironment credentials(const QString& secret = kSecretKey)
    {
        QProcessEnvironment env;
        env.insert("AWS_ACCESS_KEY_ID", kAccessKey);
        env.insert("AWS_SECRET_ACCESS_KEY", secret);
        env.insert("AWS_SESSION_TOKEN", kToken);
        env.insert("AWS_REGION", "eu-test-1");
        return env;
    }

    QJsonArray received() { return QJsonDocument::fromJson(orbtest::httpGet(QStringLiteral("http://127.0.0.1:%1/__uploads").arg(m_s3.port()))).array(); }

    void makeGame(const QString& root, bool second)
    {
        QVERIFY(QDir().mkpath(root + "/bin"));
        QVERIFY(QDir().mkpath(root + "/data/maps"));
        QVERIFY(QDir().mkpath(root + "/saves/empty"));
        writeFile(root + "/bin/game", randomBytes(300000, 1));
        QVERIFY(QFile::setPermissions(root + "/bin/game", QFile::permissions(root + "/bin/game") | QFileDevice::ExeOwner));
        writeFile(root + "/readme.txt", second ? "Orb Game, second edition\n" : "Orb Game\n");
        writeFile(root + "/empty.cfg", QByteArray());
        writeFile(root + "/data/maps/town map.dat", randomBytes(90000, 3));
        QByteArray big = randomBytes(12 * 1024 * 1024, 2);
        if (second)
            big.insert(6 * 1024 * 1024 + 333, randomBytes(1024 * 1024, 4));
        writeFile(root + "/data/big.pak", big);
    }

private slots:
    void initTestCase()
    {
        clearProxyEnv();
        QVERIFY(m_dir.isValid());
        std::string priv, pub;
        QVERIFY(OrbSignature::GenerateKeyPair(priv, pub));
        m_publicPem = pub;
        m_key = path("publisher.key");
        writeFile(m_key, QByteArray::fromStdString(priv));
        makeGame(path("v1"), false);
        makeGame(path("v2"), true);
    }

    void buildTwoVersionsSharingChunks()
    {
        const Run v1 = build(path("v1"), "1.0.0");
        QVERIFY2(v1.code == 0, v1.err.constData());
        const QStringList afterV1 = chunkFiles(path("store"));
        const Run v2 = build(path("v2"), "1.1.0", {"--days", "5"});
        QVERIFY2(v2.code == 0, v2.err.constData());
        const QStringList afterV2 = chunkFiles(path("store"));

        const OrbDeliveryManifest m1 = manifest("1.0.0"), m2 = manifest("1.1.0");
        QCOMPARE(m1.version, QString("1.0.0"));
        QCOMPARE(m2.version, QString("1.1.0"));
        QCOMPARE(m2.serial, m1.serial + 1);  // the store's serial grows by default
        QVERIFY(qAbs(m2.expires - (QDateTime::currentSecsSinceEpoch() + 5 * 86400)) < 600);
        QCOMPARE(m1.folders, QStringList{"saves/empty"});
        QCOMPARE(m2.folders, QStringList{"saves/empty"});

        // The store holds exactly the union of both versions' chunks.
        const std::set<QByteArray> h1 = hashesOf(m1), h2 = hashesOf(m2);
        std::set<QByteArray> all = h1;
        all.insert(h2.begin(), h2.end());
        QCOMPARE(afterV1.size(), qsizetype(h1.size()));
        QCOMPARE(afterV2.size(), qsizetype(all.size()));
        QStringList expected;
        for (const QByteArray& h : all)
            expected.append(OrbChunkStore::RelativePath(h));
        expected.sort();
        QCOMPARE(afterV2, expected);

        // v2 added only the chunks near the insertion and the changed small file.
        qint64 addedBytes = 0;
        int added = 0;
        for (const OrbDeliveryFile& f : m2.files) {
            for (const OrbDeliveryChunk& c : f.chunks) {
                if (!h1.count(c.hash)) {
                    ++added;
                    addedBytes += c.size;
                    QVERIFY2(f.path == "data/big.pak" || f.path == "readme.txt", qPrintable(f.path));
                }
            }
        }
        QVERIFY2(addedBytes <= (1 << 20) + 3 * (1 << 20), qPrintable(QString::number(addedBytes)));
        QVERIFY2(added <= 12, qPrintable(QString::number(added)));
        QVERIFY2(v2.out.contains(QByteArray(" ") + QByteArray::number(added) + " new"), v2.out.constData());

        compareWithFolder(m1, path("v1"));
        compareWithFolder(m2, path("v2"));

        // Each version's pack holds its distinct chunks' frames back to back, where the
        // launcher will look for them.
        for (const OrbDeliveryManifest* m : {&m1, &m2}) {
            const QByteArray pack = readAll(path("store/packs/" + m->version + ".pack"));
            const OrbDeliveryPack::Layout layout = OrbDeliveryPack::LayoutOf(*m);
            QCOMPARE(qint64(pack.size()), layout.size);
            for (auto it = layout.offsets.cbegin(); it != layout.offsets.cend(); ++it) {
                const QByteArray frame = readAll(path("store/" + OrbChunkStore::RelativePath(it.key())));
                QCOMPARE(pack.mid(int(it.value()), int(frame.size())), frame);
            }
        }

        // Building the same folder again adds nothing and only raises the serial.
        const Run again = build(path("v2"), "1.1.0", {"--serial", "40"});
        QVERIFY2(again.code == 0, again.err.constData());
        QVERIFY2(again.out.contains(" 0 new"), again.out.constData());
        QCOMPARE(chunkFiles(path("store")), afterV2);
        QCOMPARE(manifest("1.1.0").serial, qint64(40));
    }

    void refusedGameFolders_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("link to a file") << "filelink" << "link inside the game folder";
        QTest::newRow("link to a folder") << "dirlink" << "link inside the game folder";
        QTest::newRow("dangling link") << "dangling" << "link inside the game folder";
        QTest::newRow("named pipe") << "fifo" << "special file";
        QTest::newRow("bad version name") << "version" << "not a valid name";
        QTest::newRow("store inside the game folder") << "nested" << "store is inside the game folder";
    }

    void refusedGameFolders()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        QTemporaryDir game;
        QVERIFY(QDir().mkpath(game.filePath("bin")));
        writeFile(game.filePath("bin/game"), "game");
        QString version = "9.9.9";
        if (kind == "filelink")
            QVERIFY(QFile::link("/etc/hostname", game.filePath("bin/hosts")));
        if (kind == "dirlink")
            QVERIFY(QFile::link("/etc", game.filePath("etc")));
        if (kind == "dangling")
            QVERIFY(QFile::link(game.filePath("nowhere"), game.filePath("bin/gone")));
        if (kind == "fifo")
            QCOMPARE(QProcess::execute("mkfifo", {game.filePath("bin/pipe")}), 0);
        if (kind == "version")
            version = "../9";
        const QString store = kind == "nested" ? game.filePath("bin/store") : path("refused-store");
        const Run r = tool({"build", game.path(), store, "--version", version, "--game", kGame, "--key", m_key});
        QVERIFY(r.code != 0);
        QVERIFY2(r.err.contains(message.toUtf8()), r.err.constData());
        QVERIFY(!QFile::exists(store + "/manifests/" + version + ".manifest"));
        QVERIFY(!QFile::exists(store + "/chunks"));
    }

    void uploadSendsOnlyWhatIsMissing()
    {
        QVERIFY2(QFile::exists(path("store/manifests/1.1.0.manifest")), "needs the store of buildTwoVersionsSharingChunks");
        const QString peer = qEnvironmentVariable("ORB_SOURCE_DIR") + "/tests/peers/s3";
        QVERIFY2(QFile::exists(peer + "/node_modules/s3rver"), "the S3 peer is not installed: run scripts/setup.sh");
        const QString node = QStandardPaths::findExecutable("node");
        QVERIFY2(!node.isEmpty(), "node is not installed: run scripts/setup.sh");
        const quint16 front = freePort();
        m_s3Store = freePort();
        QVERIFY(QDir().mkpath(path("s3")));
        // s3rver makes listing continuation tokens with DES, which OpenSSL 3 keeps in its legacy provider.
        QVERIFY2(m_s3.start(node,
                            {"--openssl-legacy-provider", peer + "/server.js", "--port", QString::number(front), "--store-port",
                             QString::number(m_s3Store), "--dir", path("s3"), "--bucket", kBucket, "--access-key",
                             kAccessKey, "--secret-key", kSecretKey, "--token", kToken},
                            front, 20000),
                 m_s3.output().constData());
        const QString endpoint = QStringLiteral("http://127.0.0.1:%1").arg(front);
        const QString target = QStringLiteral("%1/games/orb").arg(kBucket);

        // A wrong secret is refused before anything is sent.
        const Run refused = tool({"upload", path("store"), endpoint, target}, credentials("wrong-secret"));
        QVERIFY(refused.code != 0);
        QVERIFY2(refused.err.contains("SignatureDoesNotMatch"), refused.err.constData());
        QCOMPARE(received().size(), 0);
        const Run missing = tool({"upload", path("store"), endpoint, target});
        QCOMPARE(missing.code, 2);
        QVERIFY2(missing.err.contains("AWS_ACCESS_KEY_ID"), missing.err.constData());

        const Run first = tool({"upload", path("store"), endpoint, target}, credentials());
        QVERIFY2(first.code == 0, first.err.constData());

        // Every object of the store arrived under the prefix with its exact bytes.
        QStringList local = chunkFiles(path("store"));
        for (const QString& name : QDir(path("store/packs")).entryList(QDir::Files))
            local.append("packs/" + name);
        for (const QString& name : QDir(path("store/manifests")).entryList(QDir::Files))
            local.append("manifests/" + name);
        QCOMPARE(local.size(), chunkFiles(path("store")).size() + 2 + 4);
        QMap<QString, QJsonObject> byKey;
        const QJsonArray got = received();
        for (const QJsonValue& v : got)
            byKey.insert(v.toObject().value("key").toString(), v.toObject());
        QCOMPARE(got.size(), local.size());  // each object sent once
        for (const QString& rel : local) {
            const QJsonObject o = byKey.value("games/orb/" + rel);
            QVERIFY2(!o.isEmpty(), qPrintable(rel));
            const QByteArray bytes = readAll(path("store/" + rel));
            QCOMPARE(o.value("size").toInt(), int(bytes.size()));
            QCOMPARE(o.value("sha256").toString().toLatin1(), QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
        }
        // Chunks and packs went up before any manifest.
        int lastChunk = -1, firstManifest = int(got.size());
        for (int i = 0; i < got.size(); ++i) {
            const QString key = got[i].toObject().value("key").toString();
            if (key.startsWith("games/orb/chunks/") || key.startsWith("games/orb/packs/"))
                lastChunk = i;
            else if (firstManifest == int(got.size()))
                firstManifest = i;
        }
        QVERIFY(lastChunk < firstManifest);
        // The stored object reads back as the local chunk.
        QCOMPARE(orbtest::httpGet(QStringLiteral("http://127.0.0.1:%1/%2/games/orb/%3").arg(m_s3Store).arg(kBucket).arg(local[0])),
                 readAll(path("store/" + local[0])));

        // Again: the store has everything, nothing is sent.
        const Run second = tool({"upload", path("store"), endpoint, target}, credentials());
        QVERIFY2(second.code == 0, second.err.constData());
        QVERIFY2(second.out.contains("nothing to upload"), second.out.constData());
        QCOMPARE(received().size(), got.size());

        // A newly signed manifest (same name, new bytes) is sent again, alone with its signature.
        const Run rebuilt = build(path("v2"), "1.1.0", {"--serial", "41"});
        QVERIFY2(rebuilt.code == 0, rebuilt.err.constData());
        const Run third = tool({"upload", path("store"), endpoint, target}, credentials());
        QVERIFY2(third.code == 0, third.err.constData());
        const QJsonArray now = received();
        QCOMPARE(now.size(), got.size() + 2);
        QStringList sent;
        for (int i = int(got.size()); i < now.size(); ++i)
            sent.append(now[i].toObject().value("key").toString());
        sent.sort();
        QCOMPARE(sent, (QStringList{"games/orb/manifests/1.1.0.manifest", "games/orb/manifests/1.1.0.manifest.sig"}));
    }

    void uploadListsBeyondOnePage()
    {
        QVERIFY2(m_s3.running(), "needs the S3 peer of uploadSendsOnlyWhatIsMissing");
        // More objects than one listing page (1000 keys) holds.
        QTemporaryDir game;
        for (int i = 0; i < 1100; ++i)
            writeFile(game.filePath(QStringLiteral("f%1.txt").arg(i)), QByteArray::number(i) + " small file\n");
        const QString store = path("many-store");
        const Run b = tool({"build", game.path(), store, "--version", "1", "--game", kGame, "--key", m_key});
        QVERIFY2(b.code == 0, b.err.constData());
        QCOMPARE(chunkFiles(store).size(), 1100);
        const QString endpoint = QStringLiteral("http://127.0.0.1:%1").arg(m_s3.port());
        const qsizetype before = received().size();
        const Run first = tool({"upload", store, endpoint, QStringLiteral("%1/many").arg(kBucket)}, credentials());
        QVERIFY2(first.code == 0, first.err.constData());
        QCOMPARE(received().size(), before + 1103);
        const Run second = tool({"upload", store, endpoint, QStringLiteral("%1/many").arg(kBucket)}, credentials());
        QVERIFY2(second.code == 0, second.err.constData());
        QVERIFY2(second.out.contains("nothing to upload: 1103 objects already present"), second.out.constData());
        QCOMPARE(received().size(), before + 1103);
    }
};

QTEST_GUILESS_MAIN(TestOrbPublish)
#include "tst_orbpublish.moc"
