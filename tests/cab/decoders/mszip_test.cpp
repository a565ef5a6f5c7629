// MSZIP decoder, driven through its four operations: folders compressed by zlib block by block,
// and hand-built deflate streams for what zlib never writes.
#include "cab/decoders/mszip.h"
#include "tests/cab/decoders/mszip_zlib_blocks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kWindow = 32768;

// Allocation callbacks that count live blocks and can refuse the n-th request.
int g_live = 0;
int g_requests = 0;
int g_refuse = -1;
void* CountingAlloc(uint32_t cb)
{
    if (g_requests++ == g_refuse) return nullptr;
    ++g_live;
    return std::malloc(cb);
}
void CountingFree(void* p)
{
    --g_live;
    std::free(p);
}

struct Result {
    int rc;
    Bytes out;
};

// One decoder with its 32 KB output buffer, which is also its history window.
class Decoder {
public:
    Decoder()
    {
        uint32_t max = kWindow, cbIn = 0;
        EXPECT_EQ(MDICreateDecompression(&max, CountingAlloc, CountingFree, &cbIn, &handle_),
                  MDI_ERROR_NO_ERROR);
    }
    ~Decoder() { EXPECT_EQ(MDIDestroyDecompression(handle_), MDI_ERROR_NO_ERROR); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // The input is copied to a buffer of exactly its size, so a read beyond it is caught.
    Result Decode(Bytes block, uint32_t size = kWindow)
    {
        const int rc = MDIDecompress(handle_, block.data(), uint32_t(block.size()), window_.data(), &size);
        return {rc, rc == MDI_ERROR_NO_ERROR ? Bytes(window_.begin(), window_.begin() + size) : Bytes{}};
    }
    int Reset() { return MDIResetDecompression(handle_); }

private:
    MDI_HANDLE handle_ = nullptr;
    Bytes window_ = Bytes(kWindow, 0xEE);
};

// A Huffman code given by its lengths, with the canonical codes of RFC 1951.
struct HuffCode {
    std::vector<uint8_t> lengths;
    std::vector<uint16_t> codes;

    explicit HuffCode(std::vector<uint8_t> lens) : lengths(std::move(lens)), codes(lengths.size())
    {
        unsigned count[16] = {}, next[16] = {};
        for (uint8_t l : lengths) ++count[l];
        count[0] = 0;
        for (unsigned len = 1, code = 0; len < 16; ++len) next[len] = code = (code + count[len - 1]) << 1;
        for (size_t s = 0; s < lengths.size(); ++s)
            if (lengths[s]) codes[s] = uint16_t(next[lengths[s]]++);
    }
};

// Lengths from a {code length: number of symbols} list, given to symbols 0, 1, ... in turn.
std::vector<uint8_t> LengthsFromCounts(const std::map<unsigned, unsigned>& counts, size_t symbols)
{
    std::vector<uint8_t> lengths;
    for (auto [len, n] : counts) lengths.insert(lengths.end(), n, uint8_t(len));
    lengths.resize(symbols, 0);
    return lengths;
}

const HuffCode& FixedLitLen()
{
    static const HuffCode code([] {
        std::vector<uint8_t> l(288, 8);
        std::fill(l.begin() + 144, l.begin() + 256, 9);
        std::fill(l.begin() + 256, l.begin() + 280, 7);
        return l;
    }());
    return code;
}
const HuffCode& FixedDist()
{
    static const HuffCode code(std::vector<uint8_t>(32, 5));
    return code;
}

constexpr unsigned kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr unsigned kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr unsigned kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr unsigned kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                     6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

unsigned SymbolFor(const unsigned* base, size_t n, unsigned value)
{
    size_t i = n - 1;
    while (base[i] > value) --i;
    return unsigned(i);
}

// Writes a deflate stream bit by bit and keeps the bytes it should decode to. `expected` starts
// with the history the stream may refer to; Output() leaves that part out.
class DeflateWriter {
public:
    explicit DeflateWriter(Bytes history = {}) : expected_(std::move(history)), historySize_(expected_.size())
    {
    }

