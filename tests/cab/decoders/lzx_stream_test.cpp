// Hand-built LZX streams for what a round trip through the writer cannot show: the exact
// pretree coding, the E8 translation rules, padding, limits and refused input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "cab/decoders/lzx.h"
#include "cab/decoders/lzx_format.h"
#include "support/lzx_decoder.h"
#include "tools/cabwriter/lzx_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// 16-bit little-endian words filled from the most significant bit.
class Bits {
public:
    Bits& Put(uint32_t value, int n)
    {
        for (int i = n - 1; i >= 0; --i) {
            word_ = static_cast<uint16_t>((word_ << 1) | (i < 32 ? (value >> i) & 1 : 0));
            if (++count_ == 16)
                Flush();
        }
        return *this;
    }
    // Pads to the word boundary: the header of an uncompressed block is followed by 1 to 16
    // bits of padding.
    Bits& PadForUncompressed()
    {
        return Put(0, 16 - count_);
    }
    Bits& Raw(const Bytes& raw)
    {
        EXPECT_EQ(count_, 0);
        bytes_.insert(bytes_.end(), raw.begin(), raw.end());
        return *this;
    }
    size_t bitCount() const { return bytes_.size() * 8 + count_; }
    Bytes Done()
    {
        if (count_)
            Put(0, 16 - count_);
        return bytes_;
    }

private:
    void Flush()
    {
        bytes_.push_back(static_cast<uint8_t>(word_));
        bytes_.push_back(static_cast<uint8_t>(word_ >> 8));
        word_ = 0;
        count_ = 0;
    }
    Bytes bytes_;
    uint16_t word_ = 0;
    int count_ = 0;
};

constexpr int kWindowBits = 15;
constexpr int kMatchEntries = 8 * 30;  // position slots of a 2^15 window

std::vector<uint16_t> CanonicalCodes(const Bytes& lengths)
{
    std::vector<uint16_t> codes(lengths.size());
    uint32_t code = 0;
    for (int len = 1; len <= 16; ++len, code <<= 1)
        for (size_t i = 0; i < lengths.size(); ++i)
            if (lengths[i] == len)
                codes[i] = static_cast<uint16_t>(code++);
    return codes;
}

void E8Header(Bits& b, uint32_t fileSize)
{
    b.Put(fileSize != 0, 1);
    if (fileSize)
        b.Put(fileSize >> 16, 16).Put(fileSize & 0xFFFF, 16);
}

void BlockHeader(Bits& b, int type, uint32_t size)
{
    b.Put(type, 3).Put(size >> 16, 8).Put((size >> 8) & 0xFF, 8).Put(size & 0xFF, 8);
}

// A list whose pretree has every length 0: each entry keeps its previous length.
void UnchangedList(Bits& b)
{
    b.Put(0, 20 * 4);
}

// A list sent entry by entry through a pretree of the 16 changes 0 and 2 to 16, 4 bits each
// (lengths 0 to 15 over previous lengths of 0).
void PlainList(Bits& b, const Bytes& lengths)
{
    Bytes pre(20, 4);
    pre[1] = pre[17] = pre[18] = pre[19] = 0;
    for (uint8_t len : pre)
        b.Put(len, 4);
    const auto codes = CanonicalCodes(pre);
    for (uint8_t len : lengths)
        b.Put(codes[(17 - len) % 17], 4);
}

// Main tree lists for a block over previous lengths of 0.
void MainTree(Bits& b, const Bytes& literals, const Bytes& matches)
{
    PlainList(b, literals);
    if (matches.empty())
        UnchangedList(b);
    else
        PlainList(b, matches);
}

Bytes Lengths(size_t n, std::initializer_list<std::pair<int, int>> set)
{
    Bytes v(n, 0);
    for (auto [sym, len] : set)
        v[sym] = static_cast<uint8_t>(len);
    return v;
}

