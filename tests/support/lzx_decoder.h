// Test wrapper around the LZX decoder's four operations: one frame per call, buffers of the
// sizes the reader gives it.
#pragma once
#include <cstdint>
#include <vector>

#include "cab/decoders/lzx.h"

class LzxTestDecoder {
public:
    explicit LzxTestDecoder(int windowBits);
    ~LzxTestDecoder();
    LzxTestDecoder(const LzxTestDecoder&) = delete;
    LzxTestDecoder& operator=(const LzxTestDecoder&) = delete;

    // Decodes one frame of `frameSize` bytes; the result code, and the output on success.
    int Frame(const std::vector<uint8_t>& src, uint32_t frameSize, std::vector<uint8_t>* out = nullptr);
    void Reset();
    MDI_HANDLE handle() const { return handle_; }

private:
    MDI_HANDLE handle_ = nullptr;
};
