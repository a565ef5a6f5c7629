// Drives a created decoder over the frames of a fuzz input (layout in input.h) the way the
// reader's dispatch does: each frame's bytes in a buffer of exactly their size, one output
// buffer kept across frames, a reset after a failed frame (the reader starts the next folder
// afresh), and the decoder destroyed at the end.
#pragma once
#include <cstring>
#include <memory>

#include "cab/decoders/mdi.h"
#include "fuzz/input.h"
#include "support/memfs.h"

namespace fuzzin {

struct DecoderOps {
    int (*decompress)(MDI_HANDLE, void*, uint32_t, void*, uint32_t*);
    int (*reset)(MDI_HANDLE);
    int (*destroy)(MDI_HANDLE);
};

inline void RunFrames(Input& in, MDI_HANDLE handle, const DecoderOps& ops, uint32_t blockMax,
                      uint32_t srcMin) {
    std::unique_ptr<uint8_t[]> dst(new uint8_t[blockMax]);
    while (in.Left() > 0) {
        const uint8_t flags = in.U8();
        const uint32_t cbSrc = in.U16();
        uint32_t expected = in.U16();
        if (expected > blockMax) expected = blockMax;
        size_t got;
        const uint8_t* bytes = in.Take(cbSrc < srcMin ? cbSrc : srcMin, &got);
        std::unique_ptr<uint8_t[]> src(new uint8_t[got ? got : 1]);
        if (got) std::memcpy(src.get(), bytes, got);

        if ((flags & 1) && ops.reset(handle) != MDI_ERROR_NO_ERROR) Fail("reset refused");
        uint32_t result = expected;
        if (ops.decompress(handle, src.get(), static_cast<uint32_t>(got), dst.get(), &result) ==
            MDI_ERROR_NO_ERROR) {
            if (result > blockMax) Fail("decoded more than the output buffer holds");
        } else if (ops.reset(handle) != MDI_ERROR_NO_ERROR) {
            Fail("reset after a failed frame refused");
        }
    }
    if (ops.destroy(handle) != MDI_ERROR_NO_ERROR) Fail("destroy refused");
    if (memfs::LiveBlocks() != 0) Fail("decoder memory left allocated");
    if (memfs::OpenHandles() != 0) Fail("decoder file left open");
}

} // namespace fuzzin
