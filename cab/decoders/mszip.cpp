// MSZIP decoder: each block is "CK" followed by deflate data (RFC 1951), decoded straight into
// the caller's 32 KB output buffer, which keeps the history that the next block refers to.
#include "cab/decoders/mszip.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>

namespace {

constexpr uint32_t kTagAlive = 0x4349444D;  // "MDIC" as stored in memory
constexpr uint32_t kWindowSize = 32768;
constexpr uint32_t kInputSlack = 12;  // a block's input may exceed its output by this much

// One lookup-table entry. `info` holds the kind in its high nibble and, in the low nibble, the
// number of extra bits of a length or distance base, or the index width of a sub-table.
struct Entry {
    uint8_t bits;  // bits consumed: the whole code and the extra bits of a length or distance
                   // (0 for a link and for an invalid code)
    uint8_t info;
    uint16_t value;  // literal byte or code-length symbol, length/distance base, sub-table offset
};
enum : uint8_t { kSymbol = 0x00, kBase = 0x10, kEndOfBlock = 0x20, kInvalid = 0x30, kLink = 0x40 };

// Table room. A table is a root indexed by the next 9 (literal/length) or 6 (distance) bits,
// plus one sub-table per root prefix that longer codes share, as wide as the longest of them.
// The largest size any complete code can reach under this layout, found by searching every
// count of code lengths (1 to 15 bits, at most 286 resp. 30 codes), is 852 resp. 592 entries.
// The code-length code (7-bit root, codes of at most 7 bits) needs at most 128.
constexpr unsigned kLitLenRoom = 852;
constexpr unsigned kDistRoom = 592;
constexpr unsigned kMaxRootBits = 9;
static_assert(kLitLenRoom < (2u << kMaxRootBits) && kDistRoom < (2u << kMaxRootBits),
              "a room admits no root wider than kMaxRootBits");

constexpr unsigned kLitLenBits = 9, kDistBits = 6, kCodeLengthBits = 7;
constexpr unsigned kMaxLitLen = 286, kMaxDist = 30;

// What each symbol decodes to, before its code length is known (RFC 1951, 3.2.5).
constexpr std::array<Entry, 288> kLitLenSymbols = [] {
    std::array<Entry, 288> t{};
    for (unsigned i = 0; i < 256; ++i) t[i] = {0, kSymbol, uint16_t(i)};
    t[256] = {0, kEndOfBlock, 0};
    unsigned base = 3;
    for (unsigned i = 0; i < 28; ++i) {
        unsigned extra = i < 8 ? 0 : (i - 4) / 4;
        t[257 + i] = {0, uint8_t(kBase | extra), uint16_t(base)};
        base += 1u << extra;
    }
    t[285] = {0, kBase, 258};
    t[286] = t[287] = {0, kInvalid, 0};
    return t;
}();

constexpr std::array<Entry, 32> kDistSymbols = [] {
    std::array<Entry, 32> t{};
    unsigned base = 1;
    for (unsigned i = 0; i < 30; ++i) {
        unsigned extra = i < 4 ? 0 : i / 2 - 1;
        t[i] = {0, uint8_t(kBase | extra), uint16_t(base)};
        base += 1u << extra;
    }
    t[30] = t[31] = {0, kInvalid, 0};
    return t;
}();

constexpr std::array<Entry, 19> kCodeLengthSymbols = [] {
    std::array<Entry, 19> t{};
    for (unsigned i = 0; i < 19; ++i) t[i] = {0, kSymbol, uint16_t(i)};
    return t;
}();

constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

unsigned Reverse(unsigned code, unsigned length)
{
    unsigned r = 0;
    for (unsigned i = 0; i < length; ++i, code >>= 1) r = (r << 1) | (code & 1);
    return r;
}

// Builds the lookup table of the code given by `lengths` (0: symbol unused) into at most `room`
// entries and returns its root width in `rootBits`. Codes are canonical (RFC 1951, 3.2.2). An
// over-subscribed code fails, and so does an incomplete one unless it is a single 1-bit code.
// A code without symbols gives a one-entry table that rejects whatever it is asked.
bool BuildTable(const uint8_t* lengths, unsigned count, const Entry* symbols, unsigned wantBits, Entry* table,
                unsigned room, unsigned& rootBits)
{
    unsigned perLength[16] = {};
    for (unsigned i = 0; i < count; ++i) ++perLength[lengths[i]];
    unsigned maxLength = 15;
    while (maxLength > 0 && perLength[maxLength] == 0) --maxLength;
    if (maxLength == 0) {
        table[0] = {0, kInvalid, 0};
        rootBits = 0;
        return true;
    }
    int left = 1;
    for (unsigned len = 1; len <= 15; ++len) {
        left = 2 * left - int(perLength[len]);
        if (left < 0) return false;
    }
    if (left > 0 && maxLength != 1) return false;
    unsigned minLength = 1;
    while (perLength[minLength] == 0) ++minLength;
    const unsigned root = std::clamp(wantBits, minLength, maxLength);
    if ((1u << root) > room) return false;

    unsigned firstCode[16] = {};
    for (unsigned len = 2, code = 0; len <= 15; ++len) {
        code = (code + perLength[len - 1]) << 1;
        firstCode[len] = code;
    }

    // Longest code under each root prefix: the width of that prefix's sub-table.
    uint8_t longest[1u << kMaxRootBits] = {};
    unsigned next[16];
    std::copy(std::begin(firstCode), std::end(firstCode), next);
    for (unsigned sym = 0; sym < count; ++sym) {
        const unsigned len = lengths[sym];
        if (len > root) {
            const unsigned prefix = next[len]++ >> (len - root);
            longest[prefix] = uint8_t(std::max<unsigned>(longest[prefix], len));
        }
    }

    std::fill(table, table + (1u << root), Entry{0, kInvalid, 0});
    unsigned used = 1u << root;
    std::copy(std::begin(firstCode), std::end(firstCode), next);
    for (unsigned sym = 0; sym < count; ++sym) {
        const unsigned len = lengths[sym];
        if (len == 0) continue;
        const unsigned code = next[len]++;
        Entry e = symbols[sym];
        e.bits = uint8_t(len + ((e.info & 0xF0) == kBase ? e.info & 15 : 0));
        if (len <= root) {
            for (unsigned i = Reverse(code, len); i < (1u << root); i += 1u << len) table[i] = e;
            continue;
        }
        const unsigned prefix = code >> (len - root);
        Entry& link = table[Reverse(prefix, root)];
        if (link.info < kLink) {
            const unsigned width = longest[prefix] - root;
            if (used + (1u << width) > room) return false;
            link = {0, uint8_t(kLink | width), uint16_t(used)};
            used += 1u << width;
        }
        const unsigned rest = len - root;
        Entry* sub = table + link.value;
        for (unsigned i = Reverse(code, rest); i < (1u << (link.info & 15)); i += 1u << rest) sub[i] = e;
    }
    rootBits = root;
    return true;
}

// Kept inline: the hot loop makes two lookups per match and one per literal.
[[gnu::always_inline]] inline Entry Lookup(const Entry* table, unsigned rootBits, uint64_t bits)
{
    Entry e = table[bits & ((1u << rootBits) - 1)];
    if (e.info >= kLink) e = table[e.value + ((bits >> rootBits) & ((1u << (e.info & 15)) - 1))];
    return e;
}

// The fixed codes of RFC 1951, built once per process. Distance codes 30 and 31 exist in the
// fixed code but mean nothing, so they decode to invalid entries.
struct FixedTables {
    Entry litLen[1u << 9];
    Entry dist[1u << 5];
    unsigned litLenBits, distBits;
};
FixedTables g_fixed;

bool BuildFixedTables()
{
    uint8_t lengths[288];
    std::fill(lengths, lengths + 144, 8);
    std::fill(lengths + 144, lengths + 256, 9);
    std::fill(lengths + 256, lengths + 280, 7);
    std::fill(lengths + 280, lengths + 288, 8);
    BuildTable(lengths, 288, kLitLenSymbols.data(), 9, g_fixed.litLen, 1u << 9, g_fixed.litLenBits);
    std::fill(lengths, lengths + 32, 5);
    BuildTable(lengths, 32, kDistSymbols.data(), 5, g_fixed.dist, 1u << 5, g_fixed.distBits);
    return true;
}

// The value of a length or distance entry: its base plus the extra bits after its code, read
// from the bits as they stood before the entry was consumed.
[[gnu::always_inline]] inline uint32_t BaseValue(Entry e, uint64_t bits)
{
    const unsigned extra = e.info & 15;
    return e.value + uint32_t((bits >> (e.bits - extra)) & ((1u << extra) - 1));
}

// Tops the bit buffer up to at least 56 bits, eight bytes at a time where the input allows.
// Past the end of the input it supplies zero bytes, since a lookup may look beyond the last
// code; it returns false once bits beyond the end have actually been consumed.
[[gnu::always_inline]] inline bool Refill(const uint8_t* in, uint32_t size, uint32_t& pos, uint64_t& bits,
                                          uint32_t& count)
{
    if (pos + 8 <= size) {
        uint64_t word;
        static_assert(std::endian::native == std::endian::little, "the input is read as little-endian words");
        std::memcpy(&word, in + pos, 8);
        bits |= word << count;
        pos += (63 - count) >> 3;
        count |= 56;
        return true;
    }
    if (uint64_t(pos) * 8 > uint64_t(size) * 8 + count) return false;
    for (; count <= 56; count += 8, ++pos)
        if (pos < size) bits |= uint64_t(in[pos]) << count;
    return true;
}

// Copies n bytes (n >= 1) from src to out, both inside the output buffer that ends at `limit`,
// with the result of a copy made a byte at a time: a source just behind the output repeats its
// pattern, one just ahead of it is read before it is overwritten. Nothing past out + n changes,
// since those bytes may still be history that a later match reaches.
[[gnu::always_inline]] inline void CopyMatch(uint8_t* out, const uint8_t* src, uint32_t n,
                                             const uint8_t* limit)
{
    const bool apart = src + n <= out || out + n <= src;
    if (apart && n <= 8 && limit - out >= 8 && limit - src >= 8) {
        // One 8-byte store that writes the bytes past the copy back as they were: short copies
        // are the most frequent, and their lengths vary too much for branches on them.
        uint64_t from, to;
        std::memcpy(&from, src, 8);
        std::memcpy(&to, out, 8);
        const uint64_t mask = ~uint64_t(0) >> (64 - 8 * n);
        to = (from & mask) | (to & ~mask);
        std::memcpy(out, &to, 8);
    } else if (n >= 8 && (apart || out - src >= 8)) {
        // Pieces of 8 bytes, the last one ending at out + n; each reads only final bytes.
        for (uint32_t i = 0; i + 8 <= n; i += 8) std::memcpy(out + i, src + i, 8);
        std::memcpy(out + n - 8, src + n - 8, 8);
    } else if (src + 1 == out) {
        std::memset(out, *src, n);
    } else {
        for (uint32_t i = 0; i < n; ++i) out[i] = src[i];
    }
}

}  // namespace

