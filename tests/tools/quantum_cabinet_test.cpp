// Quantum cabinets from the writer, extracted by the reader: every window exponent, with the
// window in memory and in the spill file (all page buffers, or only three), several folders
// (the decoder is reset between them), a set whose blocks are split across cabinets, and
// damaged data, which must fail cleanly.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "cab/decoders/quantum_state.h"
#include "cab/fdi/fdi_harness.h"
#include "tools/cabwriter/writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Content(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    static const char* const kWords[] = {"更新 ", "client ", "package ", "folder ", "\r\n", "file "};
    Bytes v;
    while (v.size() < n) {
        if (rng() % 4 == 0) {
            for (int k = 0; k < 200; ++k)
                v.push_back(static_cast<uint8_t>(rng()));
        } else if (rng() % 3 == 0 && v.size() > 70000) {
            const size_t from = v.size() - 1 - rng() % 70000;
            for (int k = 0, len = 3 + rng() % 400; k < len; ++k)
                v.push_back(v[from + k]);
        } else {
            const std::string w = kWords[rng() % 6];
            v.insert(v.end(), w.begin(), w.end());
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
    return {{"a.txt", Content(90000, 1), false},
            {"b.bin", Content(150001, 2), false},
            {"c\\d.txt", Content(5000, 3), true},
            {"e.dat", Content(40000, 4), false}};
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

// Allocation through memfs, refusing blocks of exactly `window` bytes (the reader's own
// buffers are larger than the smallest windows) and page buffers beyond `pageBuffers`
// (negative: no limit).
uint32_t g_window = 0;
int g_pageBuffers = -1;
void* LimitedAlloc(uint32_t cb)
{
    if (cb == g_window)
        return nullptr;
    if (cb == sizeof(QuantumPageBuffer) && g_pageBuffers >= 0 && g_pageBuffers-- == 0)
        return nullptr;
    return memfs::Alloc(cb);
}

struct LimitedRun : FdiRun {
    LimitedRun(uint32_t window, int pageBuffers)
    {
        g_window = window;
        g_pageBuffers = pageBuffers;
        FDIDestroy(hfdi);
        hfdi = FDICreate(LimitedAlloc, memfs::Free, memfs::Open, memfs::Read, memfs::Write, memfs::Close,
                         memfs::Seek, 1, &erf);
    }
    ~LimitedRun()
    {
        g_window = 0;
        g_pageBuffers = -1;
    }

    void extract(const std::vector<cabwriter::Cabinet>& cabinets, const std::vector<File>& files, const char* what)
    {
        for (const auto& cab : cabinets)
            memfs::Put("cab/" + cab.name, cab.bytes);
        for (const auto& cab : cabinets)
            ASSERT_TRUE(Copy(cab.name)) << what << " " << cab.name << ": FDI error " << erf.erfOper;
        for (const File& f : files)
            EXPECT_TRUE(Out(f.name) == std::string(f.data.begin(), f.data.end())) << what << " " << f.name;
    }
};

TEST(QuantumCabinet, EveryExponentInMemoryAndSpilled)
{
    const auto files = Files();
    for (int bits = 10; bits <= 21; ++bits) {
        cabwriter::Settings settings;
        settings.method = "quantum:" + std::to_string(bits);
        const auto cabinets = Write(settings, files);
        const std::string what = settings.method;
        {
            LimitedRun run(0, -1);
            run.extract(cabinets, files, what.c_str());
        }
        // Below 14 there is no spill mode; a window of 2^15 bytes has the size of the
        // reader's output buffer, which this allocator would refuse too.
        if (bits < 14 || bits == 15)
            continue;
        for (int buffers : {-1, 3}) {
            LimitedRun run(1u << bits, buffers);
            run.extract(cabinets, files, (what + " spilled").c_str());
            EXPECT_NE(memfs::Find("*"), nullptr) << "the spill file was opened under \"*\"";
        }
    }
}

TEST(QuantumCabinet, SmallWindowThatCannotBeAllocatedFails)
{
    cabwriter::Settings settings;
    settings.method = "quantum:12";
    const auto files = Files();
    const auto cabinets = Write(settings, files);
    LimitedRun run(1u << 12, -1);
    memfs::Put("cab/" + cabinets[0].name, cabinets[0].bytes);
    EXPECT_FALSE(run.Copy(cabinets[0].name));
    EXPECT_EQ(run.erf.erfOper, FDIERROR_ALLOC_FAIL);
}

TEST(QuantumCabinet, SetWithSplitBlocks)
{
    cabwriter::Settings settings;
    settings.method = "quantum:17";
    settings.maxCabinetSize = 40000;
    settings.name = "set.cab";
    const auto files = Files();
    const auto cabinets = Write(settings, files);
    ASSERT_GT(cabinets.size(), 2u);
    LimitedRun run(1u << 17, 3);
    run.extract(cabinets, files, "set");
}

// Bytes of the compressed data changed (checksums off, so the decoder meets them): every
// extraction ends, with failure or with some output, never a crash or a hang.
TEST(QuantumCabinet, DamagedDataFailsCleanly)
{
    cabwriter::Settings settings;
    settings.method = "quantum:15";
    settings.checksums = false;
    const std::vector<File> files = {{"a.txt", Content(70000, 8), false}};
    const auto cabinets = Write(settings, files);
    ASSERT_EQ(cabinets.size(), 1u);
    std::mt19937 rng(5);
    int failures = 0;
    for (int trial = 0; trial < 60; ++trial) {
        for (bool spill : {false, true}) {
            auto bytes = cabinets[0].bytes;
            // Past the headers: the first block's data starts within the first 100 bytes.
            for (int k = 0; k < 1 + trial % 4; ++k)
                bytes[100 + rng() % (bytes.size() - 100)] ^= static_cast<uint8_t>(1 + rng() % 255);
            LimitedRun run(spill ? 1u << 15 : 0, 3);
            memfs::Put("cab/x.cab", bytes);
            failures += !run.Copy("x.cab");
        }
    }
    EXPECT_GT(failures, 60);
}

} // namespace
