// Quantum slot tables and adaptive frequency models. Shared by the decoder and the writer's
// encoder, which must adapt their models in exactly the same way.
#pragma once
#include <cstdint>

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

// Symbols in model order (most frequent first after a reorder). entries[i].cumFreq is the
// sum of the frequencies of entries i..n-1, so entries[0] holds the total and entries[n] 0.
struct Model {
    int32_t symbols;
    int32_t updatesLeft;
    struct Entry {
        uint32_t cumFreq;
        int32_t symbol;
    } entries[kMaxModelSymbols + 1];
};

inline void InitModel(Model& m, int symbols)
{
    m.symbols = symbols;
    m.updatesLeft = 4;
    for (int i = 0; i <= symbols; ++i)
        m.entries[i] = {static_cast<uint32_t>(symbols - i), i};
}

// Called when the total passes the limit: halves the frequencies, and every so often turns
// them back into plain frequencies and reorders the entries by them. The exchange sort is
// part of the format: it decides the order of equal frequencies.
inline void UpdateModel(Model& m)
{
    const int n = m.symbols;
    Model::Entry* e = m.entries;
    if (--m.updatesLeft != 0) {
        for (int i = n - 1; i >= 0; --i) {
            e[i].cumFreq >>= 1;
            if (e[i].cumFreq <= e[i + 1].cumFreq)
                e[i].cumFreq = e[i + 1].cumFreq + 1;
        }
        return;
    }
    m.updatesLeft = kUpdatesBetweenReorders;
    for (int i = 0; i < n; ++i)
        e[i].cumFreq = (e[i].cumFreq - e[i + 1].cumFreq + 1) / 2;
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            if (e[j].cumFreq > e[i].cumFreq) {
                const Model::Entry t = e[i];
                e[i] = e[j];
                e[j] = t;
            }
    for (int i = n - 1; i >= 0; --i)
        e[i].cumFreq += e[i + 1].cumFreq;
}

// Raises the frequency of entry i after it has been coded.
inline void AdaptModel(Model& m, int i)
{
    for (int k = 0; k <= i; ++k)
        m.entries[k].cumFreq += 8;
    if (m.entries[0].cumFreq > kFrequencyLimit)
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
