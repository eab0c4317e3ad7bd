// A version's pack: where each chunk's frame sits (from the manifest alone), the pack
// written from a store, and how chunks to fetch are grouped into ranged requests.
#include "OrbChunkStore.h"
#include "OrbDeliveryManifest.h"
#include "OrbDeliveryPack.h"
#include "OrbTestFiles.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace orbtest;

namespace {

using Offsets = std::vector<std::int64_t>;
using Items = std::vector<int>;

OrbDeliveryChunk chunk(const QByteArray& hash, std::int64_t size, std::int64_t compressed)
{
    return OrbDeliveryChunk{hash, 0, size, compressed};
}

} // namespace

Q_DECLARE_METATYPE(Offsets)
Q_DECLARE_METATYPE(std::vector<Items>)

class TestOrbDeliveryPack : public QObject {
    Q_OBJECT

private slots:
    void layoutCountsEachChunkOnce()
    {
        OrbDeliveryManifest m;
        OrbDeliveryFile a, b;
        a.chunks = {chunk("h1", 10, 7), chunk("h2", 10, 5), chunk("h1", 10, 7)};
        b.chunks = {chunk("h3", 10, 9), chunk("h2", 10, 5)};
        m.files = {a, b};
        const OrbDeliveryPack::Layout l = OrbDeliveryPack::LayoutOf(m);
        QCOMPARE(l.size, 7 + 5 + 9);
        QCOMPARE(l.offsets.value("h1"), 0);
        QCOMPARE(l.offsets.value("h2"), 7);
        QCOMPARE(l.offsets.value("h3"), 12);
        QCOMPARE(OrbDeliveryPack::RelativePath(QStringLiteral("1.2.0")), QStringLiteral("packs/1.2.0.pack"));
    }

    void writtenFromTheStore()
    {
        QTemporaryDir dir;
        OrbChunkStore store(dir.path());
        OrbDeliveryManifest m;
        m.version = QStringLiteral("3");
        OrbDeliveryFile f;
        QByteArray expected;
        for (const QByteArray& data : {randomBytes(70000, 1), QByteArray("small"), randomBytes(70000, 1)}) {
            OrbChunkStore::Stored s;
            QVERIFY(store.Put(data, s));
            f.chunks.push_back(chunk(s.hash, data.size(), s.compressedSize));
            if (s.added)
                expected += readAll(store.PathOf(s.hash));
        }
        m.files = {f};
        QString why;
        QVERIFY2(OrbDeliveryPack::Write(dir.path(), m, &why), qPrintable(why));
        QCOMPARE(readAll(dir.filePath(QStringLiteral("packs/3.pack"))), expected);

        // A chunk the store lacks: no pack under the name, and the reason says which.
        QFile::remove(store.PathOf(f.chunks[1].hash));
        QFile::remove(dir.filePath(QStringLiteral("packs/3.pack")));
        QVERIFY(!OrbDeliveryPack::Write(dir.path(), m, &why));
        QVERIFY2(why.contains(QString::fromLatin1(f.chunks[1].hash)), qPrintable(why));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("packs/3.pack"))));
    }

    void spans_data()
    {
        QTest::addColumn<Offsets>("offsets");
        QTest::addColumn<Offsets>("sizes");
        QTest::addColumn<qint64>("max");
        QTest::addColumn<std::vector<Items>>("spans");
        QTest::addColumn<Offsets>("starts");
        QTest::newRow("back to back") << Offsets{0, 10, 25} << Offsets{10, 15, 5} << qint64(100)
                                      << std::vector<Items>{{0, 1, 2}} << Offsets{0};
        QTest::newRow("a gap splits") << Offsets{0, 30} << Offsets{10, 5} << qint64(100)
                                      << std::vector<Items>{{0}, {1}} << Offsets{0, 30};
        QTest::newRow("out of pack order") << Offsets{25, 0, 10} << Offsets{5, 10, 15} << qint64(100)
                                           << std::vector<Items>{{1, 2, 0}} << Offsets{0};
        QTest::newRow("cut at the cap") << Offsets{0, 10, 20, 30} << Offsets{10, 10, 10, 10} << qint64(25)
                                        << std::vector<Items>{{0, 1}, {2, 3}} << Offsets{0, 20};
        QTest::newRow("one frame above the cap") << Offsets{0, 50} << Offsets{50, 10} << qint64(25)
                                                 << std::vector<Items>{{0}, {1}} << Offsets{0, 50};
        QTest::newRow("nothing") << Offsets{} << Offsets{} << qint64(25) << std::vector<Items>{} << Offsets{};
    }
    void spans()
    {
        QFETCH(Offsets, offsets);
        QFETCH(Offsets, sizes);
        QFETCH(qint64, max);
        QFETCH(std::vector<Items>, spans);
        QFETCH(Offsets, starts);
        const std::vector<OrbDeliveryPack::Span> got = OrbDeliveryPack::Spans(offsets, sizes, max);
        QCOMPARE(got.size(), spans.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            QCOMPARE(got[i].items, spans[i]);
            QCOMPARE(got[i].start, starts[i]);
            std::int64_t length = 0;
            for (int item : got[i].items)
                length += sizes[std::size_t(item)];
            QCOMPARE(got[i].length, length);
        }
    }
};

QTEST_GUILESS_MAIN(TestOrbDeliveryPack)
#include "tst_orbdeliverypack.moc"
