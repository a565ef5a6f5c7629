// Constants of the LZX coded format shared by the decoder and the writer's encoder:
// alphabet sizes and the position slots (extra bits and base of each slot).
#pragma once
#include <array>
#include <cstdint>

namespace lzx {

constexpr int kMinWindowBits = 15;
constexpr int kMaxWindowBits = 21;
constexpr uint32_t kFrameSize = 32768;   // one frame per data block
constexpr int kNumChars = 256;
constexpr int kMaxSlots = 51;
constexpr int kMaxMainSymbols = kNumChars + 8 * 52;
constexpr int kLengthSymbols = 249;
constexpr int kPretreeSymbols = 20;
constexpr int kAlignedSymbols = 8;
constexpr int kMinMatch = 2;
constexpr int kMaxMatch = 257;
constexpr int kMaxCodeLength = 16;

enum BlockType : int { kVerbatim = 1, kAligned = 2, kUncompressed = 3 };

constexpr std::array<uint8_t, kMaxSlots> kExtraBits = [] {
    std::array<uint8_t, kMaxSlots> e{};
    for (int i = 4; i < kMaxSlots; ++i)
        e[i] = static_cast<uint8_t>(i < 36 ? (i - 2) / 2 : 17);
    return e;
}();

constexpr std::array<uint32_t, kMaxSlots> kPositionBase = [] {
    std::array<uint32_t, kMaxSlots> b{};
    for (int i = 1; i < kMaxSlots; ++i)
        b[i] = b[i - 1] + (1u << kExtraBits[i - 1]);
    return b;
}();

// Number of position slots for a window: slots are counted until their positions
// span the whole window.
constexpr int SlotCount(uint32_t windowSize)
{
    int slots = 4;
    uint32_t span = 4;
    while (span < windowSize && slots < kMaxSlots)
        span += 1u << kExtraBits[slots++];
    return slots;
}

} // namespace lzx
