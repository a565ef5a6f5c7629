// Writes the seed corpora: make_seeds DIR fills DIR/<target>/ for every fuzz target, using
// the project's own cabinet writer and encoders, so that no binary file enters the repository.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/cabwriter/methods.h"
#include "tools/cabwriter/writer.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

void Save(const fs::path& dir, int& n, const Bytes& bytes) {
    fs::create_directories(dir);
    std::ofstream(dir / ("seed-" + std::to_string(n++)), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void Append(Bytes& out, const std::string& s) { out.insert(out.end(), s.begin(), s.end()); }
void U16(Bytes& out, uint32_t v) { out.push_back(v & 0xFF); out.push_back((v >> 8) & 0xFF); }
void U32(Bytes& out, uint32_t v) { U16(out, v & 0xFFFF); U16(out, v >> 16); }

// Text with repeats near and far, then bytes that do not compress.
Bytes Sample(size_t size, uint32_t seed) {
    Bytes b;
    const std::string words[] = {"update ", "client ", "folder\r\n", "patch ", "korvane "};
    uint32_t x = seed * 2654435761u + 1;
    while (b.size() < size) {
        x = x * 1103515245u + 12345u;
        if (b.size() < size * 3 / 4) Append(b, words[(x >> 16) % 5]);
        else b.push_back(static_cast<uint8_t>(x >> 16));
    }
    b.resize(size);
    return b;
}

// One folder encoded by a method, as frames in the decoder targets' layout.
Bytes Frames(const std::string& method, uint8_t choice, const Bytes& data) {
    Bytes out{choice};
    for (const auto& block : cabwriter::MakeEncoder(method)->encodeFolder(data.data(), data.size())) {
        out.push_back(0);
        U16(out, static_cast<uint32_t>(block.data.size()));
        U16(out, block.uncompressedSize);
        out.insert(out.end(), block.data.begin(), block.data.end());
    }
    return out;
}

// A cabinet set in the FDI target's layout.
Bytes CabinetSet(const cabwriter::Settings& settings, const std::vector<Bytes>& files, bool newFolder) {
    cabwriter::Writer writer(settings);
    for (size_t i = 0; i < files.size(); ++i) {
        if (newFolder && i == files.size() - 1) writer.startFolder("mszip");
        writer.addFile("dir\\file" + std::to_string(i) + ".txt", files[i]);
    }
    const auto cabinets = writer.finish();
    if (cabinets.empty() || cabinets.size() > 4) return {};
    Bytes out{static_cast<uint8_t>(cabinets.size() - 1), 0, 0, 0};
    for (size_t i = 0; i < cabinets.size(); ++i) {
        if (i + 1 < cabinets.size()) U32(out, static_cast<uint32_t>(cabinets[i].bytes.size()));
        out.insert(out.end(), cabinets[i].bytes.begin(), cabinets[i].bytes.end());
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds DIR\n");
        return 2;
    }
    const fs::path root = argv[1];
    const Bytes small = Sample(3000, 1), large = Sample(70000, 2);

    int n = 0;
    for (const std::string method : {"none", "mszip", "quantum:10", "quantum:16", "quantum:21",
                                     "lzx:15", "lzx:18", "lzx:21"}) {
        cabwriter::Settings s;
        s.method = method;
        Save(root / "fdi_copy_fuzz", n, CabinetSet(s, {small, Sample(500, 3)}, true));
        s.headerReserve = 6;
        s.folderReserve = 3;
        s.dataReserve = 2;
        s.checksums = false;
        Save(root / "fdi_copy_fuzz", n, CabinetSet(s, {Sample(40000, 4)}, false));
        s = {};
        s.method = method;
        s.maxCabinetSize = 1400;
        Save(root / "fdi_copy_fuzz", n, CabinetSet(s, {Sample(1500, 5), Sample(900, 6)}, false));
    }

    n = 0;
    for (const Bytes* data : {&small, &large}) Save(root / "mszip_fuzz", n, Frames("mszip", 0, *data));
    n = 0;
    for (int bits : {15, 17, 21})
        for (const Bytes* data : {&small, &large})
            Save(root / "lzx_fuzz", n, Frames("lzx:" + std::to_string(bits), bits - 15, *data));
    n = 0;
    for (int bits : {10, 15, 21})
        for (uint8_t spill : {0, 0x10})
            for (const Bytes* data : {&small, &large})
                Save(root / "quantum_fuzz", n,
                     Frames("quantum:" + std::to_string(bits), static_cast<uint8_t>(bits - 10) | spill, *data));

    n = 0;
    const std::string ini =
        "; comment\r\n[Update]\r\nVersion=12\r\nServer = patch.example\r\n[Files]\r\nCount=-3\r\n"
        "Name1=a.txt\r\n[empty]\r\nkey\r\n=novalue\r\n";
    for (const std::string queries : {"update\x01version\nUPDATE\x01Server\nfiles\x01count",
                                      "Files\x01name1\nempty\x01key\nnone\x01x"}) {
        Bytes b{static_cast<uint8_t>(queries.size() % 2 ? 255 : 7)};
        Append(b, queries);
        b.push_back(0);
        Append(b, ini);
        Save(root / "ini_fuzz", n, b);
    }

    n = 0;
    for (const std::string& line : std::vector<std::string>{"Update.exe ^C:\\Game\\patch.cab^ ^C:\\Game^ ^1^ ^Game.exe^",
                                   "\"Update\" ^^abc^ ^ 42^", "Update ^" + std::string(300, 'x') + "^"}) {
        Bytes b;
        Append(b, line);
        Save(root / "command_line_fuzz", n, b);
    }
    return 0;
}