Bytes UncompressedFrame(const Bytes& data, uint32_t e8FileSize)
{
    Bits b;
    E8Header(b, e8FileSize);
    BlockHeader(b, 3, static_cast<uint32_t>(data.size()));
    b.PadForUncompressed();
    b.Raw({1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}).Raw(data);
    return b.Done();
}

TEST(LzxFormat, PositionSlotsPerWindow)
{
    const int expected[] = {30, 32, 34, 36, 38, 42, 50};
    for (int bits = 15; bits <= 21; ++bits)
        EXPECT_EQ(lzx::SlotCount(1u << bits), expected[bits - 15]) << bits;
}

TEST(LzxStream, E8Translation)
{
    auto with = [&](std::initializer_list<std::pair<int, Bytes>> parts, size_t n = 16) {
        Bytes v(n, 0x00);
        for (const auto& [at, bytes] : parts)
            std::copy(bytes.begin(), bytes.end(), v.begin() + at);
        return v;
    };
    struct Case {
        const char* what;
        uint32_t fileSize;
        Bytes in, out;
    } cases[] = {
        {"operand below the file size", 65536, with({{0, {0x90, 0x90, 0xE8, 0x10, 0, 0, 0}}}),
         with({{0, {0x90, 0x90, 0xE8, 0x0E, 0, 0, 0}}})},
        {"small negative operand", 65536, with({{4, {0xE8, 0xFE, 0xFF, 0xFF, 0xFF}}}),
         with({{4, {0xE8, 0xFE, 0xFF, 0x00, 0x00}}})},
        {"negative operand beyond the position", 65536, with({{4, {0xE8, 0xF0, 0xFF, 0xFF, 0xFF}}}),
         with({{4, {0xE8, 0xF0, 0xFF, 0xFF, 0xFF}}})},
        {"operand equal to the file size", 65536, with({{4, {0xE8, 0, 0, 1, 0}}}),
         with({{4, {0xE8, 0, 0, 1, 0}}})},
        {"frame under 6 bytes", 65536, with({{1, {0xE8, 0x10}}}, 5), with({{1, {0xE8, 0x10}}}, 5)},
        {"0xE8 in the last six bytes", 65536, with({{10, {0xE8, 0x10, 0, 0, 0}}}),
         with({{10, {0xE8, 0x10, 0, 0, 0}}})},
        // The operand runs into the last six bytes, which read as 0xE8 and stay as they were.
        {"operand overlapping the end", 0xF0000000u, with({{8, {0xE8, 0x10, 0x11, 0x12, 0x13}}}),
         with({{8, {0xE8, 0x08, 0x11, 0x12, 0x13}}})},
        {"scan resumes after the operand", 65536,
         with({{0, {0xE8, 0xE8, 0, 0, 0, 0xE8, 0x10, 0, 0, 0}}}),
         with({{0, {0xE8, 0xE8, 0, 0, 0, 0xE8, 0x0B, 0, 0, 0}}})},
    };
    for (const Case& c : cases) {
        LzxTestDecoder decoder(kWindowBits);
        Bytes out;
        ASSERT_EQ(decoder.Frame(UncompressedFrame(c.in, c.fileSize), static_cast<uint32_t>(c.in.size()), &out),
                  MDI_ERROR_NO_ERROR)
            << c.what;
        EXPECT_EQ(out, c.out) << c.what;
    }
}

TEST(LzxStream, E8TranslationEndsAfter32768Frames)
{
    const Bytes call = {0x90, 0xE8, 0x10, 0, 0, 0, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90};
    for (int emptyFrames : {32767, 32768}) {
        LzxTestDecoder decoder(kWindowBits);
        for (int i = 0; i < emptyFrames; ++i)
            ASSERT_EQ(decoder.Frame({}, 0), MDI_ERROR_NO_ERROR);
        Bytes out;
        ASSERT_EQ(decoder.Frame(UncompressedFrame(call, 65536), 12, &out), MDI_ERROR_NO_ERROR);
        EXPECT_EQ(out[2], emptyFrames == 32767 ? 0x0F : 0x10) << emptyFrames;
    }
}

