// The writer's view of a compression method: one folder's bytes in, the payloads of its
// data blocks out. Every block but the folder's last decodes to exactly 32768 bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace cabwriter {

struct EncodedBlock {
    std::vector<uint8_t> data;    // the block's payload as stored after its header
    uint32_t uncompressedSize;    // what it decodes to (at most 32768)
};

class FolderEncoder {
public:
    virtual ~FolderEncoder() = default;
    // The folder's typeCompress word (method in bits 0-3, parameter in bits 8-12).
    virtual uint16_t typeCompress() const = 0;
    // Encodes a whole folder; called once per folder, on a fresh encoder state.
    virtual std::vector<EncodedBlock> encodeFolder(const uint8_t* data, size_t size) = 0;
};

} // namespace cabwriter
