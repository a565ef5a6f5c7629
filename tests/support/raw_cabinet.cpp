#include "support/raw_cabinet.h"

#include "tools/cabwriter/checksum.h"

namespace rawcab {
namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

void Set32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutString(std::vector<uint8_t>& out, const std::string& s) {
    out.insert(out.end(), s.begin(), s.end());
    out.push_back(0);
}

void PutSized(std::vector<uint8_t>& out, std::vector<uint8_t> bytes, size_t size) {
    bytes.resize(size);
    out.insert(out.end(), bytes.begin(), bytes.end());
}

} // namespace

uint32_t BlockChecksum(const std::vector<uint8_t>& headerTail, const std::vector<uint8_t>& data) {
    return cabwriter::Checksum(headerTail.data(), headerTail.size(), cabwriter::Checksum(data.data(), data.size(), 0));
}

std::vector<uint8_t> Cabinet::Bytes() const {
    std::vector<uint8_t> out;
    PutString(out, "MSCF");
    out.pop_back();
    Put32(out, 0);
    Put32(out, 0);  // cbCabinet, set below
    Put32(out, 0);
    Put32(out, 0);  // coffFiles, set below
    Put32(out, 0);
    Put16(out, version);
    Put16(out, cFolders >= 0 ? uint32_t(cFolders) : folders.size());
    Put16(out, files.size());
    Put16(out, (hasPrev ? 1 : 0) | (hasNext ? 2 : 0) | (reservePresent ? 4 : 0));
    Put16(out, setID);
    Put16(out, iCabinet);
    if (reservePresent) {
        Put16(out, headerReserve.size());
        out.push_back(cbCFFolder);
        out.push_back(cbCFData);
        out.insert(out.end(), headerReserve.begin(), headerReserve.end());
    }
    if (hasPrev) {
        PutString(out, cabinetPrev);
        PutString(out, diskPrev);
    }
    if (hasNext) {
        PutString(out, cabinetNext);
        PutString(out, diskNext);
    }
    const uint32_t folderEntry = 8 + (reservePresent ? cbCFFolder : 0);
    const uint32_t dataHeader = 8 + (reservePresent ? cbCFData : 0);
    std::vector<size_t> folderAt;
    for (const Folder& f : folders) {
        folderAt.push_back(out.size());
        Put32(out, 0);
        Put16(out, f.cCFData >= 0 ? uint32_t(f.cCFData) : f.blocks.size());
        Put16(out, f.typeCompress);
        PutSized(out, f.reserve, folderEntry - 8);
    }
    Set32(out, 16, static_cast<uint32_t>(out.size()));
    for (const File& f : files) {
        Put32(out, f.cbFile);
        Put32(out, f.uoffFolderStart);
        Put16(out, f.iFolder);
        Put16(out, f.date);
        Put16(out, f.time);
        Put16(out, f.attribs);
        PutString(out, f.name);
    }
    for (size_t i = 0; i < folders.size(); ++i) {
        Set32(out, folderAt[i], static_cast<uint32_t>(out.size()));
        for (const Block& b : folders[i].blocks) {
            std::vector<uint8_t> tail;
            Put16(tail, b.data.size());
            Put16(tail, b.cbUncomp);
            PutSized(tail, b.reserve, dataHeader - 8);
            Put32(out, b.checksum ? BlockChecksum(tail, b.data) : 0);
            out.insert(out.end(), tail.begin(), tail.end());
            out.insert(out.end(), b.data.begin(), b.data.end());
        }
    }
    Set32(out, 8, static_cast<uint32_t>(out.size()));
    return out;
}

std::vector<Block> StoredBlocks(const std::string& data, size_t blockSize) {
    std::vector<Block> blocks;
    for (size_t at = 0; at < data.size(); at += blockSize) {
        const std::string piece = data.substr(at, blockSize);
        blocks.push_back(Block{{piece.begin(), piece.end()}, static_cast<uint16_t>(piece.size()), true, {}});
    }
    return blocks;
}

Cabinet StoredCabinet(const std::vector<std::pair<std::string, std::string>>& files, size_t blockSize) {
    Cabinet cab;
    std::string all;
    for (const auto& [name, content] : files) {
        File f;
        f.name = name;
        f.cbFile = static_cast<uint32_t>(content.size());
        f.uoffFolderStart = static_cast<uint32_t>(all.size());
        cab.files.push_back(f);
        all += content;
    }
    cab.folders.push_back(Folder{0, StoredBlocks(all, blockSize), {}, -1});
    return cab;
}

} // namespace rawcab