// The handle and working state of one MSZIP decoder.
struct InflateState {
    uint32_t fLastBlock;     // BFINAL of the deflate block being decoded
    uint32_t error;          // 1: bits beyond the input consumed; 2: code lengths repeated too far
    const uint8_t* pbInput;  // the block's bytes after "CK"
    uint32_t cbInput;
    uint32_t iInput;       // next byte to fetch; may pass cbInput by the zero bytes supplied
    uint8_t* pbOut;        // output cursor
    uint8_t* pbWindow;     // the output buffer of the call, also the history window
    uint32_t cbAllowance;  // bytes this call may still produce
    uint32_t cbOutMax;
    uint64_t bitBuffer;  // fetched bits, least significant first
    uint32_t cBits;
    uint32_t cbHistory;  // bytes before this call's output that a match may reach
    Entry table[kLitLenRoom + kDistRoom];

    bool Read(unsigned n, uint32_t& value)
    {
        if (cBits < n && !Refill(pbInput, cbInput, iInput, bitBuffer, cBits)) return Fail(1);
        value = uint32_t(bitBuffer & ((1u << n) - 1));
        bitBuffer >>= n;
        cBits -= n;
        return true;
    }
    bool Fail(uint32_t reason)
    {
        error = reason;
        return false;
    }
    bool Overrun() const { return uint64_t(iInput) * 8 > uint64_t(cbInput) * 8 + cBits; }
};

