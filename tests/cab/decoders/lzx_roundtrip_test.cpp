// Round trips through the writer's LZX encoder and the decoder's four operations, one data
// block per call, without a cabinet around them.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/lzx_decoder.h"
#include "tools/cabwriter/lzx_encoder.h"

namespace {

using cabwriter::LzxOptions;
using Blocks = LzxOptions::Blocks;

// Decodes a folder's blocks in order; stops at the first failing block.
std::vector<uint8_t> DecodeFolder(LzxTestDecoder& decoder,
                                  const std::vector<cabwriter::EncodedBlock>& blocks)
{
    std::vector<uint8_t> out, frame;
    for (const auto& block : blocks) {
        const int rc = decoder.Frame(block.data, block.uncompressedSize, &frame);
        EXPECT_EQ(rc, MDI_ERROR_NO_ERROR);
        if (rc != MDI_ERROR_NO_ERROR)
            break;
        out.insert(out.end(), frame.begin(), frame.end());
    }
    return out;
}

std::vector<uint8_t> Text(size_t size, uint32_t seed = 1)
{
    static const char* words[] = {"update ", "package ", "folder ", "client ", "the ", "of ",
                                  "cabinet ", "window ", "\r\n", "frame ", "block ", "42 "};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < size)
        s += words[rng() % 12];
    s.resize(size);
    return {s.begin(), s.end()};
}

std::vector<uint8_t> Noise(size_t size, uint32_t seed = 7)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(size);
    for (auto& b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

// Code-like bytes: CALLs of a few routines (relative operands) between other opcodes.
std::vector<uint8_t> Code(size_t size, uint32_t seed = 3)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v;
    while (v.size() < size) {
        if (rng() % 4 == 0) {
            const int32_t target = static_cast<int32_t>(rng() % 64) * 4096;
            const int32_t rel = target - static_cast<int32_t>(v.size());
            v.push_back(0xE8);
            for (int k = 0; k < 4; ++k)
                v.push_back(static_cast<uint8_t>(static_cast<uint32_t>(rel) >> (8 * k)));
        } else {
            static const uint8_t ops[] = {0x55, 0x8B, 0xEC, 0x83, 0xC4, 0x5D, 0xC3, 0x90};
            v.push_back(ops[rng() % 8]);
        }
    }
    v.resize(size);
    return v;
}

std::vector<uint8_t> RoundTrip(const std::vector<uint8_t>& data, const LzxOptions& options)
{
    auto encoder = cabwriter::MakeLzxEncoder(options);
    const auto blocks = encoder->encodeFolder(data.data(), data.size());
    for (size_t i = 0; i + 1 < blocks.size(); ++i)
        EXPECT_EQ(blocks[i].uncompressedSize, 32768u);
    LzxTestDecoder decoder(options.windowBits);
    return DecodeFolder(decoder, blocks);
}

LzxOptions Options(int bits, Blocks blocks, std::vector<uint32_t> sizes = {1u << 17}, bool e8 = false)
{
    LzxOptions options;
    options.windowBits = bits;
    options.blocks = blocks;
    options.blockSizes = std::move(sizes);
    options.e8 = e8;
    return options;
}

TEST(LzxRoundTrip, EveryWindowSize)
{
    // Long enough for the small windows to wrap many times.
    const auto data = Text(300000);
    for (int bits = 15; bits <= 21; ++bits)
        EXPECT_EQ(RoundTrip(data, Options(bits, Blocks::Best)), data) << "window 2^" << bits;
}

TEST(LzxRoundTrip, BlockTypesAloneAndMixed)
{
    auto data = Text(150000);
    const auto code = Code(60000);
    data.insert(data.end(), code.begin(), code.end());
    struct Case {
        Blocks blocks;
        std::vector<uint32_t> sizes;
    } cases[] = {
        {Blocks::Verbatim, {100000}},           // blocks spanning several frames
        {Blocks::Aligned, {100000}},
        {Blocks::Uncompressed, {100000}},
        {Blocks::Verbatim, {777}},              // many blocks per frame
        {Blocks::Aligned, {4095}},
        {Blocks::Uncompressed, {333}},          // odd sizes: a pad byte after each
        {Blocks::Rotate, {1001, 40001, 3}},     // odd uncompressed blocks before coded ones
        {Blocks::Rotate, {1, 32767}},           // odd uncompressed block ending a frame
        {Blocks::Rotate, {32768}},              // block ends on frame ends
    };
    for (const Case& c : cases)
        for (int bits : {15, 17, 21})
            EXPECT_EQ(RoundTrip(data, Options(bits, c.blocks, c.sizes)), data)
                << "blocks " << static_cast<int>(c.blocks) << " first size " << c.sizes[0]
                << " window 2^" << bits;
}

