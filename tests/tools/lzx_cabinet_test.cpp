// LZX cabinets from the writer, extracted by the reader: every window size, several folders
// (the decoder is reset between them) and sets whose blocks are split across cabinets.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "cab/fdi/fdi_harness.h"
#include "tools/cabwriter/writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Content(size_t n, uint32_t seed, int kind)
{
    std::mt19937 rng(seed);
    Bytes v;
    static const char* words[] = {"更新 ", "client ", "package ", "folder ", "\r\n", "file "};
    while (v.size() < n) {
        switch (kind) {
        case 0: {  // text
            const std::string w = words[rng() % 6];
            v.insert(v.end(), w.begin(), w.end());
            break;
        }
        case 1: {  // code with CALLs
            const uint32_t rel = (rng() % 32) * 512 - static_cast<uint32_t>(v.size());
            v.insert(v.end(), {0xE8, uint8_t(rel), uint8_t(rel >> 8), uint8_t(rel >> 16), uint8_t(rel >> 24),
                               0x8B, 0x45, 0x08});
            break;
        }
        default:
            v.push_back(static_cast<uint8_t>(rng()));
        }
    }
    v.resize(n);
    return v;
}

struct File {
    std::string name;
    Bytes data;
    bool newFolder;
};

std::vector<File> Files()
{
    return {{"a.txt", Content(70000, 1, 0), false},
            {"b.exe", Content(100001, 2, 1), false},
            {"c.bin", Content(40000, 3, 2), false},
            {"d.txt", Content(5000, 4, 0), true},
            {"e.exe", Content(33000, 5, 1), false}};
}

void Extract(const std::vector<cabwriter::Cabinet>& cabinets, const std::vector<File>& files)
{
    FdiRun run;
    for (const auto& cab : cabinets)
        memfs::Put("cab/" + cab.name, cab.bytes);
    // As the wrapper does: each cabinet of the set in turn, for the files that begin in it.
    for (const auto& cab : cabinets)
        ASSERT_TRUE(run.Copy(cab.name)) << cab.name << ": FDI error " << run.erf.erfOper;
    for (const File& f : files)
        EXPECT_TRUE(FdiRun::Out(f.name) == std::string(f.data.begin(), f.data.end())) << f.name;
}

std::vector<cabwriter::Cabinet> Write(const cabwriter::Settings& settings, const std::vector<File>& files)
{
    cabwriter::Writer writer(settings);
    for (const File& f : files) {
        if (f.newFolder)
            writer.startFolder();
        writer.addFile(f.name, f.data);
    }
    return writer.finish();
}

TEST(LzxCabinet, EveryWindowSizeThroughTheReader)
{
    const auto files = Files();
    for (int bits = 15; bits <= 21; ++bits) {
        SCOPED_TRACE(bits);
        cabwriter::Settings settings;
        settings.method = "lzx:" + std::to_string(bits);
        Extract(Write(settings, files), files);
    }
}

TEST(LzxCabinet, SetWithBlocksSplitAcrossCabinets)
{
    const auto files = Files();
    cabwriter::Settings settings;
    settings.method = "lzx:16";
    settings.maxCabinetSize = 20000;
    const auto cabinets = Write(settings, files);
    ASSERT_GT(cabinets.size(), 2u);
    Extract(cabinets, files);
}

TEST(LzxCabinet, UnknownWindowSizesAreRefusedByTheWriter)
{
    for (const char* method : {"lzx:14", "lzx:22", "lzx"}) {
        cabwriter::Settings settings;
        settings.method = method;
        EXPECT_ANY_THROW(Write(settings, Files())) << method;
    }
}

}  // namespace
