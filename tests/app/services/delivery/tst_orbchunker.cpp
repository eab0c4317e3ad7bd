// Content-defined chunking: reproducible cuts, size bounds, and edits that only
// disturb the chunks next to them.
#include "OrbChunker.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QtTest>

#include <set>

namespace {

using Cuts = std::vector<std::uint64_t>;

QByteArray generated(qsizetype size, quint32 seed)
{
    QByteArray b(size, Qt::Uninitialized);
    QRandomGenerator g(seed);
    qsizetype i = 0;
    for (; i + 4 <= size; i += 4) {
        const quint32 v = g.generate();
        memcpy(b.data() + i, &v, 4);
    }
    for (; i < size; ++i)
        b[i] = char(g.bounded(256));
    return b;
}

Cuts cutsOf(const QByteArray& data)
{
    return OrbChunker::Cuts(reinterpret_cast<const unsigned char*>(data.constData()), std::size_t(data.size()));
}

// Cuts when the same bytes arrive in buffers of `step` bytes.
Cuts cutsInSteps(const QByteArray& data, qsizetype step)
{
    OrbChunker c;
    Cuts cuts;
    for (qsizetype at = 0; at < data.size(); at += step) {
        const qsizetype n = std::min(step, data.size() - at);
        c.Feed(reinterpret_cast<const unsigned char*>(data.constData() + at), std::size_t(n), cuts);
    }
    std::uint64_t last = 0;
    if (c.Finish(last))
        cuts.push_back(last);
    return cuts;
}

std::vector<QByteArray> chunkHashes(const QByteArray& data, const Cuts& cuts)
{
    std::vector<QByteArray> out;
    std::uint64_t from = 0;
    for (std::uint64_t cut : cuts) {
        out.push_back(QCryptographicHash::hash(data.mid(qsizetype(from), qsizetype(cut - from)), QCryptographicHash::Sha256));
        from = cut;
    }
    return out;
}

QByteArray digestOfCuts(const Cuts& cuts)
{
    QByteArray text;
    for (std::uint64_t c : cuts)
        text += QByteArray::number(qulonglong(c)) + ',';
    return QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex().left(16);
}

} // namespace

class TestOrbChunker : public QObject {
    Q_OBJECT

private slots:
    void gearTableFollowsSplitMix64()
    {
        // The table is part of the store's format: recomputed here independently.
        std::uint64_t state = 0x4F72624C69766521ull;
        std::set<std::uint64_t> distinct;
        for (int i = 0; i < 256; ++i) {
            state += 0x9E3779B97F4A7C15ull;
            std::uint64_t z = state;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            z ^= z >> 31;
            QCOMPARE(OrbChunker::GearTable()[std::size_t(i)], z);
            distinct.insert(z);
        }
        QCOMPARE(distinct.size(), std::size_t(256));
    }

    void boundaries_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("digest");  // of the cut list; empty: not pinned
        QTest::addColumn<int>("expectedCount");  // -1: not fixed

