// Method 0: blocks hold the folder's bytes as they are.
#pragma once
#include "tools/cabwriter/encoder.h"

namespace cabwriter {

class StoredEncoder : public FolderEncoder {
public:
    uint16_t typeCompress() const override { return 0; }
    std::vector<EncodedBlock> encodeFolder(const uint8_t* data, size_t size) override;
};

} // namespace cabwriter
