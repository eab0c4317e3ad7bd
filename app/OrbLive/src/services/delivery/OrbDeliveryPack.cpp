#include "OrbDeliveryPack.h"

#include "OrbChunkStore.h"
#include "OrbDeliveryManifest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <numeric>

namespace OrbDeliveryPack {

namespace {
void fail(QString* error, const QString& why)
{
    if (error)
        *error = why;
}
} // namespace

QString RelativePath(const QString& version) { return QStringLiteral("packs/") + version + QStringLiteral(".pack"); }

Layout LayoutOf(const OrbDeliveryManifest& manifest)
{
    Layout l;
    for (const OrbDeliveryFile& f : manifest.files) {
        for (const OrbDeliveryChunk& c : f.chunks) {
            if (l.offsets.contains(c.hash))
                continue;
            l.offsets.insert(c.hash, l.size);
            l.size += c.compressedSize;
        }
    }
    return l;
}

bool Write(const QString& storeRoot, const OrbDeliveryManifest& manifest, QString* error)
{
    const QString path = storeRoot + QLatin1Char('/') + RelativePath(manifest.version);
    if (!QDir().mkpath(QFileInfo(path).path())) {
        fail(error, QStringLiteral("cannot create %1").arg(QFileInfo(path).path()));
        return false;
    }
    const OrbChunkStore store(storeRoot);
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        fail(error, QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
        return false;
    }
    QHash<QByteArray, bool> written;
    for (const OrbDeliveryFile& f : manifest.files) {
        for (const OrbDeliveryChunk& c : f.chunks) {
            if (written.contains(c.hash))
                continue;
            written.insert(c.hash, true);
            QFile in(store.PathOf(c.hash));
            if (!in.open(QIODevice::ReadOnly) || in.size() != c.compressedSize) {
                fail(error, QStringLiteral("chunk %1 is missing from the store or not its declared size")
                                .arg(QString::fromLatin1(c.hash)));
                out.cancelWriting();
                return false;
            }
            const QByteArray frame = in.readAll();
            if (out.write(frame) != frame.size()) {
                fail(error, QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
                out.cancelWriting();
                return false;
            }
        }
    }
    if (!out.commit()) {
        fail(error, QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
        return false;
    }
    return true;
}

std::vector<Span> Spans(const std::vector<std::int64_t>& offsets, const std::vector<std::int64_t>& sizes,
                        std::int64_t maxBytes)
{
    std::vector<int> order(offsets.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) { return offsets[std::size_t(a)] < offsets[std::size_t(b)]; });
    std::vector<Span> spans;
    for (int i : order) {
        const std::int64_t at = offsets[std::size_t(i)];
        const std::int64_t size = sizes[std::size_t(i)];
        if (!spans.empty()) {
            Span& last = spans.back();
            if (last.start + last.length == at && last.length + size <= maxBytes) {
                last.length += size;
                last.items.push_back(i);
                continue;
            }
        }
        spans.push_back(Span{at, size, {i}});
    }
    return spans;
}

} // namespace OrbDeliveryPack
