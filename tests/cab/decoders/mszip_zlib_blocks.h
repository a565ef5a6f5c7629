// Test and benchmark helpers: sample data of three kinds, and MSZIP blocks made from it with
// zlib's raw deflate, each "CK" plus a complete deflate stream of up to 32768 bytes whose
// dictionary is the previous block.
#pragma once
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace mszip_blocks {

constexpr size_t kBlockSize = 32768;

inline std::vector<std::vector<uint8_t>> Compress(const std::vector<uint8_t>& data, int level = 6,
                                                  int strategy = Z_DEFAULT_STRATEGY)
{
    z_stream z{};
    // memLevel 9 keeps incompressible data to at most two stored blocks per 32 KB, so a block
    // stays within the decoder's input limit of 32780 bytes.
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 9, strategy) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::vector<std::vector<uint8_t>> blocks;
    for (size_t at = 0; at < data.size(); at += kBlockSize) {
        const size_t n = std::min(kBlockSize, data.size() - at);
        deflateReset(&z);
        if (at > 0) deflateSetDictionary(&z, data.data() + at - kBlockSize, kBlockSize);
        std::vector<uint8_t> block(2 + deflateBound(&z, n));
        block[0] = 'C';
        block[1] = 'K';
        z.next_in = const_cast<uint8_t*>(data.data() + at);
        z.avail_in = uInt(n);
        z.next_out = block.data() + 2;
        z.avail_out = uInt(block.size() - 2);
        if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
        block.resize(block.size() - z.avail_out);
        blocks.push_back(std::move(block));
    }
    deflateEnd(&z);
    return blocks;
}

// Deterministic pseudo-random bytes (xorshift).
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t Next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return uint32_t(state_ >> 16);
    }
    uint32_t Below(uint32_t n) { return Next() % n; }

private:
    uint64_t state_;
};

// Words of a fixed vocabulary, frequent ones far more often, with spaces, commas and lines.
inline std::vector<uint8_t> MakeText(size_t size, uint64_t seed = 1)
{
    Random rng(seed);
    std::vector<std::vector<uint8_t>> words(3000);
    for (auto& w : words)
        for (uint32_t n = 2 + rng.Below(9); n > 0; --n) w.push_back(uint8_t('a' + rng.Below(26)));
    std::vector<uint8_t> out;
    while (out.size() < size) {
        const uint32_t r = rng.Below(3000);
        const auto& w = words[r * r / 3000 * r / 3000];
        out.insert(out.end(), w.begin(), w.end());
        const uint32_t p = rng.Below(20);
        out.push_back(p == 0 ? '\n' : p == 1 ? ',' : ' ');
    }
    out.resize(size);
    return out;
}

// Fixed-size records: a counter, a small value, an identifier from a short list, noise.
inline std::vector<uint8_t> MakeBinary(size_t size, uint64_t seed = 2)
{
    Random rng(seed);
    uint32_t ids[64];
    for (auto& id : ids) id = rng.Next();
    std::vector<uint8_t> out;
    for (uint32_t counter = 0; out.size() < size; ++counter) {
        const uint32_t fields[4] = {counter, rng.Below(256), ids[rng.Below(64)], rng.Next() & 0x0F0F0F0F};
        for (uint32_t f : fields)
            for (int i = 0; i < 4; ++i) out.push_back(uint8_t(f >> (8 * i)));
    }
    out.resize(size);
    return out;
}

inline std::vector<uint8_t> MakeRandom(size_t size, uint64_t seed = 3)
{
    Random rng(seed);
    std::vector<uint8_t> out(size);
    for (auto& b : out) b = uint8_t(rng.Next());
    return out;
}

}  // namespace mszip_blocks
