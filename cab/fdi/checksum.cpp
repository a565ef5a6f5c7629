#include "cab/fdi/checksum.h"

uint32_t CSUMCompute(const void* pv, uint32_t cb, uint32_t seed) {
    const uint8_t* p = static_cast<const uint8_t*>(pv);
    uint32_t csum = seed;
    for (uint32_t words = cb / 4; words > 0; --words, p += 4)
        csum ^= p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
    uint32_t last = 0;
    for (uint32_t rest = cb % 4; rest > 0; --rest) last = last << 8 | *p++;
    return csum ^ last;
}