TEST(LzxStream, FrameSizeLimits)
{
    LzxTestDecoder decoder(kWindowBits);
    const Bytes frame = UncompressedFrame({'a', 'b', 'c'}, 0);
    EXPECT_EQ(decoder.Frame(frame, 32769), MDI_ERROR_BUFFER_OVERFLOW);
    // A frame of size 0 reads nothing, not even the pending E8 header.
    EXPECT_EQ(decoder.Frame(frame, 0), MDI_ERROR_NO_ERROR);
    Bytes out;
    EXPECT_EQ(decoder.Frame(frame, 3, &out), MDI_ERROR_NO_ERROR);
    EXPECT_EQ(out, (Bytes{'a', 'b', 'c'}));
}

TEST(LzxStream, PretreeRunsAndUnchangedLists)
{
    Bits b;
    E8Header(b, 0);

    // Block 1: 'A' and 'B' get 1-bit codes; the pretree codes 18 as 0, 16 as 10, 17 as 11.
    BlockHeader(b, 1, 4);
    Bytes pre(20, 0);
    pre[18] = 1;
    pre[16] = pre[17] = 2;
    for (uint8_t len : pre)
        b.Put(len, 4);
    b.Put(0, 1).Put(31, 5);              // 51 zeros
    b.Put(3, 2).Put(10, 4);              // 14 zeros: entries 0 to 64
    b.Put(2, 2).Put(2, 2);               // 'A', 'B': (0 - 16) mod 17 = 1
    for (int i = 0; i < 4; ++i)
        b.Put(0, 1).Put(31, 5);          // 189 zeros left; the last run stops at the end
    UnchangedList(b);
    UnchangedList(b);
    b.Put(0b0110, 4);                    // A B B A

    // Block 2: 'A' to 'D' get 2-bit codes through run 19; pretree 16..19 as 00..11.
    BlockHeader(b, 1, 4);
    pre.assign(20, 0);
    pre[16] = pre[17] = pre[18] = pre[19] = 2;
    for (uint8_t len : pre)
        b.Put(len, 4);
    b.Put(2, 2).Put(31, 5);              // 51 zeros
    b.Put(1, 2).Put(10, 4);              // 14 zeros
    b.Put(3, 2).Put(0, 1).Put(0, 2);     // 4 entries of (previous of 'A' - 16) mod 17 = 2
    b.Put(3, 2).Put(1, 1).Put(1, 2);     // 19 then 17: 5 zeros
    b.Put(3, 2).Put(0, 1).Put(2, 2);     // 19 then 18: 4 zeros
    b.Put(3, 2).Put(1, 1).Put(3, 2);     // 19 then 19: 5 zeros
    for (int i = 0; i < 3; ++i)
        b.Put(2, 2).Put(31, 5);          // 153 zeros
    b.Put(2, 2).Put(0, 5);               // the last 20
    UnchangedList(b);
    UnchangedList(b);
    b.Put(0b00011011, 8);                // A B C D

    // Block 3: every list unchanged, so 'A' to 'D' keep their codes.
    BlockHeader(b, 1, 2);
    UnchangedList(b);
    UnchangedList(b);
    UnchangedList(b);
    b.Put(0b1110, 4);                    // D C

    LzxTestDecoder decoder(kWindowBits);
    Bytes out;
    ASSERT_EQ(decoder.Frame(b.Done(), 10, &out), MDI_ERROR_NO_ERROR);
    EXPECT_EQ(std::string(out.begin(), out.end()), "ABBAABCDDC");
}

// A verbatim block whose main tree holds 'A' and the match of length 9 at offset 1 (slot 3,
// length header 7, length tree empty), both with 1-bit codes.
Bytes RunOfAs(uint32_t blockSize, bool matchFirst)
{
    Bits b;
    E8Header(b, 0);
    BlockHeader(b, 1, blockSize);
    MainTree(b, Lengths(256, {{'A', 1}}), Lengths(kMatchEntries, {{3 * 8 + 7, 1}}));
    UnchangedList(b);
    if (!matchFirst)
        b.Put(0, 1);
    b.Put(1, 1);
    return b.Done();
}

