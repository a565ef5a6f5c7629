#include "tools/cabwriter/stored_encoder.h"

#include <algorithm>

namespace cabwriter {

std::vector<EncodedBlock> StoredEncoder::encodeFolder(const uint8_t* data, size_t size)
{
    std::vector<EncodedBlock> blocks;
    for (size_t pos = 0; pos < size; pos += 32768) {
        size_t n = std::min<size_t>(32768, size - pos);
        blocks.push_back({std::vector<uint8_t>(data + pos, data + pos + n), uint32_t(n)});
    }
    return blocks;
}

} // namespace cabwriter
