#include "tools/cabwriter/mszip_encoder.h"

#include <algorithm>
#include <stdexcept>
#include <zlib.h>

namespace cabwriter {
namespace {

// The reader's input buffer holds at most this many bytes of one MSZIP block.
constexpr size_t kMaxPayload = 32768 + 12;

// A block zlib cannot shrink below the limit is written as one stored deflate block.
std::vector<uint8_t> StoredDeflate(const uint8_t* data, size_t n)
{
    std::vector<uint8_t> out{'C', 'K', 0x01, uint8_t(n), uint8_t(n >> 8), uint8_t(~n),
                             uint8_t(~n >> 8)};
    out.insert(out.end(), data, data + n);
    return out;
}

} // namespace

std::vector<EncodedBlock> MszipEncoder::encodeFolder(const uint8_t* data, size_t size)
{
    z_stream z{};
    if (deflateInit2(&z, level_, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("zlib deflateInit2 failed");
    std::vector<EncodedBlock> blocks;
    std::vector<uint8_t> out(kMaxPayload);
    for (size_t pos = 0; pos < size; pos += 32768) {
        size_t n = std::min<size_t>(32768, size - pos);
        deflateReset(&z);
        if (pos > 0)
            deflateSetDictionary(&z, data + pos - 32768, 32768);
        out[0] = 'C';
        out[1] = 'K';
        z.next_in = const_cast<uint8_t*>(data + pos);
        z.avail_in = uInt(n);
        z.next_out = out.data() + 2;
        z.avail_out = uInt(out.size() - 2);
        if (deflate(&z, Z_FINISH) == Z_STREAM_END)
            blocks.push_back({std::vector<uint8_t>(out.data(), z.next_out), uint32_t(n)});
        else
            blocks.push_back({StoredDeflate(data + pos, n), uint32_t(n)});
    }
    deflateEnd(&z);
    return blocks;
}

} // namespace cabwriter