        QTest::newRow("empty") << QByteArray() << QByteArray() << 0;
        QTest::newRow("one byte") << QByteArray(1, 'x') << QByteArray() << 1;
        QTest::newRow("below the minimum") << generated(60000, 3) << QByteArray() << 1;
        QTest::newRow("exactly the minimum") << generated(64 * 1024, 4) << QByteArray() << 1;
        QTest::newRow("zeros: only forced cuts") << QByteArray(5 * 1024 * 1024 + 17, '\0') << QByteArray() << 6;
        QTest::newRow("random 24 MiB") << generated(24 * 1024 * 1024, 11) << QByteArray("93f02c5243d910be") << -1;
    }

    void boundaries()
    {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, digest);
        QFETCH(int, expectedCount);
        const Cuts cuts = cutsOf(data);
        if (expectedCount >= 0)
            QCOMPARE(int(cuts.size()), expectedCount);
        // The cuts tile the data and respect the bounds (the last chunk may be short).
        std::uint64_t from = 0;
        for (std::size_t i = 0; i < cuts.size(); ++i) {
            const std::uint64_t size = cuts[i] - from;
            QVERIFY(size > 0);
            QVERIFY2(size <= OrbChunker::kMaxSize, qPrintable(QString::number(size)));
            if (i + 1 < cuts.size())
                QVERIFY2(size > OrbChunker::kMinSize, qPrintable(QString::number(size)));
            from = cuts[i];
        }
        QCOMPARE(from, std::uint64_t(data.size()));
        // Independent of how the bytes are handed in.
        for (qsizetype step : {qsizetype(1), qsizetype(4093), qsizetype(1 << 20)}) {
            if (step == 1 && data.size() > (2 << 20))
                continue;
            QCOMPARE(cutsInSteps(data, step), cuts);
        }
        if (data.size() > 8 * 1024 * 1024) {
            // Sizes gather around the average: neither all minimal nor all forced.
            const double mean = double(data.size()) / double(cuts.size());
            QVERIFY2(mean > 150 * 1024 && mean < 450 * 1024, qPrintable(QString::number(mean)));
        }
        if (!digest.isEmpty())
            QCOMPARE(digestOfCuts(cuts), digest);
    }

    void editsMoveOnlyNeighbouringChunks_data()
    {
        QTest::addColumn<qsizetype>("at");
        QTest::addColumn<QByteArray>("inserted");
        QTest::addColumn<qsizetype>("removed");
        QTest::newRow("1 MiB inserted in the middle") << qsizetype(12 << 20) << generated(1 << 20, 99) << qsizetype(0);
        QTest::newRow("5 bytes inserted in the middle") << qsizetype(12 << 20) + 12345 << QByteArray("hello") << qsizetype(0);
        QTest::newRow("one byte changed") << qsizetype(7 << 20) + 1 << QByteArray("Z") << qsizetype(1);
        QTest::newRow("300 KiB removed") << qsizetype(9 << 20) << QByteArray() << qsizetype(300 * 1024);
        QTest::newRow("bytes in the first chunk") << qsizetype(100) << QByteArray("abc") << qsizetype(0);
    }

    void editsMoveOnlyNeighbouringChunks()
    {
        QFETCH(qsizetype, at);
        QFETCH(QByteArray, inserted);
        QFETCH(qsizetype, removed);
        const QByteArray before = generated(24 * 1024 * 1024, 11);
        QByteArray after = before;
        after.replace(at, removed, inserted);
        const Cuts a = cutsOf(before), b = cutsOf(after);
        const auto ha = chunkHashes(before, a), hb = chunkHashes(after, b);

        // Every cut before the edit stays where it was.
        std::size_t prefix = 0;
        while (prefix < a.size() && a[prefix] <= std::uint64_t(at)) {
            QVERIFY(prefix < b.size());
            QCOMPARE(b[prefix], a[prefix]);
            ++prefix;
        }
        // From the end: identical chunks by hash.
        std::size_t suffix = 0;
        while (suffix < ha.size() && suffix < hb.size() && ha[ha.size() - 1 - suffix] == hb[hb.size() - 1 - suffix])
            ++suffix;
        // Only the chunks around the edit differ: at most the one holding it and
        // one after it in the old version, plus what the new bytes need.
        const std::size_t lostOld = ha.size() - prefix - suffix;
        const std::size_t newChunks = hb.size() - prefix - suffix;
        QVERIFY2(lostOld <= 3, qPrintable(QString::number(lostOld)));
        const std::size_t allowed = 3 + std::size_t(inserted.size()) / OrbChunker::kMinSize;
        QVERIFY2(newChunks <= allowed, qPrintable(QStringLiteral("%1 > %2").arg(newChunks).arg(allowed)));
        QVERIFY(suffix > a.size() / 3);
    }
};

QTEST_APPLESS_MAIN(TestOrbChunker)
#include "tst_orbchunker.moc"