TEST(LzxRoundTrip, EmptyBlocksBeforeEveryBlock)
{
    const auto data = Text(80000);
    for (Blocks blocks : {Blocks::Verbatim, Blocks::Aligned, Blocks::Uncompressed, Blocks::Rotate}) {
        LzxOptions options = Options(16, blocks, {5001, 30000});
        options.emptyBlocks = true;
        EXPECT_EQ(RoundTrip(data, options), data) << static_cast<int>(blocks);
    }
}

TEST(LzxRoundTrip, DataLengthsAroundTheFrameSize)
{
    for (size_t size : {0, 1, 5, 6, 7, 11, 32767, 32768, 32769, 65535, 65536, 65537}) {
        const auto data = Code(size, static_cast<uint32_t>(size));
        for (bool e8 : {false, true})
            for (Blocks blocks : {Blocks::Best, Blocks::Rotate})
                EXPECT_EQ(RoundTrip(data, Options(15, blocks, {20000}, e8)), data)
                    << "size " << size << " e8 " << e8;
    }
}

TEST(LzxRoundTrip, E8TranslationOnAndOff)
{
    const auto data = Code(200000);
    size_t sizes[2];
    for (bool e8 : {false, true}) {
        const LzxOptions options = Options(17, Blocks::Rotate, {50000}, e8);
        EXPECT_EQ(RoundTrip(data, options), data) << "e8 " << e8;
        size_t total = 0;
        for (const auto& b : cabwriter::MakeLzxEncoder(Options(17, Blocks::Best, {1u << 17}, e8))
                                 ->encodeFolder(data.data(), data.size()))
            total += b.data.size();
        sizes[e8] = total;
    }
    // Relative CALL targets become absolute and repeat: the translation must pay off.
    EXPECT_LT(sizes[1], sizes[0]);
}

TEST(LzxRoundTrip, IncompressibleDataAndLongDistances)
{
    // Noise repeated 200000 bytes later: a window of 2^18 reaches back, 2^17 does not.
    const auto noise = Noise(200000);
    std::vector<uint8_t> data(noise);
    data.insert(data.end(), noise.begin(), noise.end());
    for (int bits : {17, 18}) {
        auto encoder = cabwriter::MakeLzxEncoder(Options(bits, Blocks::Best));
        const auto blocks = encoder->encodeFolder(data.data(), data.size());
        size_t total = 0;
        for (const auto& b : blocks)
            total += b.data.size();
        LzxTestDecoder decoder(bits);
        EXPECT_EQ(DecodeFolder(decoder, blocks), data);
        // 2^18 finds the repeat; 2^17 stores the noise with little overhead.
        EXPECT_LT(total, bits == 18 ? noise.size() + 2000 : data.size() + 100);
    }
}

TEST(LzxRoundTrip, FolderRestartedByResetDecodesAgain)
{
    const auto first = Code(100000, 11);
    const auto second = Text(90000, 12);
    const LzxOptions options = Options(16, Blocks::Rotate, {30001}, true);
    const auto blocksA = cabwriter::MakeLzxEncoder(options)->encodeFolder(first.data(), first.size());
    const auto blocksB = cabwriter::MakeLzxEncoder(options)->encodeFolder(second.data(), second.size());
    LzxTestDecoder decoder(16);
    // A file listed out of order makes the reader start the folder again midway.
    EXPECT_EQ(DecodeFolder(decoder, {blocksA.begin(), blocksA.begin() + 2}),
              std::vector<uint8_t>(first.begin(), first.begin() + 65536));
    decoder.Reset();
    EXPECT_EQ(DecodeFolder(decoder, blocksA), first);
    decoder.Reset();
    EXPECT_EQ(DecodeFolder(decoder, blocksB), second);
}

}  // namespace