TEST(LzxStream, MatchesStayInsideTheFrameAndTheFolder)
{
    struct Case {
        const char* what;
        bool matchFirst;
        uint32_t frameSize;
        int rc;
    } cases[] = {
        {"match ending at the frame end", false, 10, MDI_ERROR_NO_ERROR},
        {"match ending one byte past the frame end", false, 9, MDI_ERROR_FAILED},
        {"match reaching back before the folder", true, 9, MDI_ERROR_FAILED},
    };
    for (const Case& c : cases) {
        LzxTestDecoder decoder(kWindowBits);
        Bytes out;
        EXPECT_EQ(decoder.Frame(RunOfAs(100, c.matchFirst), c.frameSize, &out), c.rc) << c.what;
        if (c.rc == MDI_ERROR_NO_ERROR) {
            EXPECT_EQ(out, Bytes(10, 'A'));
        }
    }
}

TEST(LzxStream, MatchReachesBackOnlyIntoTheSameFolder)
{
    // The window still holds the previous folder's bytes after a reset; they must not leak.
    LzxTestDecoder decoder(kWindowBits);
    ASSERT_EQ(decoder.Frame(UncompressedFrame(Bytes(40, 'x'), 0), 40), MDI_ERROR_NO_ERROR);
    decoder.Reset();
    EXPECT_EQ(decoder.Frame(RunOfAs(100, true), 9), MDI_ERROR_FAILED);
}

TEST(LzxStream, RefusedBlockHeadersAndCodes)
{
    auto header = [](int type) {
        Bits b;
        E8Header(b, 0);
        BlockHeader(b, type, 10);
        b.Put(0, 64);
        return b.Done();
    };
    auto verbatim = [](const Bytes& literals) {
        Bits b;
        E8Header(b, 0);
        BlockHeader(b, 1, 10);
        MainTree(b, literals, {});
        UnchangedList(b);
        b.Put(0, 32);
        return b.Done();
    };
    auto aligned = [](const Bytes& alignedLengths) {
        Bits b;
        E8Header(b, 0);
        BlockHeader(b, 2, 10);
        for (uint8_t len : alignedLengths)
            b.Put(len, 3);
        MainTree(b, Lengths(256, {{'A', 1}, {'B', 1}}), {});
        UnchangedList(b);
        b.Put(0, 32);
        return b.Done();
    };
    Bytes cut = verbatim(Lengths(256, {{'A', 1}, {'B', 1}}));
    cut.resize(40);
    Bits badPretree;
    E8Header(badPretree, 0);
    BlockHeader(badPretree, 1, 10);
    badPretree.Put(1, 4).Put(0, 19 * 4).Put(0, 64);

    struct Case {
        const char* what;
        Bytes stream;
        int rc;
    } cases[] = {
        {"type 0", header(0), MDI_ERROR_FAILED},
        {"type 4", header(4), MDI_ERROR_FAILED},
        {"type 5", header(5), MDI_ERROR_FAILED},
        {"type 6", header(6), MDI_ERROR_FAILED},
        {"type 7", header(7), MDI_ERROR_FAILED},
        {"incomplete main tree", verbatim(Lengths(256, {{'A', 1}})), MDI_ERROR_FAILED},
        {"over-subscribed main tree", verbatim(Lengths(256, {{'A', 1}, {'B', 1}, {'C', 1}})), MDI_ERROR_FAILED},
        {"incomplete pretree", badPretree.Done(), MDI_ERROR_FAILED},
        {"incomplete aligned tree", aligned({1, 0, 0, 0, 0, 0, 0, 0}), MDI_ERROR_FAILED},
        {"complete trees", verbatim(Lengths(256, {{'A', 1}, {'B', 1}})), MDI_ERROR_NO_ERROR},
        {"all-zero aligned tree", aligned(Bytes(8, 0)), MDI_ERROR_NO_ERROR},
        {"tree cut short", cut, MDI_ERROR_FAILED},
    };
    for (const Case& c : cases) {
        LzxTestDecoder decoder(kWindowBits);
        Bytes out;
        EXPECT_EQ(decoder.Frame(c.stream, 10, &out), c.rc) << c.what;
        if (c.rc == MDI_ERROR_NO_ERROR) {
            EXPECT_EQ(out, Bytes(10, 'A')) << c.what;
        }
    }
}

