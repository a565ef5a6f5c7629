// The cabinet's data block checksum.
#pragma once
#include <cstdint>

// XOR of the input's little-endian 32-bit words into seed; the 1 to 3 bytes left over form a
// last word with the first of them in its highest used byte.
uint32_t CSUMCompute(const void* pv, uint32_t cb, uint32_t seed);
