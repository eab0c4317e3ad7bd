// The chunk store on disk: one zstd file per distinct chunk, and reads that
// trust nothing in the file (size, frame, content) before handing bytes out.
#include "OrbChunkStore.h"
#include "OrbDeliveryManifest.h"
#include "OrbTestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

#include <zstd.h>

using namespace orbtest;

namespace {

QByteArray compress(const QByteArray& data)
{
    QByteArray out(int(ZSTD_compressBound(std::size_t(data.size()))), Qt::Uninitialized);
    const std::size_t n = ZSTD_compress(out.data(), std::size_t(out.size()), data.constData(), std::size_t(data.size()), 3);
    out.truncate(int(n));
    return out;
}

// The frame with its content-size field (4 bytes for these sizes) set to 4 GiB - 1.
QByteArray claimingHuge(QByteArray frame)
{
    const unsigned char fhd = static_cast<unsigned char>(frame[4]);
    if ((fhd >> 6) != 2)
        return QByteArray();  // not the 4-byte field this row is about
    const int dictBytes[] = {0, 1, 2, 4};
    const int at = 5 + (((fhd >> 5) & 1) ? 0 : 1) + dictBytes[fhd & 3];
    for (int i = 0; i < 4; ++i)
        frame[at + i] = char(0xFF);
    return frame;
}

int countFiles(const QString& root)
{
    int n = 0;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++n;
    }
    return n;
}

} // namespace