    DeflateWriter& Bits(uint32_t value, unsigned n)
    {
        for (unsigned i = 0; i < n; ++i, ++bitCount_) {
            if (bitCount_ % 8 == 0) bytes_.push_back(0);
            bytes_.back() |= uint8_t(((value >> i) & 1) << (bitCount_ % 8));
        }
        return *this;
    }
    DeflateWriter& Code(const HuffCode& c, unsigned sym)
    {
        EXPECT_NE(c.lengths.at(sym), 0) << "symbol " << sym << " has no code";
        for (unsigned i = c.lengths[sym]; i-- > 0;) Bits(c.codes[sym] >> i, 1);
        return *this;
    }
    DeflateWriter& Align()
    {
        bitCount_ = unsigned(bytes_.size()) * 8;
        return *this;
    }
    DeflateWriter& Raw(const Bytes& b)
    {
        Align();
        bytes_.insert(bytes_.end(), b.begin(), b.end());
        bitCount_ = unsigned(bytes_.size()) * 8;
        return *this;
    }
    DeflateWriter& Stored(const Bytes& data, bool final)
    {
        Bits(final, 1)
            .Bits(0, 2)
            .Align()
            .Bits(uint32_t(data.size()), 16)
            .Bits(~uint32_t(data.size()), 16)
            .Raw(data);
        expected_.insert(expected_.end(), data.begin(), data.end());
        return *this;
    }
    DeflateWriter& Fixed(bool final)
    {
        lit_ = &FixedLitLen();
        dist_ = &FixedDist();
        return Bits(final, 1).Bits(1, 2);
    }
    // A dynamic header whose code-length code gives each of 0-15 four bits and uses no repeats.
    DeflateWriter& Dynamic(bool final, const std::vector<uint8_t>& litLen, const std::vector<uint8_t>& dist)
    {
        std::array<uint8_t, 19> cl{};
        std::fill(cl.begin(), cl.begin() + 16, 4);
        std::vector<std::pair<unsigned, unsigned>> seq;
        for (uint8_t l : litLen) seq.push_back({l, 0});
        for (uint8_t l : dist) seq.push_back({l, 0});
        return DynamicRaw(final, unsigned(litLen.size()) - 257, unsigned(dist.size()) - 1, cl, seq);
    }
    // A dynamic header as given: the fields, the code-length code (by symbol) and the
    // code-length symbols with their extra bits. The codes it declares are used afterwards.
    DeflateWriter& DynamicRaw(bool final, unsigned hlitField, unsigned hdistField,
                              const std::array<uint8_t, 19>& cl,
                              const std::vector<std::pair<unsigned, unsigned>>& seq)
    {
        static constexpr uint8_t kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                               11, 4,  12, 3, 13, 2, 14, 1, 15};
        unsigned hclen = 19;
        while (hclen > 4 && cl[kOrder[hclen - 1]] == 0) --hclen;
        Bits(final, 1).Bits(2, 2).Bits(hlitField, 5).Bits(hdistField, 5).Bits(hclen - 4, 4);
        for (unsigned i = 0; i < hclen; ++i) Bits(cl[kOrder[i]], 3);
        const HuffCode clCode(std::vector<uint8_t>(cl.begin(), cl.end()));
        std::vector<uint8_t> lengths;
        for (auto [sym, extra] : seq) {
            Code(clCode, sym);
            if (sym < 16)
                lengths.push_back(uint8_t(sym));
            else if (sym == 16)
                Bits(extra, 2),
                    lengths.insert(lengths.end(), extra + 3, lengths.empty() ? 0 : lengths.back());
            else if (sym == 17)
                Bits(extra, 3), lengths.insert(lengths.end(), extra + 3, 0);
            else
                Bits(extra, 7), lengths.insert(lengths.end(), extra + 11, 0);
        }
        const size_t hlit = hlitField + 257;
        if (lengths.size() >= hlit) {
            litCode_.emplace(std::vector<uint8_t>(lengths.begin(), lengths.begin() + hlit));
            distCode_.emplace(std::vector<uint8_t>(lengths.begin() + hlit, lengths.end()));
            lit_ = &*litCode_;
            dist_ = &*distCode_;
        }
        return *this;
    }
    DeflateWriter& Literal(uint8_t b)
    {
        expected_.push_back(b);
        return Code(*lit_, b);
    }
    DeflateWriter& Literals(const std::string& s)
    {
        for (char c : s) Literal(uint8_t(c));
        return *this;
    }
    DeflateWriter& Match(unsigned length, unsigned distance)
    {
        const unsigned l = SymbolFor(kLengthBase, 29, length), d = SymbolFor(kDistBase, 30, distance);
        Code(*lit_, 257 + l).Bits(length - kLengthBase[l], kLengthExtra[l]);
        Code(*dist_, d).Bits(distance - kDistBase[d], kDistExtra[d]);
        for (unsigned i = 0; i < length && distance <= expected_.size(); ++i)
            expected_.push_back(expected_[expected_.size() - distance]);
        return *this;
    }
    // A bare literal/length or distance symbol, without extra bits or expected output.
    DeflateWriter& Symbol(unsigned sym) { return Code(*lit_, sym); }
    DeflateWriter& DistanceSymbol(unsigned sym) { return Code(*dist_, sym); }
    DeflateWriter& End() { return Symbol(256); }