struct MDIHandle {
    uint32_t tag;
    PFNFREE pfnfree;
    uint32_t cbDataBlockMax;
    InflateState* pState;
};

namespace {

// Decodes literal/length and distance codes until the end of the block or of the allowance.
bool DecodeCodes(InflateState& s, const Entry* litLen, unsigned litLenBits, const Entry* dist,
                 unsigned distBits)
{
    const uint8_t* const in = s.pbInput;
    const uint32_t size = s.cbInput;
    uint32_t pos = s.iInput;
    uint64_t bits = s.bitBuffer;
    uint32_t count = s.cBits;
    uint8_t* out = s.pbOut;
    uint8_t* const end = out + s.cbAllowance;
    uint8_t* const window = s.pbWindow;
    const uint8_t* const limit = window + s.cbOutMax;
    const uint32_t history = s.cbHistory;
    bool ok = true;

    while (out < end) {
        // 56 bits cover the longest length code with its extra bits and the longest distance.
        if (!Refill(in, size, pos, bits, count)) {
            ok = s.Fail(1);
            break;
        }
        Entry e = Lookup(litLen, litLenBits, bits);
        const uint64_t lengthBits = bits;
        bits >>= e.bits;
        count -= e.bits;
        if (e.info == kSymbol) {
            *out++ = uint8_t(e.value);
            continue;
        }
        if ((e.info & 0xF0) != kBase) {
            ok = e.info == kEndOfBlock;
            break;
        }
        uint32_t length = BaseValue(e, lengthBits);

        e = Lookup(dist, distBits, bits);
        const uint32_t distance = BaseValue(e, bits);
        bits >>= e.bits;
        count -= e.bits;
        if ((e.info & 0xF0) != kBase) {
            ok = false;
            break;
        }

        length = std::min(length, uint32_t(end - out));
        const uint32_t produced = uint32_t(out - window);
        if (distance > produced) {
            if (distance > produced + history) {
                ok = false;
                break;
            }
            // The source starts in the previous block, which fills the rest of the window.
            const uint32_t n = std::min(length, distance - produced);
            CopyMatch(out, out - distance + kWindowSize, n, limit);
            out += n;
            length -= n;
            if (length == 0) continue;
        }
        CopyMatch(out, out - distance, length, limit);
        out += length;
    }

    s.iInput = pos;
    s.bitBuffer = bits;
    s.cBits = count;
    s.cbAllowance -= uint32_t(out - s.pbOut);
    s.pbOut = out;
    return ok;
}

bool InflateStored(InflateState& s)
{
    // Back to the byte boundary, returning the whole bytes still in the bit buffer to the input.
    s.iInput -= s.cBits / 8;
    s.bitBuffer = 0;
    s.cBits = 0;
    if (s.iInput > s.cbInput) return s.Fail(1);
    const uint8_t* p = s.pbInput + s.iInput;
    const uint32_t left = s.cbInput - s.iInput;
    if (left < 4) return false;
    const uint32_t length = p[0] | uint32_t(p[1]) << 8;
    const uint32_t check = p[2] | uint32_t(p[3]) << 8;
    if (check != (~length & 0xFFFF) || length > left - 4) return false;
    const uint32_t n = std::min(length, s.cbAllowance);
    std::memcpy(s.pbOut, p + 4, n);
    s.pbOut += n;
    s.cbAllowance -= n;
    s.iInput += 4 + length;
    return true;
}

bool InflateDynamic(InflateState& s)
{
    uint32_t hlit, hdist, hclen;
    if (!s.Read(5, hlit) || !s.Read(5, hdist) || !s.Read(4, hclen)) return false;
    hlit += 257;
    hdist += 1;
    hclen += 4;
    if (hlit > kMaxLitLen || hdist > kMaxDist) return false;

    uint8_t lengths[kMaxLitLen + kMaxDist] = {};
    for (unsigned i = 0; i < hclen; ++i) {
        uint32_t len;
        if (!s.Read(3, len)) return false;
        lengths[kCodeLengthOrder[i]] = uint8_t(len);
    }
    unsigned codeLengthBits;
    if (!BuildTable(lengths, 19, kCodeLengthSymbols.data(), kCodeLengthBits, s.table, kLitLenRoom,
                    codeLengthBits))
        return false;

    const unsigned total = hlit + hdist;
    uint8_t previous = 0;
    for (unsigned i = 0; i < total;) {
        if (!Refill(s.pbInput, s.cbInput, s.iInput, s.bitBuffer, s.cBits)) return s.Fail(1);
        const Entry e = Lookup(s.table, codeLengthBits, s.bitBuffer);
        if (e.info != kSymbol) return false;
        s.bitBuffer >>= e.bits;
        s.cBits -= e.bits;
        if (e.value < 16) {
            lengths[i++] = previous = uint8_t(e.value);
            continue;
        }
        uint32_t repeat;
        uint8_t value = 0;
        if (e.value == 16) {
            if (!s.Read(2, repeat)) return false;
            repeat += 3;
            value = previous;
        } else if (e.value == 17) {
            if (!s.Read(3, repeat)) return false;
            repeat += 3;
        } else {
            if (!s.Read(7, repeat)) return false;
            repeat += 11;
        }
        if (repeat > total - i) return s.Fail(2);
        std::fill(lengths + i, lengths + i + repeat, value);
        i += repeat;
        previous = value;
    }

    Entry* const litLen = s.table;
    Entry* const dist = s.table + kLitLenRoom;
    unsigned litLenBits, distBits;
    if (!BuildTable(lengths, hlit, kLitLenSymbols.data(), kLitLenBits, litLen, kLitLenRoom, litLenBits) ||
        !BuildTable(lengths + hlit, hdist, kDistSymbols.data(), kDistBits, dist, kDistRoom, distBits))
        return false;
    return DecodeCodes(s, litLen, litLenBits, dist, distBits);
}

bool InflateBlock(InflateState& s)
{
    uint32_t last, type;
    if (!s.Read(1, last) || !s.Read(2, type)) return false;
    s.fLastBlock = last;
    switch (type) {
    case 0: return InflateStored(s);
    case 1: return DecodeCodes(s, g_fixed.litLen, g_fixed.litLenBits, g_fixed.dist, g_fixed.distBits);
    case 2: return InflateDynamic(s);
    default: return false;
    }
}

MDIHandle* Alive(MDI_HANDLE handle)
{
    auto* h = static_cast<MDIHandle*>(handle);
    return h && h->tag == kTagAlive ? h : nullptr;
}

}  // namespace

