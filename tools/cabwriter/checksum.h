// The cabinet block checksum: 32-bit words XORed together, a short tail folded in big-end first.
#pragma once
#include <cstddef>
#include <cstdint>

namespace cabwriter {

uint32_t Checksum(const uint8_t* data, size_t size, uint32_t seed);

} // namespace cabwriter