    Bytes Block() const
    {
        Bytes b = {'C', 'K'};
        b.insert(b.end(), bytes_.begin(), bytes_.end());
        return b;
    }
    Bytes Output() const { return Bytes(expected_.begin() + historySize_, expected_.end()); }

private:
    Bytes bytes_;
    unsigned bitCount_ = 0;
    Bytes expected_;
    size_t historySize_;
    const HuffCode* lit_ = nullptr;
    const HuffCode* dist_ = nullptr;
    std::optional<HuffCode> litCode_, distCode_;
};

Bytes Pattern(size_t n, uint64_t seed)
{
    Bytes b(n);
    mszip_blocks::Random rng(seed);
    for (auto& x : b) x = uint8_t(rng.Next());
    return b;
}

// A folder's first block, filling the whole window with stored bytes.
Bytes FullStoredBlock(const Bytes& data)
{
    return DeflateWriter().Stored(data, true).Block();
}

TEST(MszipCreate, SizeQueryKeepsTheBlockMaximumWithinTheWindow)
{
    const std::pair<uint32_t, uint32_t> cases[] = {{0, 32768}, {40000, 32768}, {32768, 32768}, {1000, 1000}};
    for (auto [asked, given] : cases) {
        uint32_t max = asked, cbIn = 0;
        EXPECT_EQ(MDICreateDecompression(&max, nullptr, nullptr, &cbIn, nullptr), MDI_ERROR_NO_ERROR);
        EXPECT_EQ(max, given) << asked;
        EXPECT_EQ(cbIn, given + 12) << asked;
    }
}

TEST(MszipCreate, FailedAllocationLeavesNothingBehind)
{
    for (int refuse : {0, 1}) {
        g_requests = 0;
        g_refuse = refuse;
        uint32_t max = kWindow, cbIn = 0;
        MDI_HANDLE h = &max;
        EXPECT_EQ(MDICreateDecompression(&max, CountingAlloc, CountingFree, &cbIn, &h),
                  MDI_ERROR_NOT_ENOUGH_MEMORY);
        EXPECT_EQ(h, nullptr);
        EXPECT_EQ(g_live, 0);
    }
    g_refuse = -1;
}

// Frees nothing, so that a destroyed handle can still be looked at.
std::vector<void*> g_kept;
void KeepingFree(void* p)
{
    g_kept.push_back(p);
}

TEST(MszipHandle, OnlyALiveDecoderIsServed)
{
    uint32_t max = kWindow, cbIn = 0;
    MDI_HANDLE h = nullptr;
    ASSERT_EQ(MDICreateDecompression(&max, CountingAlloc, KeepingFree, &cbIn, &h), MDI_ERROR_NO_ERROR);
    EXPECT_EQ(MDIResetDecompression(h), MDI_ERROR_NO_ERROR);
    EXPECT_EQ(MDIDestroyDecompression(h), MDI_ERROR_NO_ERROR);
    EXPECT_EQ(g_kept.size(), 2u);  // the state and the handle

    Bytes block = DeflateWriter().Fixed(true).Literals("x").End().Block();
    Bytes out(kWindow);
    uint32_t size = kWindow;
    for (MDI_HANDLE bad : {h, MDI_HANDLE(nullptr)}) {
        EXPECT_EQ(MDIDecompress(bad, block.data(), uint32_t(block.size()), out.data(), &size),
                  MDI_ERROR_BAD_PARAMETERS);
        EXPECT_EQ(MDIResetDecompression(bad), MDI_ERROR_BAD_PARAMETERS);
        EXPECT_EQ(MDIDestroyDecompression(bad), MDI_ERROR_BAD_PARAMETERS);
    }
    for (void* p : g_kept) CountingFree(p);
    g_kept.clear();
    EXPECT_EQ(g_live, 0);
}

