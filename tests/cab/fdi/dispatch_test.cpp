// The decompressor dispatch: which decoder a typeCompress word gets, when it is replaced or
// kept, the buffers it comes with, and stored blocks.
#include <gtest/gtest.h>

#include <cstring>

#include "cab/decoders/dispatch.h"
#include "support/memfs.h"

namespace {

class Dispatch : public ::testing::Test {
protected:
    DecoderCallbacks callbacks{memfs::Alloc, memfs::Free, memfs::Open, memfs::Read,
                               memfs::Write, memfs::Close, memfs::Seek};
    Decompressor dec{};

    void SetUp() override {
        memfs::Reset();
        InitDecompressor(dec, &callbacks);
    }
    void TearDown() override {
        EXPECT_EQ(DestroyDecompressor(dec), FDIERROR_NONE);
        EXPECT_EQ(memfs::LiveBlocks(), 0);
    }
};

TEST_F(Dispatch, BufferSizesFollowTheMethod) {
    struct Case {
        uint16_t typeCompress;
        uint32_t cbSrcBufferMin;
    } cases[] = {{0x0000, 32768}, {0x0001, 32780}, {0x0F03, 32768 + 6144}, {0x0F02, 32768 + 10240}};
    for (const Case& c : cases) {
        ASSERT_EQ(SetDecompressor(dec, c.typeCompress), FDIERROR_NONE) << c.typeCompress;
        EXPECT_EQ(dec.typeCompress, c.typeCompress);
        EXPECT_EQ(dec.cbDataBlockMax, 32768u);
        EXPECT_EQ(dec.cbSrcBufferMin, c.cbSrcBufferMin) << c.typeCompress;
        EXPECT_NE(dec.pbSrc, nullptr);
        EXPECT_NE(dec.pbDst, nullptr);
        EXPECT_EQ(ResetDecompressor(dec), FDIERROR_NONE);
    }
}

TEST_F(Dispatch, DecoderIsReplacedOnlyWhenTheWholeWordChanges) {
    ASSERT_EQ(SetDecompressor(dec, 0x0F03), FDIERROR_NONE);
    const int afterFirst = memfs::Calls(memfs::Op::Alloc);
    ASSERT_EQ(SetDecompressor(dec, 0x1003), FDIERROR_NONE);
    const int afterSecond = memfs::Calls(memfs::Op::Alloc);
    EXPECT_GT(afterSecond, afterFirst);
    ASSERT_EQ(SetDecompressor(dec, 0x1003), FDIERROR_NONE);
    EXPECT_EQ(memfs::Calls(memfs::Op::Alloc), afterSecond);

    // Bits outside the method and its parameter count too.
    ASSERT_EQ(SetDecompressor(dec, 0x0000), FDIERROR_NONE);
    const int stored = memfs::Calls(memfs::Op::Alloc);
    ASSERT_EQ(SetDecompressor(dec, 0x8000), FDIERROR_NONE);
    EXPECT_EQ(memfs::Calls(memfs::Op::Alloc), stored + 2);
    EXPECT_EQ(memfs::LiveBlocks(), 2);
}

TEST_F(Dispatch, UnknownMethodReleasesTheDecoder) {
    for (uint16_t word : {0x0004, 0x000E, 0x000F, 0x150F}) {
        ASSERT_EQ(SetDecompressor(dec, 0x0001), FDIERROR_NONE);
        EXPECT_EQ(SetDecompressor(dec, word), FDIERROR_BAD_COMPR_TYPE) << word;
        EXPECT_EQ(dec.typeCompress, tcompBAD);
        EXPECT_EQ(memfs::LiveBlocks(), 0);
    }
}

TEST_F(Dispatch, RefusedConfigurationIsADecoderFailure) {
    // Quantum takes window exponents 10 to 21, LZX 15 to 21.
    for (uint16_t word : {0x0102, 0x1602, 0x0E03, 0x1603}) {
        EXPECT_EQ(SetDecompressor(dec, word), FDIERROR_MDI_FAIL) << word;
        EXPECT_EQ(dec.typeCompress, tcompBAD);
        EXPECT_EQ(memfs::LiveBlocks(), 0);
    }
}

TEST_F(Dispatch, FailedAllocationLeavesNoDecoder) {
    for (uint16_t word : {0x0000, 0x0001, 0x0F03}) {
        for (int n = 1;; ++n) {
            InitDecompressor(dec, &callbacks);
            const int before = memfs::Calls(memfs::Op::Alloc);
            memfs::FailNth(memfs::Op::Alloc, n);
            const int error = SetDecompressor(dec, word);
            memfs::FailNth(memfs::Op::Alloc, 0);
            if (memfs::Calls(memfs::Op::Alloc) - before < n) {
                EXPECT_EQ(error, FDIERROR_NONE);
                EXPECT_EQ(DestroyDecompressor(dec), FDIERROR_NONE);
                break;
            }
            EXPECT_EQ(error, FDIERROR_ALLOC_FAIL) << word << " " << n;
            EXPECT_EQ(dec.typeCompress, tcompBAD);
            EXPECT_EQ(memfs::LiveBlocks(), 0) << word << " " << n;
        }
    }
}

TEST_F(Dispatch, StoredBlocksAreCopied) {
    ASSERT_EQ(SetDecompressor(dec, 0x0000), FDIERROR_NONE);
    std::memcpy(dec.pbSrc, "stored bytes", 12);
    uint32_t size = 12;
    ASSERT_EQ(DecompressBlock(dec, 12, &size), FDIERROR_NONE);
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(std::memcmp(dec.pbDst, "stored bytes", 12), 0);

    // The size produced is what was stored, whatever was expected; more than a block is refused.
    size = 5;
    ASSERT_EQ(DecompressBlock(dec, 12, &size), FDIERROR_NONE);
    EXPECT_EQ(size, 12u);
    size = 32769;
    EXPECT_EQ(DecompressBlock(dec, 12, &size), FDIERROR_MDI_FAIL);
}

TEST_F(Dispatch, MszipDecodesAsMuchAsTheBlockHolds) {
    ASSERT_EQ(SetDecompressor(dec, tcompTYPE_MSZIP), FDIERROR_NONE);
    // "CK", then one final stored deflate block of 10 bytes.
    const uint8_t block[] = {'C', 'K', 0x01, 10, 0, 0xF5, 0xFF, '0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    std::memcpy(dec.pbSrc, block, sizeof block);
    uint32_t size = 4;  // the expected size does not limit MSZIP
    ASSERT_EQ(DecompressBlock(dec, sizeof block, &size), FDIERROR_NONE);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(std::memcmp(dec.pbDst, "0123456789", 10), 0);

    std::memcpy(dec.pbSrc, "XX", 2);
    EXPECT_EQ(DecompressBlock(dec, sizeof block, &size), FDIERROR_MDI_FAIL);
}

} // namespace
