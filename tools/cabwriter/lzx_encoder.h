// LZX encoder for the cabinet writer: windows of 2^15 to 2^21 bytes, verbatim, aligned-offset
// and uncompressed blocks, repeated offsets, optional E8 translation of CALL operands.
// Each data block is one frame of 32768 bytes (the folder's last may be shorter) whose bit
// stream starts afresh; blocks and their trees may span frames, matches never do.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "tools/cabwriter/encoder.h"

namespace cabwriter {

struct LzxOptions {
    enum class Blocks {
        Best,          // per block the cheapest of verbatim, aligned and uncompressed
        Verbatim,
        Aligned,
        Uncompressed,
        Rotate,        // verbatim, aligned, uncompressed in turn
    };
    int windowBits = 21;
    bool e8 = false;
    Blocks blocks = Blocks::Best;
    std::vector<uint32_t> blockSizes = {1u << 17};  // bytes per block, used in turn
    bool emptyBlocks = false;          // precede every block with one of size 0 (tests)
    int chainDepth = 0;                // match candidates per position; 0: by window size
};

std::unique_ptr<FolderEncoder> MakeLzxEncoder(const LzxOptions& options);
std::unique_ptr<FolderEncoder> MakeLzxEncoder(int windowBits, bool e8);

} // namespace cabwriter
