// Quantum decoder, frame by frame. First byte: window exponent 10 + (low nibble % 12); bit 4
// refuses the window's allocation, so the window lives in a spill file (in memory here).
#include "cab/decoders/quantum.h"
#include "fuzz/decoder_driver.h"

namespace {

uint32_t g_refused = 0;  // allocation size refused; 0 refuses none

void* Alloc(uint32_t cb) { return cb != 0 && cb == g_refused ? nullptr : memfs::Alloc(cb); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzin::Input in(data, size);
    const uint8_t choice = in.U8();
    const int32_t bits = 10 + (choice & 0x0F) % 12;
    g_refused = (choice & 0x10) ? 1u << bits : 0;
    memfs::Reset();
    uint32_t blockMax = 32768, srcMin = 0;
    MDI_HANDLE h = nullptr;
    if (QuantumCreateDecompression(&blockMax, &bits, Alloc, memfs::Free, &srcMin, &h,
                                   memfs::Open, memfs::Read, memfs::Write, memfs::Close,
                                   memfs::Seek) != MDI_ERROR_NO_ERROR) {
        // Only a refused window may fail creation (too small a window to spill).
        if (!g_refused) fuzzin::Fail("create failed");
        if (memfs::LiveBlocks() != 0 || memfs::OpenHandles() != 0) fuzzin::Fail("failed create leaked");
        return 0;
    }
    fuzzin::RunFrames(in, h,
                      {QuantumDecompress, QuantumResetDecompression, QuantumDestroyDecompression},
                      blockMax, srcMin);
    return 0;
}
