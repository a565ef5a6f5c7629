// Round trips: folders made by the writer's Quantum encoder, decoded frame by frame through
// the decoder's four operations, with the window in memory and in the spill file.
#include <gtest/gtest.h>

#include "cab/decoders/quantum_harness.h"

namespace {

using qtest::Decoder;
using qtest::Env;

enum class Mode { Memory, Spill, SpillThreeBuffers };

struct RoundTrip : ::testing::TestWithParam<std::tuple<int, Mode>> {
    void SetUp() override { Env::Reset(); }
    void TearDown() override { EXPECT_EQ(Env::liveBlocks, 0); }
};

TEST_P(RoundTrip, FoldersOfManySizesDecodeExactly)
{
    const auto [bits, mode] = GetParam();
    const uint32_t window = 1u << bits;
    if (mode != Mode::Memory) {
        Env::refuseFrom = window;
        if (mode == Mode::SpillThreeBuffers)
            Env::pageBuffers = 3;
    }
    Decoder dec(bits);
    ASSERT_EQ(dec.created, MDI_ERROR_NO_ERROR);
    ASSERT_EQ(dec.spill(), mode != Mode::Memory);

    // The first folder reaches back a whole window; the others end in frames of every kind
    // of size, each one after a reset.
    const size_t big = std::max<size_t>(3 * window, 200000);
    const size_t sizes[] = {big, 1, 2, 3, 259, 4096, 4097, 32767, 32768, 32769, 65536 + 12345};
    uint32_t seed = 1;
    bool first = true;
    for (size_t size : sizes) {
        const auto data = qtest::MixedData(size, window, seed++);
        const auto blocks = qtest::Encode(bits, data);
        if (!first) {
            ASSERT_EQ(QuantumResetDecompression(dec.handle), MDI_ERROR_NO_ERROR);
        }
        first = false;
        std::vector<uint8_t> out;
        ASSERT_EQ(dec.folder(blocks, out), MDI_ERROR_NO_ERROR) << "size " << size;
        ASSERT_TRUE(out == data) << "size " << size;
    }
    if (mode == Mode::SpillThreeBuffers) {
        EXPECT_GT(Env::file.size(), 0u);
    }
}

std::vector<std::tuple<int, Mode>> Cases()
{
    std::vector<std::tuple<int, Mode>> cases;
    for (int bits = 10; bits <= 21; ++bits) {
        cases.emplace_back(bits, Mode::Memory);
        if (bits >= 14) {
            cases.emplace_back(bits, Mode::Spill);
            cases.emplace_back(bits, Mode::SpillThreeBuffers);
        }
    }
    return cases;
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<int, Mode>>& info)
{
    static const char* const kModes[] = {"Memory", "Spill", "SpillThreeBuffers"};
    return "Bits" + std::to_string(std::get<0>(info.param)) + kModes[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Exponents, RoundTrip, ::testing::ValuesIn(Cases()), CaseName);

// Every kind of item and many model reorders occur in the data the round trips use.
TEST(QuantumEncoder, UsesEveryItemKindAndCompresses)
{
    const auto data = qtest::MixedData(600000, 1u << 16, 3);
    const auto blocks = qtest::Encode(16, data);
    size_t packed = 0;
    for (const auto& b : blocks) {
        packed += b.data.size();
        EXPECT_LE(b.data.size(), 32768u + 10240u);
    }
    EXPECT_LT(packed, data.size() / 2);

    // A model that never coded a symbol still holds its initial total; the selector and
    // the literal models have been reordered.
    Env::Reset();
    Decoder dec(16);
    std::vector<uint8_t> out;
    ASSERT_EQ(dec.folder(blocks, out), 0);
    EXPECT_TRUE(out == data);
    const quantum::Models& m = g_quantum.models;
    for (const quantum::Model* model : {&m.length, &m.position3, &m.position4, &m.positionLong})
        EXPECT_NE(model->cumFreq[0], static_cast<uint32_t>(model->symbols));
    for (const quantum::Model* model : {&m.selector, &m.literal[0], &m.literal[1], &m.literal[2], &m.literal[3]})
        EXPECT_GT(model->updatesLeft, 4);
}

TEST(QuantumEncoder, IncompressibleFramesFitTheInputBuffer)
{
    std::mt19937 rng(9);
    std::vector<uint8_t> data(100000);
    for (auto& b : data)
        b = static_cast<uint8_t>(rng());
    const auto blocks = qtest::Encode(21, data);
    ASSERT_EQ(blocks.size(), 4u);
    for (const auto& b : blocks)
        EXPECT_LE(b.data.size(), 32768u + 10240u);
    Env::Reset();
    Decoder dec(21);
    std::vector<uint8_t> out;
    ASSERT_EQ(dec.folder(blocks, out), 0);
    EXPECT_TRUE(out == data);
}

} // namespace
