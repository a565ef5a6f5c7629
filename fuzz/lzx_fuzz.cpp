// LZX decoder, frame by frame. The first byte chooses the window: 2^(15 + byte % 7).
#include "cab/decoders/lzx.h"
#include "fuzz/decoder_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzin::Input in(data, size);
    const uint32_t window = 1u << (15 + in.U8() % 7);
    memfs::Reset();
    uint32_t blockMax = 32768, srcMin = 0;
    MDI_HANDLE h = nullptr;
    if (LZXCreateDecompression(&blockMax, &window, memfs::Alloc, memfs::Free, &srcMin, &h,
                               memfs::Open, memfs::Read, memfs::Write, memfs::Close,
                               memfs::Seek) != MDI_ERROR_NO_ERROR)
        fuzzin::Fail("create failed");
    fuzzin::RunFrames(in, h, {LZXDecompress, LZXResetDecompression, LZXDestroyDecompression},
                      blockMax, srcMin);
    return 0;
}
