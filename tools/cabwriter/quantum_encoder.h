// Quantum encoder for the cabinet writer: LZ77 matches found by hash chains, coded with the
// adaptive models and an arithmetic coder that is the exact inverse of the reader's decoder.
#pragma once
#include <memory>

#include "tools/cabwriter/encoder.h"

namespace cabwriter {

// windowBits: the window exponent, 10 to 21.
std::unique_ptr<FolderEncoder> MakeQuantumEncoder(int windowBits);

} // namespace cabwriter