TEST(MszipDecompress, DecodesZlibFoldersBlockByBlock)
{
    const size_t size = 4 * kWindow + 1234;
    const std::pair<const char*, Bytes> inputs[] = {
        {"text", mszip_blocks::MakeText(size)},
        {"binary", mszip_blocks::MakeBinary(size)},
        {"random", mszip_blocks::MakeRandom(size)},
        {"zeros", Bytes(size, 0)},
    };
    const std::pair<int, int> settings[] = {{0, Z_DEFAULT_STRATEGY},
                                            {1, Z_DEFAULT_STRATEGY},
                                            {6, Z_DEFAULT_STRATEGY},
                                            {9, Z_DEFAULT_STRATEGY},
                                            {6, Z_FIXED},
                                            {6, Z_HUFFMAN_ONLY},
                                            {6, Z_RLE}};
    Decoder dec;  // one decoder for every folder, reset between them
    for (const auto& [name, data] : inputs) {
        for (auto [level, strategy] : settings) {
            SCOPED_TRACE(std::string(name) + " level " + std::to_string(level) + " strategy " +
                         std::to_string(strategy));
            ASSERT_EQ(dec.Reset(), MDI_ERROR_NO_ERROR);
            Bytes decoded;
            for (const Bytes& block : mszip_blocks::Compress(data, level, strategy)) {
                ASSERT_LE(block.size(), kWindow + 12);
                Result r = dec.Decode(block);
                ASSERT_EQ(r.rc, MDI_ERROR_NO_ERROR);
                decoded.insert(decoded.end(), r.out.begin(), r.out.end());
            }
            EXPECT_TRUE(decoded == data);
        }
    }
}

TEST(MszipDecompress, MatchAcrossTheBlockBoundaryReadsTheEndOfThePreviousBlock)
{
    const Bytes first = Pattern(kWindow, 7);
    Decoder dec;
    ASSERT_EQ(dec.Decode(FullStoredBlock(first)).out, first);

    // 40 bytes into the second block, distance 100 starts at offset 32708 of the window; a
    // length of 70 runs off its end and on into the block's own first bytes.
    DeflateWriter w(first);
    w.Fixed(true).Literals("0123456789abcdefghijklmnopqrstuvwxyzABCD").Match(70, 100).End();
    Result r = dec.Decode(w.Block());
    ASSERT_EQ(r.rc, MDI_ERROR_NO_ERROR);
    ASSERT_EQ(r.out.size(), 110u);
    EXPECT_TRUE(std::equal(r.out.begin() + 40, r.out.begin() + 100, first.begin() + 32708));
    EXPECT_TRUE(std::equal(r.out.begin() + 100, r.out.end(), r.out.begin()));
    EXPECT_EQ(r.out, w.Output());
}

TEST(MszipDecompress, MatchBeforeTheStartOfTheFolderFails)
{
    const Bytes full = Pattern(kWindow, 8);
    const Bytes forty(40, 'q');
    auto reachingBack = [&](unsigned distance) {
        return DeflateWriter().Fixed(true).Literals(std::string(40, 'q')).Match(10, distance).End().Block();
    };
    {
        Decoder dec;  // a new decoder: no earlier bytes at all
        EXPECT_EQ(dec.Decode(reachingBack(41)).rc, MDI_ERROR_FAILED);
        Result r = dec.Decode(reachingBack(40));
        EXPECT_EQ(r.rc, MDI_ERROR_NO_ERROR);
        EXPECT_EQ(r.out, Bytes(50, 'q'));
    }
    {
        Decoder dec;  // a full block, then the folder is restarted
        ASSERT_EQ(dec.Decode(FullStoredBlock(full)).rc, MDI_ERROR_NO_ERROR);
        ASSERT_EQ(dec.Reset(), MDI_ERROR_NO_ERROR);
        EXPECT_EQ(dec.Decode(reachingBack(100)).rc, MDI_ERROR_FAILED);
    }
    {
        Decoder dec;  // a block shorter than the window leaves no usable history behind it
        ASSERT_EQ(dec.Decode(FullStoredBlock(full)).rc, MDI_ERROR_NO_ERROR);
        ASSERT_EQ(dec.Decode(DeflateWriter().Stored(forty, true).Block()).rc, MDI_ERROR_NO_ERROR);
        EXPECT_EQ(dec.Decode(reachingBack(100)).rc, MDI_ERROR_FAILED);
    }
    {
        Decoder dec;  // a failed block leaves none either
        ASSERT_EQ(dec.Decode(FullStoredBlock(full)).rc, MDI_ERROR_NO_ERROR);
        ASSERT_EQ(dec.Decode({'C', 'K', 0x07}).rc, MDI_ERROR_FAILED);
        EXPECT_EQ(dec.Decode(reachingBack(100)).rc, MDI_ERROR_FAILED);
    }
}

