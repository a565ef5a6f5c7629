#include "tools/cabwriter/checksum.h"

namespace cabwriter {

uint32_t Checksum(const uint8_t* data, size_t size, uint32_t seed)
{
    uint32_t sum = seed;
    size_t i = 0;
    for (; i + 4 <= size; i += 4)
        sum ^= uint32_t(data[i]) | uint32_t(data[i + 1]) << 8 | uint32_t(data[i + 2]) << 16 |
               uint32_t(data[i + 3]) << 24;
    uint32_t tail = 0;
    for (; i < size; ++i)
        tail = tail << 8 | data[i];
    return sum ^ tail;
}

} // namespace cabwriter