TEST(LzxStream, UncompressedBlockAfterHeaderOnAWordBoundary)
{
    // Literals of 1 bit put the uncompressed header's end anywhere; when it ends on a word
    // boundary a whole word of padding follows.
    for (int shift = 0; shift < 2; ++shift) {
        Bits probe;
        E8Header(probe, 0);
        BlockHeader(probe, 1, 0);
        MainTree(probe, Lengths(256, {{'A', 1}, {'B', 1}}), {});
        UnchangedList(probe);
        const size_t before = probe.bitCount() + 27;
        const int literals = static_cast<int>((16 - before % 16) % 16) + 16 + shift;

        Bits b;
        E8Header(b, 0);
        BlockHeader(b, 1, literals);
        MainTree(b, Lengths(256, {{'A', 1}, {'B', 1}}), {});
        UnchangedList(b);
        b.Put(0, literals);
        BlockHeader(b, 3, 3);
        EXPECT_EQ(b.bitCount() % 16 == 0, shift == 0);
        b.PadForUncompressed();
        b.Raw({1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 'x', 'y', 'z'});

        LzxTestDecoder decoder(kWindowBits);
        Bytes out;
        ASSERT_EQ(decoder.Frame(b.Done(), literals + 3, &out), MDI_ERROR_NO_ERROR) << shift;
        Bytes expected(literals, 'A');
        expected.insert(expected.end(), {'x', 'y', 'z'});
        EXPECT_EQ(out, expected) << shift;
    }
}

TEST(LzxStream, UncompressedBlockMustHoldItsOffsetsAndBytes)
{
    struct Case {
        const char* what;
        size_t keep;       // bytes of the frame handed over
        uint32_t frameSize;
        int rc;
    } cases[] = {
        {"whole block", 4 + 12 + 5, 5, MDI_ERROR_NO_ERROR},
        {"data cut short", 4 + 12 + 4, 5, MDI_ERROR_FAILED},
        {"offsets cut short", 4 + 11, 0 + 1, MDI_ERROR_FAILED},
        {"nothing after the header", 4, 1, MDI_ERROR_FAILED},
    };
    for (const Case& c : cases) {
        Bytes frame = UncompressedFrame({'h', 'e', 'l', 'l', 'o'}, 0);
        frame.resize(c.keep);
        LzxTestDecoder decoder(kWindowBits);
        EXPECT_EQ(decoder.Frame(frame, c.frameSize), c.rc) << c.what;
    }
}

// Allocation callbacks that fail the n-th request and count what is outstanding.
int g_allocations = 0, g_failAt = 0, g_live = 0;
void* CountingAlloc(uint32_t cb)
{
    if (++g_allocations == g_failAt)
        return nullptr;
    ++g_live;
    return std::malloc(cb);
}
void CountingFree(void* pv)
{
    --g_live;
    std::free(pv);
}

int Create(uint32_t window, MDI_HANDLE* handle, uint32_t* srcMin = nullptr)
{
    uint32_t blockMax = 32768, size = 0;
    return LZXCreateDecompression(&blockMax, &window, CountingAlloc, CountingFree,
                                  srcMin ? srcMin : &size, handle, nullptr, nullptr, nullptr,
                                  nullptr, nullptr);
}