class TestOrbChunkStore : public QObject {
    Q_OBJECT

private slots:
    void storedOnceAndReadBack_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("one byte") << QByteArray("x");
        QTest::newRow("text") << QByteArray("the quick brown fox\n").repeated(500);
        QTest::newRow("random 1 MiB") << randomBytes(1 << 20, 5);
        QTest::newRow("zeros 1 MiB") << QByteArray(1 << 20, '\0');
    }

    void storedOnceAndReadBack()
    {
        QFETCH(QByteArray, data);
        QTemporaryDir dir;
        OrbChunkStore store(dir.path());
        OrbChunkStore::Stored first, second;
        QString error;
        QVERIFY2(store.Put(data, first, &error), qPrintable(error));
        QVERIFY(first.added);
        const QByteArray hash = QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
        QCOMPARE(first.hash, hash);
        const QString path = dir.path() + "/chunks/" + hash.left(2) + "/" + hash + ".zst";
        QCOMPARE(store.PathOf(hash), path);
        QVERIFY(QFileInfo(path).isFile());
        QCOMPARE(QFileInfo(path).size(), first.compressedSize);
        // The file is a plain zstd frame of the bytes.
        const QByteArray frame = readAll(path);
        QCOMPARE(qint64(ZSTD_getFrameContentSize(frame.constData(), std::size_t(frame.size()))), qint64(data.size()));

        QVERIFY(store.Put(data, second, &error));
        QVERIFY(!second.added);
        QCOMPARE(second.compressedSize, first.compressedSize);
        QCOMPARE(countFiles(dir.path()), 1);

        QByteArray back;
        QVERIFY2(store.Get(hash, data.size(), back, &error), qPrintable(error));
        QCOMPARE(back, data);
    }

    void hostileChunksRefused_data()
    {
        QTest::addColumn<QByteArray>("content");   // what the chunk decompresses to
        QTest::addColumn<QByteArray>("fileBytes"); // the chunk file as stored
        QTest::addColumn<qint64>("declared");
        QTest::addColumn<QString>("reason");

        const QByteArray text = QByteArray("chunk content ").repeated(1000);
        QTest::newRow("declared smaller") << text << compress(text) << qint64(text.size() - 1) << "more than";
        QTest::newRow("declared larger") << text << compress(text) << qint64(text.size() + 1) << "decompresses to";
        QTest::newRow("bomb: 64 MiB of zeros") << QByteArray() << compress(QByteArray(64 << 20, '\0')) << qint64(1 << 20)
                                               << "more than";
        QTest::newRow("bomb: 8 MiB of zeros") << QByteArray() << compress(QByteArray(8 << 20, '\0'))
                                                   << qint64(1 << 20) << "more than";
        QTest::newRow("header claims 4 GiB") << QByteArray() << claimingHuge(compress(QByteArray(8 << 20, '\0')))
                                             << qint64(1 << 20) << "";
        QTest::newRow("other content under the name") << QByteArray("not this") << compress("something else entirely")
                                                      << qint64(23) << "does not match";
        QTest::newRow("not zstd") << QByteArray() << QByteArray("plain bytes, no frame") << qint64(21) << "not a valid zstd";
        QTest::newRow("truncated frame") << QByteArray() << compress(randomBytes(5000, 2)).left(100) << qint64(5000)
                                         << "truncated";
        QTest::newRow("declared beyond the chunk limit") << text << compress(text) << qint64((1 << 20) + 1)
                                                         << "beyond the chunk limit";
        QTest::newRow("empty file") << QByteArray("x") << QByteArray("") << qint64(1) << "not a valid zstd";
    }

    void hostileChunksRefused()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, fileBytes);
        QFETCH(qint64, declared);
        QFETCH(QString, reason);
        QVERIFY(!fileBytes.isEmpty() || content == "x");
        QTemporaryDir dir;
        OrbChunkStore store(dir.path());
        const QByteArray hash = QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex();
        const QString path = store.PathOf(hash);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        writeFile(path, fileBytes);
        QByteArray out("stale");
        QString error;
        QVERIFY(!store.Get(hash, declared, out, &error));
        QVERIFY(out.isEmpty());
        QVERIFY(!error.isEmpty());
        if (!reason.isEmpty())
            QVERIFY2(error.contains(reason), qPrintable(error));
    }

    void missingAndMalformedNames()
    {
        QTemporaryDir dir;
        OrbChunkStore store(dir.path());
        QByteArray out;
        QString error;
        QVERIFY(!store.Get(QByteArray(64, 'a'), 10, out, &error));
        QVERIFY2(error.contains("missing"), qPrintable(error));
        QVERIFY(!store.Get("../../etc/passwd", 10, out, &error));
        QVERIFY2(error.contains("not a chunk hash"), qPrintable(error));
        QVERIFY(!store.Contains(QByteArray(64, 'A')));
    }

    void assembleChecksEveryByte_data()
    {
        QTest::addColumn<int>("damage");  // 0 none, 1 chunk replaced, 2 file hash wrong, 3 chunk missing
        QTest::newRow("intact") << 0;
        QTest::newRow("a chunk replaced") << 1;
        QTest::newRow("whole-file hash wrong") << 2;
        QTest::newRow("a chunk missing") << 3;
    }

    void assembleChecksEveryByte()
    {
        QFETCH(int, damage);
        QTemporaryDir dir;
        OrbChunkStore store(dir.path() + "/store");
        const QByteArray parts[] = {randomBytes(100000, 1), randomBytes(70000, 2), QByteArray("tail")};
        OrbDeliveryFile file;
        file.path = "data/file.bin";
        file.executable = true;
        QByteArray whole;
        for (const QByteArray& p : parts) {
            OrbChunkStore::Stored s;
            QVERIFY(store.Put(p, s));
            file.chunks.push_back({s.hash, qint64(whole.size()), qint64(p.size()), s.compressedSize});
            whole += p;
        }
        file.size = whole.size();
        file.sha256 = QCryptographicHash::hash(whole, QCryptographicHash::Sha256).toHex();
        if (damage == 1)
            writeFile(store.PathOf(file.chunks[1].hash), compress(randomBytes(70000, 3)));
        if (damage == 2)
            file.sha256 = QByteArray(64, '0');
        if (damage == 3)
            QVERIFY(QFile::remove(store.PathOf(file.chunks[2].hash)));

        const QString out = dir.path() + "/out.bin";
        QString error;
        const bool ok = store.Assemble(file, out, &error);
        QCOMPARE(ok, damage == 0);
        if (ok) {
            QCOMPARE(readAll(out), whole);
            QVERIFY(QFileInfo(out).permissions() & QFileDevice::ExeOwner);
        } else {
            QVERIFY(!QFile::exists(out));
            QVERIFY(!error.isEmpty());
        }
    }
};

QTEST_APPLESS_MAIN(TestOrbChunkStore)
#include "tst_orbchunkstore.moc"
