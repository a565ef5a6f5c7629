// The writer's output checked byte by byte against the cabinet layout, and sets walked with a
// small independent reader (zlib inflate for MSZIP) so layout rules hold apart from FDI.
#include "tools/cabwriter/checksum.h"
#include "tools/cabwriter/methods.h"
#include "tools/cabwriter/names.h"
#include "tools/cabwriter/writer.h"

#include <gtest/gtest.h>
#include <map>
#include <random>
#include <zlib.h>

namespace {

using cabwriter::Cabinet;
using cabwriter::Settings;
using cabwriter::Writer;

uint16_t U16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
uint32_t U32(const std::vector<uint8_t>& b, size_t at) { return U16(b, at) | uint32_t(U16(b, at + 2)) << 16; }

std::vector<uint8_t> Bytes(size_t n, uint32_t seed, bool compressible)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = compressible ? uint8_t("abcdefgh"[rng() % 8]) : uint8_t(rng());
    return v;
}

struct Entry {
    uint32_t cbFile, uoff;
    uint16_t iFolder, date, time, attribs;
    std::string name;
};
struct Block {
    uint16_t cbUncomp;
    std::vector<uint8_t> data;
};
struct Parsed {
    uint16_t flags, setID, iCabinet;
    std::string prev, next;
    std::vector<uint16_t> types;
    std::vector<std::vector<Block>> blocks;  // per folder
    std::vector<Entry> files;
};

// Reads one cabinet as the layout describes it, checking sizes and every checksum.
Parsed Parse(const Cabinet& cab, uint8_t dataReserve = 0, uint8_t folderReserve = 0)
{
    const auto& b = cab.bytes;
    Parsed p{};
    EXPECT_EQ(0, memcmp(b.data(), "MSCF", 4));
    EXPECT_EQ(b.size(), U32(b, 8));
    EXPECT_EQ(0x0103, U16(b, 24));
    p.flags = U16(b, 30);
    p.setID = U16(b, 32);
    p.iCabinet = U16(b, 34);
    size_t at = 36;
    if (p.flags & 4)
        at += 4 + U16(b, 36);
    auto str = [&] { std::string s(reinterpret_cast<const char*>(&b[at])); at += s.size() + 1; return s; };
    if (p.flags & 1) { p.prev = str(); str(); }
    if (p.flags & 2) { p.next = str(); str(); }
    for (unsigned f = 0; f < U16(b, 26); ++f, at += 8 + folderReserve) {
        p.types.push_back(U16(b, at + 6));
        size_t d = U32(b, at);
        p.blocks.emplace_back();
        for (unsigned k = 0; k < U16(b, at + 4); ++k) {
            const uint16_t cbData = U16(b, d + 4);
            const uint8_t* payload = &b[d + 8 + dataReserve];
            const uint32_t csum = U32(b, d);
            if (csum != 0) {
                EXPECT_EQ(csum, cabwriter::Checksum(&b[d + 4], 4 + dataReserve,
                                                    cabwriter::Checksum(payload, cbData, 0)));
            }
            p.blocks.back().push_back({U16(b, d + 6), {payload, payload + cbData}});
            d += 8 + dataReserve + cbData;
        }
    }
    at = U32(b, 16);
    for (unsigned f = 0; f < U16(b, 28); ++f) {
        Entry e{U32(b, at), U32(b, at + 4), U16(b, at + 8), U16(b, at + 10), U16(b, at + 12), U16(b, at + 14), {}};
        at += 16;
        e.name = str();
        p.files.push_back(e);
    }
    return p;
}

// Decodes a folder's blocks (split pieces already joined) into its bytes.
std::vector<uint8_t> Decode(uint16_t type, const std::vector<Block>& blocks)
{
    std::vector<uint8_t> out;
    for (const Block& blk : blocks) {
        if (type == 0) {
            EXPECT_EQ(blk.data.size(), blk.cbUncomp);
            out.insert(out.end(), blk.data.begin(), blk.data.end());
            continue;
        }
        EXPECT_EQ(1, type);
        EXPECT_LE(blk.data.size(), 32780u);
        EXPECT_EQ('C', blk.data[0]);
        EXPECT_EQ('K', blk.data[1]);
        z_stream z{};
        inflateInit2(&z, -15);
        if (out.size() >= 32768)
            inflateSetDictionary(&z, out.data() + out.size() - 32768, 32768);
        const size_t start = out.size();
        out.resize(start + blk.cbUncomp);
        z.next_in = const_cast<uint8_t*>(blk.data.data() + 2);
        z.avail_in = uInt(blk.data.size() - 2);
        z.next_out = out.data() + start;
        z.avail_out = blk.cbUncomp;
        EXPECT_EQ(Z_STREAM_END, inflate(&z, Z_FINISH));
        EXPECT_EQ(0u, z.avail_out);
        inflateEnd(&z);
    }
    return out;
}