TEST(LzxCreate, WindowSizes)
{
    struct Case {
        uint32_t window;
        int rc;
    } cases[] = {
        {1u << 14, MDI_ERROR_CONFIGURATION}, {1u << 15, MDI_ERROR_NO_ERROR},
        {1u << 18, MDI_ERROR_NO_ERROR},      {1u << 21, MDI_ERROR_NO_ERROR},
        {1u << 22, MDI_ERROR_CONFIGURATION}, {3u << 15, MDI_ERROR_NOT_ENOUGH_MEMORY},
        {0, MDI_ERROR_NOT_ENOUGH_MEMORY},
    };
    for (const Case& c : cases) {
        g_failAt = 0;
        MDI_HANDLE handle = nullptr;
        EXPECT_EQ(Create(c.window, &handle), c.rc) << c.window;
        EXPECT_EQ(handle != nullptr, c.rc == MDI_ERROR_NO_ERROR);
        if (handle) {
            EXPECT_EQ(LZXDestroyDecompression(handle), MDI_ERROR_NO_ERROR);
        }
        EXPECT_EQ(g_live, 0);
    }
}

TEST(LzxCreate, SizeQueryAndAllocationFailures)
{
    g_allocations = g_failAt = 0;
    uint32_t srcMin = 0;
    EXPECT_EQ(Create(1u << 16, nullptr, &srcMin), MDI_ERROR_NO_ERROR);
    EXPECT_EQ(srcMin, 32768u + 6144u);
    EXPECT_EQ(g_allocations, 0);

    for (int failAt = 1; failAt <= 3; ++failAt) {
        g_allocations = 0;
        g_failAt = failAt;
        MDI_HANDLE handle = reinterpret_cast<MDI_HANDLE>(1);
        EXPECT_EQ(Create(1u << 16, &handle), MDI_ERROR_NOT_ENOUGH_MEMORY) << failAt;
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(g_live, 0) << failAt;
    }
    g_failAt = 0;
}

TEST(LzxCreate, ForeignHandlesAreRefused)
{
    uint32_t notAHandle[16] = {0x4349444D};
    uint8_t byte = 0;
    uint32_t size = 1;
    EXPECT_EQ(LZXDecompress(notAHandle, &byte, 1, &byte, &size), MDI_ERROR_BAD_PARAMETERS);
    EXPECT_EQ(LZXResetDecompression(notAHandle), MDI_ERROR_BAD_PARAMETERS);
    EXPECT_EQ(LZXDestroyDecompression(notAHandle), MDI_ERROR_BAD_PARAMETERS);
    EXPECT_EQ(LZXDestroyDecompression(nullptr), MDI_ERROR_BAD_PARAMETERS);
}

TEST(LzxStream, DamagedFramesFailCleanly)
{
    // Bytes from the writer, then flipped, cut or replaced: every call either succeeds or
    // fails with 4, and never reads or writes out of bounds (see the sanitizer build).
    std::mt19937 rng(5);
    Bytes data(100000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i % 251 < 120 ? "lzx frame "[i % 10] : rng());
    cabwriter::LzxOptions options;
    options.windowBits = 15;
    options.e8 = true;
    options.blocks = cabwriter::LzxOptions::Blocks::Rotate;
    options.blockSizes = {20001};
    const auto blocks = cabwriter::MakeLzxEncoder(options)->encodeFolder(data.data(), data.size());
    for (int trial = 0; trial < 300; ++trial) {
        LzxTestDecoder decoder(15);
        const size_t damaged = rng() % blocks.size();
        for (size_t i = 0; i < blocks.size(); ++i) {
            Bytes src = blocks[i].data;
            if (i == damaged) {
                switch (trial % 3) {
                case 0:
                    for (int k = 0; k < 4; ++k)
                        src[rng() % src.size()] ^= static_cast<uint8_t>(1 << (rng() % 8));
                    break;
                case 1:
                    src.resize(rng() % src.size());
                    break;
                default:
                    for (auto& byte : src)
                        byte = static_cast<uint8_t>(rng());
                }
            }
            const int rc = decoder.Frame(src, blocks[i].uncompressedSize);
            ASSERT_TRUE(rc == MDI_ERROR_NO_ERROR || rc == MDI_ERROR_FAILED) << rc;
            if (rc != MDI_ERROR_NO_ERROR)
                break;
        }
    }
}

}  // namespace
