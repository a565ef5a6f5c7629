// Method 1: each block is "CK" and a complete raw deflate stream (zlib) of up to 32768 bytes
// of output, with the folder's previous block as its dictionary.
#pragma once
#include "tools/cabwriter/encoder.h"

namespace cabwriter {

class MszipEncoder : public FolderEncoder {
public:
    explicit MszipEncoder(int level = 6) : level_(level) {}
    uint16_t typeCompress() const override { return 1; }
    std::vector<EncodedBlock> encodeFolder(const uint8_t* data, size_t size) override;

private:
    int level_;
};

} // namespace cabwriter