int MDICreateDecompression(uint32_t* pcbDataBlockMax, PFNALLOC pfnalloc, PFNFREE pfnfree,
                           uint32_t* pcbSrcBufferMin, MDI_HANDLE* pHandle)
{
    if (*pcbDataBlockMax == 0 || *pcbDataBlockMax > kWindowSize) *pcbDataBlockMax = kWindowSize;
    *pcbSrcBufferMin = *pcbDataBlockMax + kInputSlack;
    if (!pHandle) return MDI_ERROR_NO_ERROR;

    *pHandle = nullptr;
    void* handleMemory = pfnalloc(sizeof(MDIHandle));
    if (!handleMemory) return MDI_ERROR_NOT_ENOUGH_MEMORY;
    void* stateMemory = pfnalloc(sizeof(InflateState));
    if (!stateMemory) {
        pfnfree(handleMemory);
        return MDI_ERROR_NOT_ENOUGH_MEMORY;
    }
    static const bool fixedBuilt = BuildFixedTables();
    (void)fixedBuilt;

    auto* state = new (stateMemory) InflateState{};
    *pHandle = new (handleMemory) MDIHandle{kTagAlive, pfnfree, *pcbDataBlockMax, state};
    return MDI_ERROR_NO_ERROR;
}

int MDIDecompress(MDI_HANDLE handle, void* pbSrc, uint32_t cbSrc, void* pbDst, uint32_t* pcbResult)
{
    MDIHandle* h = Alive(handle);
    if (!h) return MDI_ERROR_BAD_PARAMETERS;
    if (cbSrc > h->cbDataBlockMax + kInputSlack) return MDI_ERROR_BUFFER_OVERFLOW;
    const auto* src = static_cast<const uint8_t*>(pbSrc);
    if (cbSrc < 2 || src[0] != 'C' || src[1] != 'K') return MDI_ERROR_FAILED;

    InflateState& s = *h->pState;
    s.pbInput = src + 2;
    s.cbInput = cbSrc - 2;
    s.iInput = 0;
    s.bitBuffer = 0;
    s.cBits = 0;
    s.pbOut = s.pbWindow = static_cast<uint8_t*>(pbDst);
    s.cbOutMax = h->cbDataBlockMax;
    s.fLastBlock = 0;
    s.error = 0;
    s.cbAllowance = std::min(*pcbResult, s.cbOutMax);
    if (s.cbAllowance == 0) {
        *pcbResult = 0;
        return MDI_ERROR_NO_ERROR;
    }

    const uint32_t wanted = s.cbAllowance;
    bool ok = true;
    while (ok && !s.fLastBlock && s.cbAllowance > 0) ok = InflateBlock(s);
    if (ok && s.Overrun()) ok = s.Fail(1);
    if (!ok) {
        s.cbHistory = 0;
        return MDI_ERROR_FAILED;
    }
    // A match may reach into this block from the next one only if it filled the whole window:
    // the wrap below the cursor assumes the previous block occupies all of it.
    const uint32_t produced = wanted - s.cbAllowance;
    s.cbHistory = produced == kWindowSize ? kWindowSize : 0;
    *pcbResult = produced;
    return MDI_ERROR_NO_ERROR;
}

int MDIResetDecompression(MDI_HANDLE handle)
{
    MDIHandle* h = Alive(handle);
    if (!h) return MDI_ERROR_BAD_PARAMETERS;
    h->pState->cbHistory = 0;  // a new folder: nothing before its first byte may be referred to
    return MDI_ERROR_NO_ERROR;
}

int MDIDestroyDecompression(MDI_HANDLE handle)
{
    MDIHandle* h = Alive(handle);
    if (!h) return MDI_ERROR_BAD_PARAMETERS;
    h->tag = 0;
    PFNFREE pfnfree = h->pfnfree;
    pfnfree(h->pState);
    pfnfree(h);
    return MDI_ERROR_NO_ERROR;
}
