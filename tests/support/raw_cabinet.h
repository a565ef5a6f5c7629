// Cabinets laid out byte by byte from a plain description, for tests that need layouts the
// writer never makes: damaged, hostile or hand-picked ones. Sizes and offsets are computed;
// every field stays open to be overridden.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace rawcab {

struct Block {
    std::vector<uint8_t> data;
    uint16_t cbUncomp = 0;
    bool checksum = true;          // false: csum 0
    std::vector<uint8_t> reserve;  // padded or cut to the cabinet's cbCFData
};

struct Folder {
    uint16_t typeCompress = 0;
    std::vector<Block> blocks;
    std::vector<uint8_t> reserve;  // padded or cut to the cabinet's cbCFFolder
    int32_t cCFData = -1;          // -1: the number of blocks
};

struct File {
    std::string name;
    uint32_t cbFile = 0;
    uint32_t uoffFolderStart = 0;
    uint16_t iFolder = 0;
    uint16_t date = 0x5A21;
    uint16_t time = 0x6000;
    uint16_t attribs = 0x20;
};

struct Cabinet {
    uint16_t version = 0x0103;
    uint16_t setID = 0x4B56;
    uint16_t iCabinet = 0;
    bool reservePresent = false;
    std::vector<uint8_t> headerReserve;
    uint8_t cbCFFolder = 0;
    uint8_t cbCFData = 0;
    bool hasPrev = false;
    bool hasNext = false;
    std::string cabinetPrev, diskPrev, cabinetNext, diskNext;
    std::vector<Folder> folders;
    std::vector<File> files;
    int32_t cFolders = -1;  // -1: the number of folders

    std::vector<uint8_t> Bytes() const;
};

// Stored blocks of at most blockSize bytes holding data.
std::vector<Block> StoredBlocks(const std::string& data, size_t blockSize = 32768);

// One stored folder holding the files one after another, in list order.
Cabinet StoredCabinet(const std::vector<std::pair<std::string, std::string>>& files,
                      size_t blockSize = 32768);

// A data block's csum over its data and the header fields after csum.
uint32_t BlockChecksum(const std::vector<uint8_t>& headerTail, const std::vector<uint8_t>& data);

} // namespace rawcab
