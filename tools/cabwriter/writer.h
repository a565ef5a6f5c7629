// Builds cabinets and cabinet sets in memory from files handed over one by one.
//
// Files go into folders in the order they are added; startFolder() begins a new folder (with
// its own method if one is named). With a maximum cabinet size the output becomes a set:
// blocks are split across cabinets and files continued across them, and a file that would
// begin inside the part of a folder carried into a later cabinet starts a folder of its own.
// Names are stored exactly as given: code page 936 bytes with backslashes (see names.h).
// Reserve areas hold counting bytes: byte i of every reserve area has the value i & 0xFF.
// Failures (unknown method, a name too long, a maximum size too small) throw runtime_error.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cabwriter {

struct FileInfo {
    uint16_t date = 0x5021;   // 2020-01-01
    uint16_t time = 0x6000;   // 12:00:00
    uint16_t attribs = 0x20;  // archive
};

struct Cabinet {
    std::string name;
    std::vector<uint8_t> bytes;
};

struct Settings {
    std::string method = "none";   // see methods.h
    uint16_t headerReserve = 0;
    uint8_t folderReserve = 0;
    uint8_t dataReserve = 0;
    bool reserveField = false;     // write the reserve sizes even when all three are 0
    bool checksums = true;         // false: every block's csum is 0
    uint32_t maxCabinetSize = 0;   // 0: everything in one cabinet
    uint16_t setID = 0x4B56;
    std::string name = "data.cab"; // the first cabinet; see SetMemberName for the others
    // Overrides the names of the set's cabinets (index from 0) when given.
    std::function<std::string(unsigned)> nameOf = {};
};

// The name of cabinet `index` of a set whose first cabinet is `first`: the first keeps its
// name, the others get their number from 2 on before the extension (data.cab, data2.cab, ...).
std::string SetMemberName(const std::string& first, unsigned index);

class Writer {
public:
    explicit Writer(Settings settings = {});
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    void addFile(std::string name, std::vector<uint8_t> data, const FileInfo& info = {});
    // Files added from now on go into a new folder, with `method` ("" keeps the set's method).
    void startFolder(const std::string& method = "");
    // Lays out and encodes everything added; the writer is empty afterwards.
    std::vector<Cabinet> finish();

private:
    struct Pending;
    Settings settings_;
    std::unique_ptr<Pending> pending_;
};

// Writes each cabinet into `dir` under its name.
void WriteCabinets(const std::vector<Cabinet>& cabinets, const std::string& dir);

} // namespace cabwriter
