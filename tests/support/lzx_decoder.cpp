#include "support/lzx_decoder.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {
void* Alloc(uint32_t cb) { return std::malloc(cb); }
void Free(void* pv) { std::free(pv); }
}  // namespace

LzxTestDecoder::LzxTestDecoder(int windowBits)
{
    uint32_t blockMax = 32768, srcMin = 0, window = 1u << windowBits;
    EXPECT_EQ(LZXCreateDecompression(&blockMax, &window, Alloc, Free, &srcMin, &handle_, nullptr,
                                     nullptr, nullptr, nullptr, nullptr),
              MDI_ERROR_NO_ERROR);
}

LzxTestDecoder::~LzxTestDecoder()
{
    if (handle_) {
        EXPECT_EQ(LZXDestroyDecompression(handle_), MDI_ERROR_NO_ERROR);
    }
}

int LzxTestDecoder::Frame(const std::vector<uint8_t>& src, uint32_t frameSize,
                          std::vector<uint8_t>* out)
{
    // Exactly the block's bytes, so that the sanitizers see any read past them.
    std::vector<uint8_t> in(src);
    std::vector<uint8_t> dst(32768);
    uint32_t size = frameSize;
    const int rc = LZXDecompress(handle_, in.data(), static_cast<uint32_t>(in.size()), dst.data(), &size);
    EXPECT_EQ(size, rc == MDI_ERROR_FAILED ? 0u : frameSize);
    if (out)
        out->assign(dst.begin(), dst.begin() + size);
    return rc;
}

void LzxTestDecoder::Reset()
{
    EXPECT_EQ(LZXResetDecompression(handle_), MDI_ERROR_NO_ERROR);
}
