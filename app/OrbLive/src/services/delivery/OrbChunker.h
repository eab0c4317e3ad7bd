#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// Content-defined chunking with a rolling gear hash, FastCDC style: no cut
// before the minimum size, a strict mask up to the average size and a loose
// one after it (normalised chunking, so sizes gather around the average), a
// forced cut at the maximum. The state is the current chunk's length and hash
// only: a stream of any size is chunked in bounded memory, and the cuts depend
// on the bytes alone, never on how they were split into buffers.
class OrbChunker {
public:
    static constexpr std::size_t kMinSize = 64 * 1024;
    static constexpr std::size_t kAvgSize = 256 * 1024;
    static constexpr std::size_t kMaxSize = 1024 * 1024;

    // Cut when the hash's top bits are zero: 20 bits before the average
    // (1 in 2^20), 16 bits after it (1 in 2^16).
    static constexpr std::uint64_t kMaskStrict = 0xFFFFF00000000000ull;
    static constexpr std::uint64_t kMaskLoose = 0xFFFF000000000000ull;

    // Seed of the SplitMix64 sequence whose first 256 outputs are the gear table.
    static constexpr std::uint64_t kGearSeed = 0x4F72624C69766521ull;  // "OrbLive!"

    static const std::array<std::uint64_t, 256>& GearTable();

    // Feeds the next bytes of the stream; appends to cuts the stream offsets at
    // which chunks end inside these bytes (each the end of a chunk, exclusive).
    void Feed(const unsigned char* data, std::size_t size, std::vector<std::uint64_t>& cuts);
    // Ends the stream: the end offset of the last, shorter chunk, or false when
    // the stream ended exactly at a cut (or was empty).
    bool Finish(std::uint64_t& lastCut);

    // Cut offsets of a whole buffer (convenience for small inputs).
    static std::vector<std::uint64_t> Cuts(const unsigned char* data, std::size_t size);

    std::uint64_t Offset() const { return m_offset; }

private:
    std::uint64_t m_offset = 0;   // bytes fed so far
    std::size_t m_length = 0;     // bytes of the current chunk
    std::uint64_t m_hash = 0;
};
