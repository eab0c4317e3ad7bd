#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <cstdint>
#include <vector>

struct OrbDeliveryManifest;

// A version's pack: the stored zstd frames of all its distinct chunks, one after
// the other in the order they first appear in the manifest (files, then chunks, in
// the manifest's order). Where each frame sits follows from the manifest alone, so
// the pack needs no index of its own and a stale or foreign pack shows up as chunks
// that fail their hash. It lets the launcher fetch runs of chunks with one ranged
// request each instead of one request per chunk; the chunk files stay the reference.
//
//   <store>/packs/<version>.pack
namespace OrbDeliveryPack {

QString RelativePath(const QString& version);  // "packs/<version>.pack"

struct Layout {
    QHash<QByteArray, std::int64_t> offsets;  // chunk hash -> first byte of its frame
    std::int64_t size = 0;                    // bytes of the whole pack
};
Layout LayoutOf(const OrbDeliveryManifest& manifest);

// Writes the pack of manifest from the chunks of the store at storeRoot (through a
// temporary file; a pack that cannot be completed leaves nothing under its name).
bool Write(const QString& storeRoot, const OrbDeliveryManifest& manifest, QString* error = nullptr);

// A run of chunks that lie back to back in a pack: one ranged request.
struct Span {
    std::int64_t start = 0;
    std::int64_t length = 0;
    std::vector<int> items;  // indexes into the list the span was made from, in pack order
};

// Groups chunks (their pack offsets and frame sizes, one entry per distinct chunk)
// into spans of at most maxBytes each; a single frame larger than that is a span alone.
std::vector<Span> Spans(const std::vector<std::int64_t>& offsets, const std::vector<std::int64_t>& sizes,
                        std::int64_t maxBytes);

} // namespace OrbDeliveryPack
