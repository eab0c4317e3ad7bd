#include "OrbChunker.h"

namespace {

constexpr std::uint64_t splitMix64(std::uint64_t& state)
{
    state += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

constexpr std::array<std::uint64_t, 256> makeGear()
{
    std::array<std::uint64_t, 256> table{};
    std::uint64_t state = OrbChunker::kGearSeed;
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = splitMix64(state);
    return table;
}

constexpr std::array<std::uint64_t, 256> kGear = makeGear();

} // namespace

const std::array<std::uint64_t, 256>& OrbChunker::GearTable() { return kGear; }

void OrbChunker::Feed(const unsigned char* data, std::size_t size, std::vector<std::uint64_t>& cuts)
{
    for (std::size_t i = 0; i < size; ++i) {
        ++m_length;
        bool cut;
        if (m_length <= kMinSize) {
            // The hash starts after the minimum: bytes before it cannot cut.
            cut = false;
        } else {
            m_hash = (m_hash << 1) + kGear[data[i]];
            if (m_length >= kMaxSize)
                cut = true;
            else if (m_length < kAvgSize)
                cut = (m_hash & kMaskStrict) == 0;
            else
                cut = (m_hash & kMaskLoose) == 0;
        }
        if (cut) {
            cuts.push_back(m_offset + i + 1);
            m_length = 0;
            m_hash = 0;
        }
    }
    m_offset += size;
}

bool OrbChunker::Finish(std::uint64_t& lastCut)
{
    const bool pending = m_length > 0;
    lastCut = m_offset;
    m_length = 0;
    m_hash = 0;
    return pending;
}

std::vector<std::uint64_t> OrbChunker::Cuts(const unsigned char* data, std::size_t size)
{
    OrbChunker chunker;
    std::vector<std::uint64_t> cuts;
    chunker.Feed(data, size, cuts);
    std::uint64_t last = 0;
    if (chunker.Finish(last))
        cuts.push_back(last);
    return cuts;
}
