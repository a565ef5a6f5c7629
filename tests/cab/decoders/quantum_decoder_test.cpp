// Hand-built checks of the Quantum decoder: creation rules, the slot tables and models, the
// frame rules (start bits, overrun, short streams, matches before the folder) and the spill
// file's failures.
#include <gtest/gtest.h>

#include "cab/decoders/quantum_harness.h"

namespace {

using qtest::Decoder;
using qtest::Env;

struct QuantumDecoder : ::testing::Test {
    void SetUp() override { Env::Reset(); }
    void TearDown() override { EXPECT_EQ(Env::liveBlocks, 0); }
};

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

TEST_F(QuantumDecoder, SizeQueryChecksTheExponentAndNormalisesTheBlockMaximum)
{
    struct Case {
        int32_t bits;
        uint32_t blockMax;
        int result;
        uint32_t blockMaxAfter, srcMinAfter;
    };
    const Case cases[] = {
        {9, 0, MDI_ERROR_CONFIGURATION, 0, 99},      {22, 32768, MDI_ERROR_CONFIGURATION, 32768, 99},
        {10, 0, MDI_ERROR_NO_ERROR, 32768, 43008},   {21, 40000, MDI_ERROR_NO_ERROR, 32768, 43008},
        {15, 1000, MDI_ERROR_NO_ERROR, 1000, 11240},
    };
    for (const Case& c : cases) {
        uint32_t blockMax = c.blockMax, srcMin = 99;
        EXPECT_EQ(QuantumCreateDecompression(&blockMax, &c.bits, nullptr, nullptr, &srcMin, nullptr, nullptr,
                                             nullptr, nullptr, nullptr, nullptr),
                  c.result)
            << c.bits;
        EXPECT_EQ(blockMax, c.blockMaxAfter) << c.bits;
        EXPECT_EQ(srcMin, c.srcMinAfter) << c.bits;
    }
    EXPECT_EQ(Decoder(22).created, MDI_ERROR_CONFIGURATION);
}

TEST_F(QuantumDecoder, SlotTables)
{
    using quantum::kSlots;
    const uint32_t positions[] = {0, 1, 2, 3, 4, 6, 8, 12, 16, 24};
    for (int s = 0; s < 10; ++s)
        EXPECT_EQ(kSlots.positionBase[s], positions[s]) << s;
    EXPECT_EQ(kSlots.positionBase[41], 1572864u);
    EXPECT_EQ(kSlots.positionExtra[41], 19);
    EXPECT_EQ(kSlots.positionBase[41] + (1u << 19), 1u << 21); // offsets reach exactly 2^21

    const uint32_t lengths[] = {0, 1, 2, 3, 4, 5, 6, 8, 10, 12, 14, 18};
    for (int s = 0; s < 12; ++s)
        EXPECT_EQ(kSlots.lengthBase[s], lengths[s]) << s;
    EXPECT_EQ(kSlots.lengthBase[25] + (1u << kSlots.lengthExtra[25]), 254u);
    EXPECT_EQ(kSlots.lengthBase[26], 254u);
    EXPECT_EQ(kSlots.lengthExtra[26], 0);
}

TEST_F(QuantumDecoder, ModelSizesFollowTheWindow)
{
    struct Case {
        int bits, p3, p4, pLong;
    };
    for (const Case c : {Case{10, 20, 20, 20}, Case{15, 24, 30, 30}, Case{18, 24, 36, 36}, Case{21, 24, 36, 42}}) {
        Decoder dec(c.bits);
        ASSERT_EQ(dec.created, 0);
        const quantum::Models& m = g_quantum.models;
        EXPECT_EQ(m.selector.symbols, 7);
        EXPECT_EQ(m.literal[3].symbols, 64);
        EXPECT_EQ(m.length.symbols, 27);
        EXPECT_EQ(m.position3.symbols, c.p3) << c.bits;
        EXPECT_EQ(m.position4.symbols, c.p4) << c.bits;
        EXPECT_EQ(m.positionLong.symbols, c.pLong) << c.bits;
        EXPECT_EQ(m.positionLong.cumFreq[0], c.pLong);
        EXPECT_EQ(m.positionLong.cumFreq[c.pLong], 0);
    }
}

TEST_F(QuantumDecoder, ReorderKeepsTheExchangeSortOrderOfEqualFrequencies)
{
    // Frequencies 1, 3, 3, 5 halve to 1, 2, 2, 3 for symbols A, B, C, D.
    quantum::Model m;
    quantum::InitModel(m, 4);
    const uint32_t cum[] = {12, 11, 8, 5, 0};
    for (int i = 0; i <= 4; ++i)
        m.cumFreq[i] = cum[i];
    m.updatesLeft = 1;
    quantum::UpdateModel(m);
    const int symbols[] = {3, 2, 1, 0};
    const uint32_t after[] = {8, 5, 3, 1, 0};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(m.symbol[i], symbols[i]) << i;
    for (int i = 0; i <= 4; ++i)
        EXPECT_EQ(m.cumFreq[i], after[i]) << i;
    EXPECT_EQ(m.updatesLeft, 50);
}

TEST_F(QuantumDecoder, ScaledSearchFindsTheEntryThatDividingWouldFind)
{
    // The decoder finds the entry whose range holds point div scale by comparing sums times
    // scale with the point. Every boundary of every entry, for the ranges the coder meets.
    std::mt19937 rng(5);
    for (int n : {7, 27, 64}) {
        quantum::Model m;
        quantum::InitModel(m, n);
        for (int k = 0; k < 300; ++k) { // uneven, partly reordered frequencies
            quantum::RaiseFrequency(m, rng() % m.cumFreq[0]);
            quantum::LimitModel(m);
        }
        for (uint32_t scale : {1u, 0x4001u, 0xABCDu, 0x10000u}) {
            for (int e = 0; e < n; ++e) {
                for (uint32_t sum : {uint32_t{m.cumFreq[e + 1]}, m.cumFreq[e] - 1u}) {
                    for (uint32_t point : {sum * scale, sum * scale + scale - 1}) {
                        quantum::Model copy = m;
                        ASSERT_EQ(quantum::RaiseFrequency(copy, scale, point), e) << n << " " << scale << " " << point;
                        for (int j = 0; j <= n; ++j)
                            ASSERT_EQ(copy.cumFreq[j], m.cumFreq[j] + (j <= e ? 8 : 0)) << j;
                    }
                }
            }
        }
    }
}

TEST_F(QuantumDecoder, FirstReorderAtTheFourthUpdateThenEveryFiftieth)
{
    quantum::Model m;
    quantum::InitModel(m, 4);
    std::vector<int> reorders; // update numbers after which symbol 3 leads
    int updates = 0;
    while (updates < 104) {
        int i = 0;
        while (m.symbol[i] != 3)
            ++i;
        const uint32_t before = m.cumFreq[0];
        const bool leading = i == 0;
        ASSERT_EQ(quantum::RaiseFrequency(m, m.cumFreq[i + 1]), i);
        quantum::LimitModel(m);
        if (m.cumFreq[0] < before) {
            ++updates;
            if (!leading && m.symbol[0] == 3)
                reorders.push_back(updates);
            if (m.symbol[0] == 3) // put it last again to see the next reorder
                for (int k = 0; k < 3; ++k)
                    std::swap(m.symbol[k], m.symbol[k + 1]);
        }
    }
    EXPECT_EQ(reorders, (std::vector<int>{4, 54, 104}));
}

TEST_F(QuantumDecoder, EmptyFrameStillReadsSixteenBits)
{
    Decoder dec(15);
    std::vector<uint8_t> out;
    EXPECT_EQ(dec.frame({}, 0, out), MDI_ERROR_FAILED);
    EXPECT_EQ(dec.frame({0x12}, 0, out), MDI_ERROR_FAILED);
    EXPECT_EQ(dec.frame({0x12, 0x34}, 0, out), MDI_ERROR_NO_ERROR);
}

TEST_F(QuantumDecoder, FrameLargerThanTheBlockMaximumIsRefused)
{
    Decoder dec(15, 1000);
    std::vector<uint8_t> out;
    EXPECT_EQ(dec.frame({0, 0, 0, 0}, 1001, out), MDI_ERROR_BUFFER_OVERFLOW);
    EXPECT_EQ(g_quantum.streamPos, 0u);
}

TEST_F(QuantumDecoder, MatchLongerThanTheFrameLeftIsAnOverrun)
{
    // One literal, then a match of 259 bytes at offset 1.
    const std::vector<uint8_t> data(260, 'x');
    const auto blocks = qtest::Encode(15, data);
    ASSERT_EQ(blocks.size(), 1u);
    std::vector<uint8_t> out;
    {
        Decoder dec(15);
        EXPECT_EQ(dec.frame(blocks[0].data, 101, out), MDI_ERROR_FAILED);
        EXPECT_EQ(out[0], 'x');
        EXPECT_EQ(out[1], 0xEE);
    }
    Decoder dec(15);
    EXPECT_EQ(dec.frame(blocks[0].data, 260, out), MDI_ERROR_NO_ERROR);
    EXPECT_TRUE(out == data);
}

TEST_F(QuantumDecoder, StreamShortOfItsLastBitsFails)
{
    const auto data = qtest::MixedData(20000, 4096, 5);
    auto blocks = qtest::Encode(15, data);
    ASSERT_EQ(blocks.size(), 1u);
    blocks[0].data.pop_back();
    Decoder dec(15);
    std::vector<uint8_t> out;
    EXPECT_EQ(dec.frame(blocks[0].data, 20000, out), MDI_ERROR_FAILED);
    EXPECT_TRUE(out == data); // every byte was produced; the coder's final bits were missing
}

// All-zero input decodes as a longest match at a far offset before anything was written.
TEST_F(QuantumDecoder, MatchBeforeTheFolderStartFails)
{
    for (bool spill : {false, true}) {
        if (spill)
            Env::refuseFrom = 1u << 15;
        Decoder dec(15);
        ASSERT_EQ(dec.spill(), spill);
        std::vector<uint8_t> out;
        EXPECT_EQ(dec.frame(std::vector<uint8_t>(64, 0), 1000, out), MDI_ERROR_FAILED);
        EXPECT_EQ(out[0], 0xEE) << "stale window bytes were copied";
    }
}

TEST_F(QuantumDecoder, ForeignHandlesAreRefused)
{
    QuantumHandle foreign{};
    foreign.tag = 0x4349444D;
    std::vector<uint8_t> out(10);
    uint32_t size = 10;
    uint8_t src[4] = {};
    for (MDI_HANDLE h : {static_cast<MDI_HANDLE>(&foreign), MDI_HANDLE{}}) {
        EXPECT_EQ(QuantumDecompress(h, src, 4, out.data(), &size), MDI_ERROR_BAD_PARAMETERS);
        EXPECT_EQ(QuantumResetDecompression(h), MDI_ERROR_BAD_PARAMETERS);
        EXPECT_EQ(QuantumDestroyDecompression(h), MDI_ERROR_BAD_PARAMETERS);
    }
}

TEST_F(QuantumDecoder, OnlyOneDecoderAtATime)
{
    {
        Decoder first(15);
        ASSERT_EQ(first.created, 0);
        Decoder second(16);
        EXPECT_EQ(second.created, MDI_ERROR_NOT_ENOUGH_MEMORY);
        EXPECT_EQ(second.handle, nullptr);
        EXPECT_EQ(g_quantum.windowBits, 15); // the first decoder's state is untouched
    }
    EXPECT_EQ(Decoder(16).created, 0);
}

TEST_F(QuantumDecoder, CreationFailuresReleaseEverything)
{
    struct Case {
        const char* what;
        int32_t bits;
        uint32_t refuseFrom;
        int pageBuffers;
        bool refuseOpen;
        int opens, closes;
    };
    const Case cases[] = {
        {"no handle", 15, 1, -1, false, 0, 0},
        {"small window, no spill", 13, 1u << 13, -1, false, 0, 0},
        {"open refused", 14, 1u << 14, -1, true, 0, 0},
        {"two page buffers", 16, 1u << 16, 2, false, 1, 1},
    };
    for (const Case& c : cases) {
        Env::Reset();
        Env::refuseFrom = c.refuseFrom;
        Env::pageBuffers = c.pageBuffers;
        Env::refuseOpen = c.refuseOpen;
        Decoder dec(c.bits);
        EXPECT_EQ(dec.created, MDI_ERROR_NOT_ENOUGH_MEMORY) << c.what;
        EXPECT_EQ(dec.handle, nullptr) << c.what;
        EXPECT_EQ(Env::openCount, c.opens) << c.what;
        EXPECT_EQ(Env::closeCount, c.closes) << c.what;
        EXPECT_EQ(Env::liveBlocks, 0) << c.what;
    }
    EXPECT_EQ(Decoder(15).created, 0) << "the process-wide state was released";
}

TEST_F(QuantumDecoder, SpillFileStandsInForTheWindow)
{
    Env::refuseFrom = 1u << 17;
    {
        Decoder dec(17);
        ASSERT_EQ(dec.created, 0);
        EXPECT_TRUE(dec.spill());
        const char name[6] = {'*', 0, 0, 0, 2, 0}; // then the window size, little-endian
        EXPECT_EQ(std::memcmp(Env::lastName, name, 6), 0);
        EXPECT_EQ(Env::lastFlags, 0x8102);
        EXPECT_EQ(Env::lastMode, 0x180);
        EXPECT_EQ(Env::closeCount, 0);
    }
    EXPECT_EQ(Env::closeCount, 1);
}

// Three page buffers and a folder larger than the window: pages go to the spill file and
// come back from it. A failed transfer fails the call and every later one until a reset.
TEST_F(QuantumDecoder, SpillFileFailuresFailUntilReset)
{
    const auto data = qtest::MixedData(120000, 1u << 14, 7);
    const auto blocks = qtest::Encode(14, data);
    for (bool failRead : {false, true}) {
        Env::Reset();
        Env::refuseFrom = 1u << 14;
        Env::pageBuffers = 3;
        (failRead ? Env::failRead : Env::failWrite) = 1;
        Decoder dec(14);
        ASSERT_EQ(dec.created, 0);
        std::vector<uint8_t> out;
        EXPECT_EQ(dec.folder(blocks, out), MDI_ERROR_FAILED) << failRead;
        EXPECT_EQ(dec.frame(blocks[0].data, blocks[0].uncompressedSize, out), MDI_ERROR_FAILED);
        ASSERT_EQ(QuantumResetDecompression(dec.handle), 0);
        ASSERT_EQ(dec.folder(blocks, out), 0) << failRead;
        EXPECT_TRUE(out == data);
    }
}

// The last match of a folder copies from two pages other than the one being written, which
// leaves that page's buffer the oldest of three; the next folder must still decode.
TEST_F(QuantumDecoder, ResetAfterAMatchAcrossTwoPagesWithThreeBuffers)
{
    auto data = RandomBytes(9000, 11);
    data.insert(data.end(), data.begin() + 4000, data.begin() + 4259);
    const auto blocks = qtest::Encode(14, data);
    const auto next = qtest::MixedData(50000, 1u << 14, 12);
    const auto nextBlocks = qtest::Encode(14, next);

    Env::refuseFrom = 1u << 14;
    Env::pageBuffers = 3;
    Decoder dec(14);
    ASSERT_EQ(dec.created, 0);
    std::vector<uint8_t> out;
    ASSERT_EQ(dec.folder(blocks, out), 0);
    ASSERT_TRUE(out == data);
    ASSERT_EQ(g_quantum.oldest, g_quantum.currentPage);
    ASSERT_EQ(QuantumResetDecompression(dec.handle), 0);
    ASSERT_EQ(dec.folder(nextBlocks, out), 0);
    EXPECT_TRUE(out == next);
}

} // namespace
