// MSZIP decoder, frame by frame. The first byte is unused (kept for the shared layout).
#include "cab/decoders/mszip.h"
#include "fuzz/decoder_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzin::Input in(data, size);
    in.U8();
    memfs::Reset();
    uint32_t blockMax = 32768, srcMin = 0;
    MDI_HANDLE h = nullptr;
    if (MDICreateDecompression(&blockMax, memfs::Alloc, memfs::Free, &srcMin, &h) !=
        MDI_ERROR_NO_ERROR)
        fuzzin::Fail("create failed");
    fuzzin::RunFrames(in, h, {MDIDecompress, MDIResetDecompression, MDIDestroyDecompression},
                      blockMax, srcMin);
    return 0;
}
