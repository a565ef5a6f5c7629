// MSZIP inputs that once made the decoder misbehave.
#include "cab/decoders/mszip.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

void* Alloc(uint32_t cb) { return std::malloc(cb); }
void Free(void* p) { std::free(p); }

// "CK", then a final fixed-code deflate block: literals 'a' 'b' and a match of length 98 at
// distance 2 ("ab" * 50).
const std::vector<uint8_t> kAbRepeated = {0x43, 0x4B, 0x4B, 0x4C, 0x4A, 0xA4, 0x39, 0x04, 0x00};

// A match cut short by the end of the output wrote 3 bytes even when 1 or 2 were left: past the
// end of the output buffer, or over history bytes beyond the block.
TEST(MszipRegression, MatchCutAtTheOutputEndWritesNothingBeyond)
{
    for (uint32_t wanted : {3u, 4u}) {
        SCOPED_TRACE(wanted);
        uint32_t blockMax = 32768, srcMin = 0;
        MDI_HANDLE h = nullptr;
        ASSERT_EQ(MDICreateDecompression(&blockMax, Alloc, Free, &srcMin, &h), MDI_ERROR_NO_ERROR);
        std::vector<uint8_t> src = kAbRepeated;
        std::vector<uint8_t> dst(blockMax, 0xEE);
        uint32_t result = wanted;
        EXPECT_EQ(MDIDecompress(h, src.data(), static_cast<uint32_t>(src.size()), dst.data(), &result),
                  MDI_ERROR_NO_ERROR);
        EXPECT_EQ(result, wanted);
        EXPECT_EQ(std::string(dst.begin(), dst.begin() + wanted), std::string("abab").substr(0, wanted));
        EXPECT_EQ(dst[wanted], 0xEE);
        EXPECT_EQ(MDIDestroyDecompression(h), MDI_ERROR_NO_ERROR);
    }
}

} // namespace