// Walks a set the way a reader must: a folder runs on into the next cabinet's folder 0, every
// file is listed in each cabinet holding a piece of a block it overlaps, continued entries
// pair up in order, and no file begins in the continued part of a folder.
std::map<std::string, std::vector<uint8_t>> Walk(const std::vector<Cabinet>& cabs, uint32_t limit = 0)
{
    std::map<std::string, std::vector<uint8_t>> files;
    std::vector<Block> carried;    // blocks of the folder continued into the next cabinet
    std::vector<Entry> members;    // and the entries seen for it so far
    uint16_t carriedType = 0;
    std::vector<std::string> carriedNames;
    for (size_t c = 0; c < cabs.size(); ++c) {
        if (limit) {
            EXPECT_LE(cabs[c].bytes.size(), limit);
        }
        Parsed p = Parse(cabs[c]);
        EXPECT_EQ(c, p.iCabinet);
        EXPECT_EQ(c > 0, (p.flags & 1) != 0);
        EXPECT_EQ(c + 1 < cabs.size(), (p.flags & 2) != 0);
        if (c + 1 < cabs.size()) {
            EXPECT_EQ(cabs[c + 1].name, p.next);
        }
        auto fromPrev = [](const Entry& e) { return e.iFolder == 0xFFFD || e.iFolder == 0xFFFF; };
        auto toNext = [](const Entry& e) { return e.iFolder == 0xFFFE || e.iFolder == 0xFFFF; };
        std::vector<std::string> names;
        size_t i = 0;
        for (; i < p.files.size() && fromPrev(p.files[i]); ++i)
            names.push_back(p.files[i].name);
        EXPECT_EQ(carriedNames, names) << "cabinet " << c;
        carriedNames.clear();
        for (const Entry& e : p.files) {
            if (toNext(e))
                carriedNames.push_back(e.name);
            else
                EXPECT_TRUE(carriedNames.empty()) << "entry after a continued one: " << e.name;
        }
        for (size_t f = 0; f < p.types.size(); ++f) {
            const bool first = f == 0, last = f + 1 == p.types.size();
            std::vector<Block> blocks = p.blocks[f];
            if (first && !carried.empty()) {
                EXPECT_EQ(carriedType, p.types[0]);
                if (carried.back().cbUncomp == 0) {  // join the split block
                    carried.back().data.insert(carried.back().data.end(), blocks[0].data.begin(), blocks[0].data.end());
                    carried.back().cbUncomp = blocks[0].cbUncomp;
                    blocks.erase(blocks.begin());
                }
                blocks.insert(blocks.begin(), carried.begin(), carried.end());
                carried.clear();
                for (const Entry& e : p.files)  // a file listed only here would start mid-folder
                    EXPECT_FALSE(e.iFolder == 0 && e.cbFile > 0) << e.name;
            } else {
                members.clear();
            }
            for (const Entry& e : p.files)
                if (e.iFolder == f || (first && fromPrev(e)) || (last && toNext(e)))
                    members.push_back(e);
            if (last && !carriedNames.empty()) {
                carried = blocks;
                carriedType = p.types[f];
                continue;
            }
            std::vector<uint8_t> data = Decode(p.types[f], blocks);
            for (const Entry& e : members) {
                EXPECT_LE(uint64_t(e.uoff) + e.cbFile, data.size()) << e.name;
                files[e.name].assign(data.begin() + e.uoff, data.begin() + e.uoff + e.cbFile);
            }
        }
    }
    EXPECT_TRUE(carried.empty());
    return files;
}

TEST(ChecksumTest, FoldsTailBytesHighFirst)
{
    const uint8_t abcd[] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(0x00616263u, cabwriter::Checksum(abcd, 3, 0));
    EXPECT_EQ(0x64636261u, cabwriter::Checksum(abcd, 4, 0));
    EXPECT_EQ(0x64636261u ^ 0x61u ^ 7u, cabwriter::Checksum((const uint8_t*)"abcda", 5, 7));
}

} // namespace

