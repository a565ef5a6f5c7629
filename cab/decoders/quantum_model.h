// Quantum slot tables and adaptive frequency models. Shared by the decoder and the writer's
// encoder, which must adapt their models in exactly the same way.
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>

namespace quantum {

constexpr int kPositionSlots = 42;
constexpr int kLengthSlots = 27;
constexpr int kMaxModelSymbols = 64;
constexpr uint32_t kFrequencyLimit = 3800;
constexpr int kUpdatesBetweenReorders = 50;

struct SlotTables {
    uint32_t positionBase[kPositionSlots];
    uint8_t positionExtra[kPositionSlots];
    uint32_t lengthBase[kLengthSlots];
    uint8_t lengthExtra[kLengthSlots];
};

constexpr SlotTables MakeSlotTables()
{
    SlotTables t{};
    uint32_t base = 0;
    for (int s = 0; s < kPositionSlots; ++s) {
        t.positionExtra[s] = static_cast<uint8_t>(s < 4 ? 0 : s / 2 - 1);
        t.positionBase[s] = base;
        base += 1u << t.positionExtra[s];
    }
    base = 0;
    for (int s = 0; s < kLengthSlots; ++s) {
        t.lengthExtra[s] = static_cast<uint8_t>(s < 6 || s == 26 ? 0 : (s - 2) / 4);
        t.lengthBase[s] = base;
        base += 1u << t.lengthExtra[s];
    }
    return t;
}

inline constexpr SlotTables kSlots = MakeSlotTables();

// Symbols in model order (most frequent first after a reorder). cumFreq[i] is the sum of
// the frequencies of entries i..n-1, so cumFreq[0] is the total and cumFreq[n] is 0. Every
// frequency is at least 1, so the sums strictly decrease down to entry n; the entries past
// n stay 0, which lets the search and the adaptation run over whole words of four sums.
constexpr int kModelSpan = 68;

struct Model {
    int32_t symbols;
    int32_t updatesLeft;
    uint16_t cumFreq[kModelSpan];
    uint16_t symbol[kModelSpan];
};

inline void InitModel(Model& m, int symbols)
{
    m = {};
    m.symbols = symbols;
    m.updatesLeft = 4;
    for (int i = 0; i <= symbols; ++i) {
        m.cumFreq[i] = static_cast<uint16_t>(symbols - i);
        m.symbol[i] = static_cast<uint16_t>(i);
    }
}

// Called when the total passes the limit: halves the frequencies, and every so often turns
// them back into plain frequencies and reorders the entries by them. The exchange sort is
// part of the format: it decides the order of equal frequencies.
inline void UpdateModel(Model& m)
{
    const int n = m.symbols;
    uint16_t* cum = m.cumFreq;
    if (--m.updatesLeft != 0) {
        for (int i = n - 1; i >= 0; --i) {
            cum[i] >>= 1;
            if (cum[i] <= cum[i + 1])
                cum[i] = static_cast<uint16_t>(cum[i + 1] + 1);
        }
        return;
    }
    m.updatesLeft = kUpdatesBetweenReorders;
    for (int i = 0; i < n; ++i)
        cum[i] = static_cast<uint16_t>((cum[i] - cum[i + 1] + 1) / 2);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            if (cum[j] > cum[i]) {
                const uint16_t f = cum[i], s = m.symbol[i];
                cum[i] = cum[j];
                m.symbol[i] = m.symbol[j];
                cum[j] = f;
                m.symbol[j] = s;
            }
    for (int i = n - 1; i >= 0; --i)
        cum[i] = static_cast<uint16_t>(cum[i] + cum[i + 1]);
}

// Finds the entry i that holds `point` on a scale of `scale` per unit of frequency
// (cumFreq[i + 1] × scale <= point < cumFreq[i] × scale) and raises its frequency by adding
// 8 to the sums of entries 0..i, which are exactly the sums above the point; returns i.
// Callers read what they need of the entry, then call LimitModel.
inline int RaiseFrequency(Model& m, uint32_t scale, uint32_t point)
{
    // Four sums to a 64-bit word. The sums decrease along the entries, so the sums above the
    // point are a prefix: whole words while a word's last sum is above it, then part of the
    // word holding the first sum at or below it.
    constexpr uint64_t kEight = 0x0008'0008'0008'0008;
    int g = 0;
    uint64_t word;
    for (;; g += 4) {
        std::memcpy(&word, m.cumFreq + g, sizeof word);
        if (uint32_t{m.cumFreq[g + 3]} * scale <= point)
            break;
        word += kEight;
        std::memcpy(m.cumFreq + g, &word, sizeof word);
    }
    // In that word, scaled as two words of two 32-bit lanes (the even and the odd entries):
    // products and point stay below 2^28, so in each 32-bit lane (sum × scale | 2^31) -
    // (point + 1) keeps bit 31 exactly when sum × scale > point, and never borrows from the
    // next lane. Moved to bit 15 of each sum, these bits mark the sums to raise.
    constexpr uint64_t kEvenLanes = 0x0000'FFFF'0000'FFFF;
    constexpr uint64_t kTop32 = 0x8000'0000'8000'0000;
    constexpr uint64_t kTop16 = 0x8000'8000'8000'8000;
    const uint64_t threshold = (uint64_t{point} + 1) * 0x0000'0001'0000'0001;
    const uint64_t even = (((word & kEvenLanes) * scale | kTop32) - threshold) & kTop32;
    const uint64_t odd = ((((word >> 16) & kEvenLanes) * scale | kTop32) - threshold) & kTop32;
    const uint64_t above = even >> 16 | odd;
    word += above >> 12; // 8 in each marked lane
    std::memcpy(m.cumFreq + g, &word, sizeof word);
    const uint64_t rest = ~above & kTop16;
    const int lanes = std::endian::native == std::endian::little ? std::countr_zero(rest) >> 4
                                                                   : std::countl_zero(rest) >> 4;
    return g + lanes - 1;
}

// The entry whose range holds `target` (cumFreq[i + 1] <= target < cumFreq[i]).
inline int RaiseFrequency(Model& m, uint32_t target)
{
    return RaiseFrequency(m, 1, target);
}

inline void LimitModel(Model& m)
{
    if (m.cumFreq[0] > kFrequencyLimit)
        UpdateModel(m);
}

// The nine models of a Quantum stream and their sizes for window exponent e.
struct Models {
    Model selector;
    Model literal[4];
    Model length;
    Model position3;
    Model position4;
    Model positionLong;
};

inline void InitModels(Models& m, int windowBits)
{
    const int slots = 2 * windowBits;
    InitModel(m.selector, 7);
    for (Model& lit : m.literal)
        InitModel(lit, 64);
    InitModel(m.length, kLengthSlots);
    InitModel(m.position3, slots < 24 ? slots : 24);
    InitModel(m.position4, slots < 36 ? slots : 36);
    InitModel(m.positionLong, slots);
}

} // namespace quantum