TEST(MszipDecompress, OutputStopsAtTheAllowance)
{
    // 32700 stored bytes and a fixed block whose match runs 190 bytes past the window.
    DeflateWriter w;
    w.Stored(Pattern(32700, 9), false).Fixed(true).Match(258, 1).End();
    const Bytes block = w.Block(), all = w.Output();
    const std::pair<uint32_t, uint32_t> cases[] = {{kWindow, kWindow}, {40000, kWindow}, {100, 100}, {0, 0}};
    for (auto [asked, produced] : cases) {
        Decoder dec;
        Result r = dec.Decode(block, asked);
        ASSERT_EQ(r.rc, MDI_ERROR_NO_ERROR) << asked;
        EXPECT_TRUE(r.out == Bytes(all.begin(), all.begin() + produced)) << asked;
    }
    // Cut in the middle of a match.
    Decoder dec;
    Bytes matchBlock = DeflateWriter().Fixed(true).Literals("ab").Match(100, 2).End().Block();
    EXPECT_EQ(dec.Decode(matchBlock, 7).out, (Bytes{'a', 'b', 'a', 'b', 'a', 'b', 'a'}));
}

TEST(MszipDecompress, UnusualButValidStreams)
{
    const std::array<uint8_t, 19> cl16 = [] {
        std::array<uint8_t, 19> cl{};
        cl[0] = cl[1] = cl[16] = cl[18] = 2;
        return cl;
    }();
    struct Case {
        const char* name;
        DeflateWriter writer;
    };
    std::vector<Case> cases;
    // An empty stored block (LEN 0, NLEN 0xFFFF) produces nothing.
    cases.push_back(
        {"empty stored block", DeflateWriter().Stored({}, false).Fixed(true).Literals("after").End()});
    // The first code-length symbol is 16: it repeats the length 0 for literals 0-2.
    cases.push_back(
        {"first code length repeats",
         DeflateWriter()
             .DynamicRaw(true, 0, 0, cl16, {{16, 0}, {18, 51}, {1, 0}, {18, 127}, {18, 41}, {1, 0}, {0, 0}})
             .Literals("AAAA")
             .End()});
    // A distance code of a single 1-bit code is accepted.
    std::vector<uint8_t> lit(257, 0);
    lit['a'] = lit['b'] = 2;
    lit[256] = 2;
    lit.push_back(2);  // length symbol 257: a match of 3
    std::vector<uint8_t> oneDistance(30, 0);
    oneDistance[0] = 1;
    cases.push_back(
        {"single 1-bit distance code",
         DeflateWriter().Dynamic(true, lit, oneDistance).Literals("ab").Match(3, 1).Literals("ba").End()});
    // Runs and short overlapping periods.
    cases.push_back({"overlapping matches", DeflateWriter()
                                                .Fixed(true)
                                                .Literals("xyz")
                                                .Match(20, 3)
                                                .Match(9, 1)
                                                .Match(40, 7)
                                                .Match(258, 25)
                                                .End()});
    // Bytes after the final block are ignored.
    cases.push_back(
        {"trailing bytes", DeflateWriter().Fixed(true).Literals("end").End().Raw({1, 2, 3, 4, 5})});
    // Several blocks of all three kinds in one.
    cases.push_back({"mixed blocks", DeflateWriter()
                                         .Fixed(false)
                                         .Literals("one")
                                         .End()
                                         .Stored({'t', 'w', 'o'}, false)
                                         .Dynamic(true, lit, oneDistance)
                                         .Literals("ab")
                                         .Match(3, 1)
                                         .End()});
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        Decoder dec;
        Result r = dec.Decode(c.writer.Block());
        ASSERT_EQ(r.rc, MDI_ERROR_NO_ERROR);
        EXPECT_EQ(r.out, c.writer.Output());
        EXPECT_FALSE(r.out.empty());
    }
}