namespace {

TEST(WriterTest, SingleCabinetLayoutWithReserves)
{
    Settings s;
    s.headerReserve = 6;
    s.folderReserve = 3;
    s.dataReserve = 5;
    s.setID = 0x1234;
    Writer w(s);
    w.addFile("a.txt", {'h', 'i'}, {0x1111, 0x2222, 0x61});
    w.addFile("sub\\empty", {});
    w.startFolder("mszip");
    w.addFile("b.bin", Bytes(70000, 1, true));
    auto cabs = w.finish();
    ASSERT_EQ(1u, cabs.size());
    EXPECT_EQ("data.cab", cabs[0].name);
    const auto& b = cabs[0].bytes;
    EXPECT_EQ(6, U16(b, 36));
    EXPECT_EQ(3, b[38]);
    EXPECT_EQ(5, b[39]);
    EXPECT_EQ((std::vector<uint8_t>{0, 1, 2, 3, 4, 5}), std::vector<uint8_t>(b.begin() + 40, b.begin() + 46));
    Parsed p = Parse(cabs[0], 5, 3);
    EXPECT_EQ(4, p.flags);
    EXPECT_EQ(0x1234, p.setID);
    EXPECT_EQ((std::vector<uint16_t>{0, 1}), p.types);
    ASSERT_EQ(3u, p.files.size());
    EXPECT_EQ("a.txt", p.files[0].name);
    EXPECT_EQ(0x1111, p.files[0].date);
    EXPECT_EQ(0x2222, p.files[0].time);
    EXPECT_EQ(0x61, p.files[0].attribs);
    EXPECT_EQ(2u, p.files[1].uoff);  // an empty file sits where the folder's data stands
    EXPECT_EQ(1, p.files[2].iFolder);
    EXPECT_EQ(0u, p.files[2].uoff);
    ASSERT_EQ(3u, p.blocks[1].size());
    EXPECT_EQ((std::vector<uint16_t>{32768, 32768, 70000 - 65536}),
              (std::vector<uint16_t>{p.blocks[1][0].cbUncomp, p.blocks[1][1].cbUncomp, p.blocks[1][2].cbUncomp}));
    EXPECT_EQ(Bytes(70000, 1, true), Decode(1, p.blocks[1]));
}

TEST(WriterTest, WithoutChecksumsAndReservesEveryCsumIsZero)
{
    Settings s;
    s.checksums = false;
    Writer w(s);
    w.addFile("x", Bytes(40000, 2, false));
    auto cabs = w.finish();
    const auto& b = cabs[0].bytes;
    EXPECT_EQ(0, U16(b, 30));
    const uint32_t first = U32(b, 36);  // first folder entry right after the header
    EXPECT_EQ(0u, U32(b, first));
    EXPECT_EQ(0u, U32(b, first + 8 + 32768));
    Settings r;
    r.reserveField = true;
    Writer w2(r);
    w2.addFile("x", {1});
    auto b2 = w2.finish()[0].bytes;
    EXPECT_EQ(4, U16(b2, 30));
    EXPECT_EQ(0u, U32(b2, 36));
}

TEST(WriterTest, EmptyCabinetHasOnlyItsHeader)
{
    auto cabs = Writer().finish();
    ASSERT_EQ(1u, cabs.size());
    EXPECT_EQ(36u, cabs[0].bytes.size());
    EXPECT_EQ(0, U16(cabs[0].bytes, 26));
    EXPECT_EQ(0, U16(cabs[0].bytes, 28));
}

TEST(WriterTest, IncompressibleMszipBlocksStayWithinTheReaderLimit)
{
    Writer w({.method = "mszip"});
    w.addFile("noise", Bytes(100000, 3, false));
    Parsed p = Parse(w.finish()[0]);
    for (const Block& blk : p.blocks[0])
        EXPECT_LE(blk.data.size(), 32780u);
    EXPECT_EQ(Bytes(100000, 3, false), Decode(1, p.blocks[0]));
}

struct SetCase {
    const char* label;
    const char* method;
    uint32_t limit;
    std::vector<size_t> sizes;  // one file each; 0 makes an empty file
    bool compressible;
};

void PrintTo(const SetCase& c, std::ostream* os) { *os << c.label; }

class SetRoundTrip : public ::testing::TestWithParam<SetCase> {};

TEST_P(SetRoundTrip, EveryFileComesBackAndEveryCabinetKeepsTheRules)
{
    const SetCase& c = GetParam();
    Writer w({.method = c.method, .maxCabinetSize = c.limit, .name = "set.cab"});
    std::map<std::string, std::vector<uint8_t>> want;
    for (size_t i = 0; i < c.sizes.size(); ++i) {
        std::string name = "dir\\file" + std::to_string(i) + ".dat";
        want[name] = Bytes(c.sizes[i], uint32_t(i + 10), c.compressible);
        w.addFile(name, want[name]);
    }
    auto cabs = w.finish();
    EXPECT_EQ(want, Walk(cabs, c.limit));
    if (c.limit) {
        EXPECT_GT(cabs.size(), 1u);
        EXPECT_EQ("set2.cab", cabs[1].name);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sets, SetRoundTrip,
    ::testing::Values(
        SetCase{"OneCabinetStored", "none", 0, {10, 0, 100000, 5}, false},
        SetCase{"OneCabinetMszip", "mszip", 0, {10, 0, 100000, 5}, true},
        SetCase{"BigFileOverManyStored", "none", 20000, {3, 150000, 7}, false},
        SetCase{"BigFileOverManyMszip", "mszip", 40000, {3, 300000, 7, 0}, false},
        SetCase{"ManySmallFilesStored", "none", 20000, std::vector<size_t>(60, 1500), false},
        SetCase{"ManySmallFilesMszip", "mszip", 33000, std::vector<size_t>(120, 3000), false},
        SetCase{"MixedCompressible", "mszip", 12000, {50000, 0, 2000, 90000, 1, 40000}, true},
        SetCase{"SplitBlockSharedByFiles", "none", 33000, {30000, 1000, 1000, 1000, 40000}, false}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(WriterTest, RefusesWhatItCannotWrite)
{
    EXPECT_THROW(Writer({.method = "zip"}), std::runtime_error);
    Writer w;
    EXPECT_THROW(w.startFolder("lzw"), std::runtime_error);
    EXPECT_THROW(w.addFile(std::string(256, 'n'), {}), std::runtime_error);
    EXPECT_THROW(w.addFile("", {}), std::runtime_error);
    Writer tiny({.maxCabinetSize = 200});
    tiny.addFile("x", Bytes(1000, 1, false));
    EXPECT_THROW(tiny.finish(), std::runtime_error);
}

TEST(WriterTest, SetMemberNamesNumberFromTwo)
{
    EXPECT_EQ("a.cab", cabwriter::SetMemberName("a.cab", 0));
    EXPECT_EQ("a3.cab", cabwriter::SetMemberName("a.cab", 2));
    EXPECT_EQ("pack2", cabwriter::SetMemberName("pack", 1));
    EXPECT_EQ("d.x\\pack2", cabwriter::SetMemberName("d.x\\pack", 1));
}

TEST(StoredNameTest, ConvertsToCodePage936WithBackslashes)
{
    EXPECT_EQ("dir\\sub\\a.txt", cabwriter::StoredName("dir/sub/a.txt"));
    // U+4E57 is 81 5C: its trail byte is not a separator and stays as it is.
    EXPECT_EQ(std::string("d\\\x81\x5C\\x", 6), cabwriter::StoredName("d/\xE4\xB9\x97/x"));
    EXPECT_THROW(cabwriter::StoredName("smile\xF0\x9F\x98\x80"), std::runtime_error);
}

TEST(MethodsTest, KnowsItsNames)
{
    EXPECT_EQ(0, cabwriter::MakeEncoder("none")->typeCompress());
    EXPECT_EQ(1, cabwriter::MakeEncoder("mszip")->typeCompress());
    EXPECT_EQ(nullptr, cabwriter::MakeEncoder("MSZIP"));
    int n = -1;
    EXPECT_TRUE(cabwriter::MethodParameter("lzx:21", "lzx", n));
    EXPECT_EQ(21, n);
    for (const char* bad : {"lzx", "lzx:", "lzx:x", "lzx:-1", "lzx:32", "lzx:+3", "quantum:3"})
        EXPECT_FALSE(cabwriter::MethodParameter(bad, "lzx", n)) << bad;
}

} // namespace
