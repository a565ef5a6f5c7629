// Cabinets and sets from the writer, read back by the project's reader: every method and
// layout the writer makes must come out byte for byte, with the listing the reader expects.
#include "cab/fdi/fdi.h"
#include "support/memfs.h"
#include "tools/cabwriter/writer.h"

#include <gtest/gtest.h>
#include <map>
#include <random>

namespace {

std::vector<uint8_t> Bytes(size_t n, uint32_t seed, bool compressible)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = compressible ? uint8_t("abcdefgh"[rng() % 8]) : uint8_t(rng());
    return v;
}

struct Readback {
    std::map<std::string, uint16_t> attribs;  // as reported at fdintCLOSE_FILE_INFO
    std::string nextRequested;                // psz1 of the last fdintNEXT_CABINET
    std::string nextNamed;                    // psz1 of the last fdintCABINET_INFO
    int partials = 0;
    int copies = 0;

    static intptr_t Notify(int fdint, FDINOTIFICATION* n)
    {
        auto* self = static_cast<Readback*>(n->pv);
        switch (fdint) {
        case fdintCABINET_INFO:
            self->nextNamed = n->psz1;
            return 0;
        case fdintPARTIAL_FILE:
            ++self->partials;
            return 0;
        case fdintCOPY_FILE:
            ++self->copies;
            return memfs::OpenTarget("out/" + std::string(n->psz1));
        case fdintCLOSE_FILE_INFO:
            self->attribs[n->psz1] = n->attribs;
            memfs::Close(n->hf);
            return 1;
        case fdintNEXT_CABINET:
            if (n->fdie != FDIERROR_NONE)
                return -1;
            self->nextRequested = n->psz1;
            return 0;
        default:
            return 0;
        }
    }

    // Passes over the set until it ends, each starting where the previous one stopped.
    bool Run(const std::vector<cabwriter::Cabinet>& cabs, ERF& erf)
    {
        memfs::Reset();
        for (const auto& c : cabs)
            memfs::Put("cab/" + c.name, c.bytes);
        HFDI h = FDICreate(memfs::Alloc, memfs::Free, memfs::Open, memfs::Read, memfs::Write,
                           memfs::Close, memfs::Seek, 1, &erf);
        std::string cab = cabs[0].name;
        bool ok = true;
        for (size_t passes = 0; ok && !cab.empty() && passes <= cabs.size(); ++passes) {
            nextRequested.clear();
            char path[] = "cab/";
            ok = FDICopy(h, cab.data(), path, 0, Notify, nullptr, this);
            cab = nextRequested.empty() ? nextNamed : nextRequested;
        }
        FDIDestroy(h);
        EXPECT_EQ(0, memfs::LiveBlocks());
        EXPECT_EQ(0, memfs::OpenHandles());
        return ok && cab.empty();
    }
};

struct Case {
    const char* label;
    const char* method;
    uint32_t limit;
    uint8_t dataReserve;
    std::vector<size_t> sizes;
    bool compressible;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.label; }

class WriterReadback : public ::testing::TestWithParam<Case> {};

TEST_P(WriterReadback, EveryFileIsReproducedOnce)
{
    const Case& c = GetParam();
    cabwriter::Writer w({.method = c.method, .dataReserve = c.dataReserve, .maxCabinetSize = c.limit});
    std::map<std::string, std::vector<uint8_t>> want;
    for (size_t i = 0; i < c.sizes.size(); ++i) {
        const std::string name = "d\\f" + std::to_string(i);
        want[name] = Bytes(c.sizes[i], uint32_t(i + 1), c.compressible);
        w.addFile(name, want[name], {0x5021, 0x6000, uint16_t(i % 2 ? 0x21 : 0x20)});
    }
    auto cabs = w.finish();
    Readback r;
    ERF erf{};
    ASSERT_TRUE(r.Run(cabs, erf)) << FDIErrorText(erf.erfOper);
    EXPECT_EQ(int(want.size()), r.copies);  // continued entries come as partial files
    for (const auto& [name, bytes] : want) {
        const auto* got = memfs::Find("out/" + name);
        ASSERT_NE(nullptr, got) << name;
        EXPECT_TRUE(*got == bytes) << name << ": " << got->size() << " bytes, want " << bytes.size();
    }
    EXPECT_EQ(0x21, r.attribs["d\\f1"]);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, WriterReadback,
    ::testing::Values(
        Case{"StoredOneCabinet", "none", 0, 0, {10, 0, 100000, 5}, false},
        Case{"MszipOneCabinet", "mszip", 0, 0, {10, 0, 300000, 5}, true},
        Case{"MszipIncompressible", "mszip", 0, 0, {70000, 1}, false},
        Case{"StoredSetBigFile", "none", 20000, 3, {3, 150000, 7}, false},
        Case{"MszipSetBigFile", "mszip", 40000, 0, {3, 300000, 7, 0}, false},
        Case{"StoredSetSmallFiles", "none", 20000, 0, std::vector<size_t>(60, 1500), false},
        Case{"MszipSetSmallFiles", "mszip", 33000, 8, std::vector<size_t>(120, 3000), false},
        Case{"MszipSetMixed", "mszip", 12000, 0, {50000, 0, 2000, 90000, 1, 40000}, true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(WriterReadbackTest, FoldersOfDifferentMethodsInOneCabinet)
{
    cabwriter::Writer w;
    w.addFile("a", Bytes(40000, 1, true));
    w.startFolder("mszip");
    w.addFile("b", Bytes(40000, 2, true));
    w.startFolder("none");
    w.addFile("c", Bytes(10, 3, true));
    Readback r;
    ERF erf{};
    ASSERT_TRUE(r.Run(w.finish(), erf)) << FDIErrorText(erf.erfOper);
    EXPECT_TRUE(*memfs::Find("out/a") == Bytes(40000, 1, true));
    EXPECT_TRUE(*memfs::Find("out/b") == Bytes(40000, 2, true));
    EXPECT_TRUE(*memfs::Find("out/c") == Bytes(10, 3, true));
}

} // namespace