TEST(MszipDecompress, MalformedBlocksFail)
{
    std::vector<uint8_t> twoOfLengthTwo(257, 0);
    twoOfLengthTwo['a'] = twoOfLengthTwo[256] = 2;  // half the code space unused
    std::vector<uint8_t> oversubscribed(257, 1);
    std::vector<uint8_t> valid(258, 0);
    valid['a'] = 1;
    valid[256] = valid[257] = 2;
    std::array<uint8_t, 19> cl{};
    cl[0] = cl[17] = cl[18] = 2;
    cl[1] = 2;

    const std::pair<const char*, Bytes> cases[] = {
        {"no bytes", {}},
        {"one byte", {'C'}},
        {"no signature", {'C', 'X', 0x03, 0x00}},
        {"block type 3", {'C', 'K', 0x07}},
        {"NLEN not the complement", {'C', 'K', 0x01, 0x02, 0x00, 0xFD, 0xFE, 'a', 'b'}},
        {"stored LEN beyond the input", {'C', 'K', 0x01, 0x0A, 0x00, 0xF5, 0xFF, 'a', 'b', 'c'}},
        {"stored header cut short", {'C', 'K', 0x01, 0x00, 0x00, 0xFF}},
        {"HLIT 287", DeflateWriter().Bits(1, 1).Bits(2, 2).Bits(30, 5).Bits(0, 5).Bits(0, 4).Block()},
        {"HDIST 31", DeflateWriter().Bits(1, 1).Bits(2, 2).Bits(0, 5).Bits(30, 5).Bits(0, 4).Block()},
        // 'a' and end-of-block get 1 bit each; the last repeat asks for 3 zeros where 1 is left.
        {"repeat past the lengths",
         DeflateWriter()
             .DynamicRaw(true, 0, 0, cl, {{18, 86}, {1, 0}, {18, 127}, {18, 9}, {1, 0}, {17, 0}})
             .Literals("aa")
             .End()
             .Block()},
        {"incomplete literal code",
         DeflateWriter().Dynamic(true, twoOfLengthTwo, {1}).Literals("a").End().Block()},
        {"over-subscribed literal code", DeflateWriter().Dynamic(true, oversubscribed, {1}).Block()},
        {"no distance code", DeflateWriter().Dynamic(true, valid, {0}).Literals("a").Symbol(257).Block()},
        {"fixed distance 30",
         DeflateWriter().Fixed(true).Literals("abc").Symbol(257).DistanceSymbol(30).Block()},
        {"fixed distance 31",
         DeflateWriter().Fixed(true).Literals("abc").Symbol(257).DistanceSymbol(31).Block()},
        {"fixed length 286", DeflateWriter().Fixed(true).Literals("abc").Symbol(286).Block()},
        {"fixed length 287", DeflateWriter().Fixed(true).Literals("abc").Symbol(287).Block()},
        {"data cut before the end of block", DeflateWriter().Fixed(true).Literals("abcdefgh").Block()},
        {"non-final block then nothing", DeflateWriter().Fixed(false).Literals("abc").End().Block()},
    };
    for (const auto& [name, block] : cases) {
        Decoder dec;
        EXPECT_EQ(dec.Decode(block).rc, MDI_ERROR_FAILED) << name;
    }
}

TEST(MszipDecompress, InputLimitIsTheBlockMaximumPlusTwelve)
{
    const Bytes data = Pattern(kWindow, 10);
    Bytes block = FullStoredBlock(data);  // 32775 bytes
    block.resize(kWindow + 12, 0);
    Decoder dec;
    EXPECT_EQ(dec.Decode(block).out, data);
    block.push_back(0);
    EXPECT_EQ(dec.Decode(block).rc, MDI_ERROR_BUFFER_OVERFLOW);
}

// The largest tables any complete code needs: 852 literal/length entries (root 9 bits) and 592
// distance entries (root 6 bits). Every symbol of both codes is used once.
TEST(MszipTables, WorstCaseCodeSetsFit)
{
    const auto lit =
        LengthsFromCounts({{1, 1}, {2, 1}, {10, 233}, {11, 45}, {12, 1}, {13, 1}, {14, 1}, {15, 2}}, 285);
    const auto dist = LengthsFromCounts({{1, 1},
                                         {2, 1},
                                         {3, 1},
                                         {7, 13},
                                         {8, 5},
                                         {9, 1},
                                         {10, 1},
                                         {11, 1},
                                         {12, 1},
                                         {13, 1},
                                         {14, 1},
                                         {15, 2}},
                                        29);
    DeflateWriter w;
    w.Dynamic(true, lit, dist);
    for (unsigned i = 0; i < 17000; ++i) w.Literal(uint8_t(i * 7));
    for (unsigned s = 0; s < 28; ++s) w.Match(kLengthBase[s], kDistBase[s]);
    w.Match(3, kDistBase[28]).End();
    Decoder dec;
    Result r = dec.Decode(w.Block());
    ASSERT_EQ(r.rc, MDI_ERROR_NO_ERROR);
    EXPECT_EQ(r.out, w.Output());
}

}  // namespace
