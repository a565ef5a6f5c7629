// LZX decoder. One call decodes one frame (one data block) into the circular window and
// copies it out with the E8 translation applied. Tables are rebuilt in place at each
// block header; nothing is allocated after creation.
#include "cab/decoders/lzx.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "cab/decoders/lzx_format.h"

namespace {

using namespace lzx;

constexpr uint32_t kTag = 0x4349444C;   // "LDIC"
constexpr uint32_t kInputSlack = 6144;
constexpr int kMainBits = 10;
constexpr int kLengthBits = 8;
constexpr int kPretreeBits = 8;
constexpr int kAlignedBits = 7;
constexpr uint32_t kMirrored = 257;     // window bytes repeated past its end
constexpr uint32_t kWindowExtra = 261;  // the mirrored bytes plus 4 spare
constexpr uint32_t kE8Frames = 32768;   // frames after a reset that see the E8 translation
constexpr int16_t kUnset = INT16_MAX;
// A lookup entry of the main, length and pretree tables holds the symbol and, above it, the
// length of its code, so that a decode needs one load; branch references are negative.
constexpr int kSymbolBits = 10;
constexpr int kSymbolMask = (1 << kSymbolBits) - 1;

// 16-bit little-endian words read most significant bit first. The top 16 bits of buf are
// always valid, `reserve` more below them. Bytes past the block's end read as zero; a word
// at or past `limit` (end + 4) reads as zero and sets `exhausted`.
struct BitReader {
    uint32_t buf;
    int reserve;
    const uint8_t* pos;
    const uint8_t* end;
    const uint8_t* limit;
    bool exhausted;

    uint32_t Word()
    {
        if (end - pos >= 2) {
            uint32_t w = pos[0] | (pos[1] << 8);
            pos += 2;
            return w;
        }
        if (pos >= limit) {
            exhausted = true;
            return 0;
        }
        uint32_t w = (pos < end ? pos[0] : 0) | (pos + 1 < end ? pos[1] << 8 : 0);
        pos += 2;
        return w;
    }
    void Load()
    {
        buf = Word() << 16;
        buf |= Word();
        reserve = 16;
    }
    void Remove(int n)
    {
        buf <<= n;
        reserve -= n;
        if (reserve <= 0) {
            buf |= Word() << -reserve;
            reserve += 16;
            if (reserve <= 0) {  // only after removing 17 bits
                buf |= Word() << -reserve;
                reserve += 16;
            }
        }
    }
    uint32_t Read(int n)  // 1 <= n <= 17
    {
        uint32_t v = buf >> (32 - n);
        Remove(n);
        return v;
    }
};

struct LZXState {
    uint8_t* window;
    uint32_t windowSize;
    uint32_t windowMask;
    uint32_t R0, R1, R2;
    int16_t mainTable[1 << kMainBits];
    int16_t lengthTable[1 << kLengthBits];
    uint8_t mainLengths[kMaxMainSymbols];
    uint8_t lengthLengths[kLengthSymbols];
    uint8_t alignedTable[1 << kAlignedBits];
    uint8_t alignedLengths[kAlignedSymbols];
    int16_t mainNodes[2 * kMaxMainSymbols][2];
    int16_t lengthNodes[2 * kLengthSymbols][2];
    uint8_t* output;
    uint8_t prevMainLengths[kMaxMainSymbols];
    uint8_t prevLengthLengths[kLengthSymbols];
    BitReader bits;
    uint8_t positionSlots;
    int32_t e8HeaderPending;
    int32_t windowPosition;
    int32_t windowFilled;  // the window has wrapped since the reset: every offset is in reach
    uint32_t e8FileSize;
    uint32_t e8Position;
    int32_t framesDecoded;
    int32_t blockSize;
    int32_t blockRemaining;
    int32_t blockType;
    int32_t phase;  // 1: a block header comes next; 2: inside a block
    PFNALLOC alloc;
    PFNFREE free;
    PFNOPEN open;
    PFNREAD read;
    PFNWRITE write;
    PFNCLOSE close;
    PFNSEEK seek;

    int MainSymbols() const { return kNumChars + 8 * positionSlots; }
};

struct LZXHandle {
    uint32_t tag;
    PFNALLOC alloc;
    PFNFREE free;
    PFNOPEN open;
    PFNREAD read;
    PFNWRITE write;
    PFNCLOSE close;
    PFNSEEK seek;
    uint32_t blockMax;
    LZXState* state;
};

LZXHandle* Checked(MDI_HANDLE handle)
{
    auto* h = static_cast<LZXHandle*>(handle);
    return h && h->tag == kTag ? h : nullptr;
}

// Builds the lookup table of a canonical code: codes up to `bits` long fill table entries,
// longer ones hang from branch nodes numbered upward from n and stored negated. Accepts a
// complete code, or all lengths zero (then every entry is symbol 0, read with 0 bits).
// Signed tables hold packed entries (symbol and code length); the aligned table the symbol.
template <typename Entry>
bool BuildTable(const uint8_t* lengths, int n, int bits, Entry* table, int16_t (*nodes)[2],
                int maxNodes)
{
    uint32_t count[kMaxCodeLength + 1] = {};
    for (int i = 0; i < n; ++i)
        count[lengths[i]]++;
    if (count[0] == static_cast<uint32_t>(n)) {
        std::fill(table, table + (1 << bits), Entry(0));
        return true;
    }
    uint32_t space = 0;
    for (int len = 1; len <= kMaxCodeLength; ++len)
        space += count[len] << (kMaxCodeLength - len);
    if (space != 1u << kMaxCodeLength)
        return false;

    uint32_t next[kMaxCodeLength + 1] = {};
    for (int len = 2; len <= kMaxCodeLength; ++len)
        next[len] = (next[len - 1] + count[len - 1]) << 1;

    if constexpr (std::is_signed_v<Entry>)
        std::fill(table, table + (1 << bits), Entry(kUnset));
    int used = 0;
    for (int sym = 0; sym < n; ++sym) {
        int len = lengths[sym];
        if (len == 0)
            continue;
        uint32_t code = next[len]++;
        const Entry entry = static_cast<Entry>(std::is_signed_v<Entry> ? sym | (len << kSymbolBits) : sym);
        if (len <= bits) {
            Entry* first = table + (code << (bits - len));
            std::fill(first, first + (1 << (bits - len)), entry);
            continue;
        }
        if constexpr (std::is_signed_v<Entry>) {
            int16_t* link = &table[code >> (len - bits)];
            for (int bit = len - bits - 1; bit >= 0; --bit) {
                if (*link == kUnset) {
                    if (used == maxNodes)
                        return false;
                    nodes[used][0] = nodes[used][1] = kUnset;
                    *link = static_cast<int16_t>(-(n + used++));
                }
                link = &nodes[-*link - n][(code >> bit) & 1];
            }
            *link = entry;
        }
    }
    return true;
}

template <int kBits>
inline int DecodeSymbol(BitReader& br, const int16_t* table, const int16_t (*nodes)[2], int n)
{
    int entry = table[br.buf >> (32 - kBits)];
    if (entry < 0) {
        uint32_t bit = 1u << (31 - kBits);
        do {
            entry = nodes[-entry - n][(br.buf & bit) != 0];
            bit >>= 1;
        } while (entry < 0);
    }
    br.Remove(entry >> kSymbolBits);
    return entry & kSymbolMask;
}

// Reads `count` code lengths coded as changes against `previous` through a fresh pretree.
bool ReadLengths(BitReader& br, uint8_t* lengths, const uint8_t* previous, int count)
{
    uint8_t preLengths[kPretreeSymbols];
    for (uint8_t& len : preLengths)
        len = static_cast<uint8_t>(br.Read(4));
    if (br.exhausted)
        return false;
    int16_t preTable[1 << kPretreeBits];
    int16_t preNodes[2 * kPretreeSymbols][2];
    if (!BuildTable(preLengths, kPretreeSymbols, kPretreeBits, preTable, preNodes,
                    2 * kPretreeSymbols))
        return false;

    auto decode = [&] {
        return DecodeSymbol<kPretreeBits>(br, preTable, preNodes, kPretreeSymbols);
    };
    int i = 0;
    while (i < count) {
        int s = decode();
        if (s <= 16) {
            lengths[i] = static_cast<uint8_t>((previous[i] + 17 - s) % 17);
            ++i;
        } else {
            int run;
            uint8_t value = 0;
            if (s == 17) {
                run = 4 + static_cast<int>(br.Read(4));
            } else if (s == 18) {
                run = 20 + static_cast<int>(br.Read(5));
            } else {
                run = 4 + static_cast<int>(br.Read(1));
                int t = decode();
                if (t <= 16)
                    value = static_cast<uint8_t>((previous[i] + 17 - t) % 17);
            }
            run = std::min(run, count - i);
            std::memset(lengths + i, value, run);
            i += run;
        }
        if (br.exhausted)
            return false;
    }
    return true;
}

bool ReadMainAndLengthTrees(LZXState& s)
{
    const int mainSymbols = s.MainSymbols();
    std::memcpy(s.prevMainLengths, s.mainLengths, mainSymbols);
    std::memcpy(s.prevLengthLengths, s.lengthLengths, kLengthSymbols);
    return ReadLengths(s.bits, s.mainLengths, s.prevMainLengths, kNumChars) &&
           ReadLengths(s.bits, s.mainLengths + kNumChars, s.prevMainLengths + kNumChars,
                       mainSymbols - kNumChars) &&
           BuildTable(s.mainLengths, mainSymbols, kMainBits, s.mainTable, s.mainNodes,
                      2 * kMaxMainSymbols) &&
           ReadLengths(s.bits, s.lengthLengths, s.prevLengthLengths, kLengthSymbols) &&
           BuildTable(s.lengthLengths, kLengthSymbols, kLengthBits, s.lengthTable, s.lengthNodes,
                      2 * kLengthSymbols);
}

uint32_t Load32(const uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The bits after the header up to the next word boundary (a whole word when the header
// ends on one) are padding; the offsets follow bytewise, and must lie inside the block.
bool StartUncompressed(LZXState& s)
{
    BitReader& br = s.bits;
    const uint8_t* p = br.pos - 2;
    if (p >= br.end || br.end - p < 12)
        return false;
    s.R0 = Load32(p);
    s.R1 = Load32(p + 4);
    s.R2 = Load32(p + 8);
    br.pos = p + 12;
    return true;
}

bool ReadBlockHeader(LZXState& s)
{
    BitReader& br = s.bits;
    if (s.e8HeaderPending) {
        s.e8HeaderPending = 0;
        if (br.Read(1)) {
            uint32_t high = br.Read(16);
            s.e8FileSize = (high << 16) | br.Read(16);
        } else {
            s.e8FileSize = 0;
        }
    }
    if (s.blockType == kUncompressed) {
        if ((s.blockSize & 1) && br.pos < br.limit)
            ++br.pos;
        s.blockType = 0;
        br.Load();
    }
    s.blockType = static_cast<int32_t>(br.Read(3));
    uint32_t size = br.Read(8) << 16;
    size |= br.Read(8) << 8;
    size |= br.Read(8);
    s.blockSize = s.blockRemaining = static_cast<int32_t>(size);

    bool ok;
    switch (s.blockType) {
    case kAligned:
        for (uint8_t& len : s.alignedLengths)
            len = static_cast<uint8_t>(br.Read(3));
        ok = BuildTable(s.alignedLengths, kAlignedSymbols, kAlignedBits, s.alignedTable,
                        nullptr, 0) &&
             ReadMainAndLengthTrees(s);
        break;
    case kVerbatim:
        ok = ReadMainAndLengthTrees(s);
        break;
    case kUncompressed:
        ok = StartUncompressed(s);
        break;
    default:
        ok = false;
    }
    s.phase = 2;
    return ok;
}

// Decodes symbols from the window position until it reaches `stop`; no match may end past
// `end` (the run's end). The mirroring variant also writes every byte below position 257
// into the copy after the window's end, so that later match sources never wrap.
template <bool kAlignedBlock, bool kMirror>
bool DecodeRun(LZXState& s, uint32_t stop, uint32_t end)
{
    BitReader br = s.bits;
    uint32_t R0 = s.R0, R1 = s.R1, R2 = s.R2;
    uint8_t* const window = s.window;
    const uint32_t size = s.windowSize, mask = s.windowMask;
    const bool filled = s.windowFilled != 0;
    const int mainSymbols = s.MainSymbols();
    const int16_t* const mainTable = s.mainTable;
    const int16_t(*const mainNodes)[2] = s.mainNodes;
    uint32_t wp = static_cast<uint32_t>(s.windowPosition);
    bool ok = true;

    while (wp < stop) {
        if (br.pos >= br.limit) {
            ok = false;
            break;
        }
        int sym = DecodeSymbol<kMainBits>(br, mainTable, mainNodes, mainSymbols);
        if (sym < kNumChars) {
            window[wp] = static_cast<uint8_t>(sym);
            if constexpr (kMirror)
                window[size + wp] = static_cast<uint8_t>(sym);
            ++wp;
            continue;
        }
        sym -= kNumChars;
        uint32_t length = sym & 7;
        const uint32_t slot = static_cast<uint32_t>(sym) >> 3;
        if (length == 7)
            length = 9 + DecodeSymbol<kLengthBits>(br, s.lengthTable, s.lengthNodes, kLengthSymbols);
        else
            length += 2;

        uint32_t offset;
        if (slot == 0) {
            offset = R0;
        } else if (slot == 1) {
            offset = R1;
            R1 = R0;
            R0 = offset;
        } else if (slot == 2) {
            offset = R2;
            R2 = R0;
            R0 = offset;
        } else {
            if (slot == 3) {
                offset = 1;
            } else {
                const int extra = kExtraBits[slot];
                uint32_t value;
                if (kAlignedBlock && extra >= 3) {
                    value = extra > 3 ? br.Read(extra - 3) << 3 : 0;
                    int a = s.alignedTable[br.buf >> (32 - kAlignedBits)];
                    br.Remove(s.alignedLengths[a]);
                    value += a;
                } else {
                    value = br.Read(extra);
                }
                offset = kPositionBase[slot] - 2 + value;
            }
            R2 = R1;
            R1 = R0;
            R0 = offset;
        }

        // A match may not cross the run's end, nor reach back before the folder's data.
        if (length > end - wp || offset > (filled ? size : wp) || offset == 0) {
            ok = false;
            break;
        }
        const uint8_t* src = window + ((wp - offset) & mask);
        uint8_t* dst = window + wp;
        if constexpr (kMirror) {
            for (uint32_t i = 0; i < length; ++i) {
                dst[i] = src[i];
                if (wp + i < kMirrored)
                    window[size + wp + i] = dst[i];
            }
        } else {
            // Eight bytes at a time while the source lies at least that far behind (or ahead,
            // for offsets near the window size); each chunk is read before it is written.
            uint32_t i = 0;
            if (offset >= 8) {
                for (; i + 8 <= length; i += 8) {
                    uint64_t chunk;
                    std::memcpy(&chunk, src + i, 8);
                    std::memcpy(dst + i, &chunk, 8);
                }
            }
            for (; i < length; ++i)
                dst[i] = src[i];
        }
        wp += length;
    }

    s.bits = br;
    s.R0 = R0;
    s.R1 = R1;
    s.R2 = R2;
    s.windowPosition = static_cast<int32_t>(wp);
    return ok;
}

template <bool kAlignedBlock>
bool DecodeCodedRun(LZXState& s, uint32_t end)
{
    const uint32_t mirrorStop = std::min(end, kMirrored);
    if (static_cast<uint32_t>(s.windowPosition) < mirrorStop &&
        !DecodeRun<kAlignedBlock, true>(s, mirrorStop, end))
        return false;
    return static_cast<uint32_t>(s.windowPosition) >= end ||
           DecodeRun<kAlignedBlock, false>(s, end, end);
}

bool CopyUncompressed(LZXState& s, uint32_t count)
{
    BitReader& br = s.bits;
    if (br.pos > br.end || static_cast<uint32_t>(br.end - br.pos) < count)
        return false;
    const uint32_t wp = static_cast<uint32_t>(s.windowPosition);
    std::memcpy(s.window + wp, br.pos, count);
    if (wp < kMirrored)
        std::memcpy(s.window + s.windowSize + wp, br.pos, std::min(count, kMirrored - wp));
    br.pos += count;
    s.windowPosition = static_cast<int32_t>(wp + count);
    return true;
}

// Decodes `count` bytes of the current block at the window position.
bool DecodeBlockPart(LZXState& s, uint32_t count)
{
    const uint32_t end = static_cast<uint32_t>(s.windowPosition) + count;
    bool ok;
    switch (s.blockType) {
    case kVerbatim:
        ok = DecodeCodedRun<false>(s, end);
        break;
    case kAligned:
        ok = DecodeCodedRun<true>(s, end);
        break;
    default:
        ok = CopyUncompressed(s, count);
    }
    if (ok && end == s.windowSize) {
        s.windowPosition = 0;
        s.windowFilled = 1;
    }
    return ok;
}

bool DecodeFrame(LZXState& s, const uint8_t* src, uint32_t srcSize, uint32_t frameSize)
{
    // Frames never wrap: the window is a multiple of the full frame size.
    if (frameSize > s.windowSize - static_cast<uint32_t>(s.windowPosition))
        return false;
    BitReader& br = s.bits;
    br.pos = src;
    br.end = src + srcSize;
    br.limit = br.end + 4;
    if (s.blockType != kUncompressed)
        br.Load();

    uint32_t left = frameSize;
    while (left > 0) {
        if (s.phase == 1 && !ReadBlockHeader(s))
            return false;
        const uint32_t count = std::min(static_cast<uint32_t>(s.blockRemaining), left);
        if (count > 0 && !DecodeBlockPart(s, count))
            return false;
        left -= count;
        s.blockRemaining -= static_cast<int32_t>(count);
        if (s.blockRemaining == 0)
            s.phase = 1;
    }
    return true;
}

// Undoes the encoder's conversion of CALL targets to absolute addresses. The last six bytes
// are set to 0xE8 during the scan so that it needs no bound test per byte.
void TranslateE8(uint8_t* data, uint32_t n, uint32_t position, uint32_t fileSize)
{
    if (n < 6)
        return;
    uint8_t saved[6];
    std::memcpy(saved, data + n - 6, 6);
    std::memset(data + n - 6, 0xE8, 6);
    const uint32_t last = n - 6;
    uint32_t p = 0;
    for (;;) {
        while (data[p] != 0xE8 && data[p + 1] != 0xE8 && data[p + 2] != 0xE8 &&
               data[p + 3] != 0xE8)
            p += 4;
        while (data[p] != 0xE8)
            ++p;
        if (p >= last)
            break;
        const uint32_t cur = position + p;
        uint32_t v = Load32(data + p + 1);
        if (v < fileSize)
            v -= cur;
        else if (0u - v <= cur)
            v += fileSize;
        data[p + 1] = static_cast<uint8_t>(v);
        data[p + 2] = static_cast<uint8_t>(v >> 8);
        data[p + 3] = static_cast<uint8_t>(v >> 16);
        data[p + 4] = static_cast<uint8_t>(v >> 24);
        p += 5;
    }
    std::memcpy(data + n - 6, saved, 6);
}

void Reset(LZXState& s)
{
    const int mainSymbols = s.MainSymbols();
    std::memset(s.mainLengths, 0, mainSymbols);
    std::memset(s.prevMainLengths, 0, mainSymbols);
    std::memset(s.lengthLengths, 0, kLengthSymbols);
    std::memset(s.prevLengthLengths, 0, kLengthSymbols);
    s.R0 = s.R1 = s.R2 = 1;
    s.windowPosition = 0;
    s.windowFilled = 0;
    s.phase = 1;
    s.blockSize = 0;
    s.blockRemaining = 0;
    s.blockType = 0;
    s.e8HeaderPending = 1;
    s.e8FileSize = 0;
    s.e8Position = 0;
    s.bits.exhausted = false;
    s.framesDecoded = 0;
}

} // namespace

int LZXCreateDecompression(uint32_t* pcbDataBlockMax, const uint32_t* pWindowSize,
                           PFNALLOC pfnalloc, PFNFREE pfnfree, uint32_t* pcbSrcBufferMin,
                           MDI_HANDLE* pHandle, PFNOPEN pfnopen, PFNREAD pfnread,
                           PFNWRITE pfnwrite, PFNCLOSE pfnclose, PFNSEEK pfnseek)
{
    *pcbSrcBufferMin = *pcbDataBlockMax + kInputSlack;
    if (!pHandle)
        return MDI_ERROR_NO_ERROR;
    *pHandle = nullptr;
    if (!pWindowSize)
        return MDI_ERROR_CONFIGURATION;
    const uint32_t windowSize = *pWindowSize;
    if (windowSize == 0 || (windowSize & (windowSize - 1)) != 0)
        return MDI_ERROR_NOT_ENOUGH_MEMORY;
    if (windowSize < (1u << kMinWindowBits) || windowSize > (1u << kMaxWindowBits))
        return MDI_ERROR_CONFIGURATION;

    auto* h = static_cast<LZXHandle*>(pfnalloc(sizeof(LZXHandle)));
    if (!h)
        return MDI_ERROR_NOT_ENOUGH_MEMORY;
    auto* s = static_cast<LZXState*>(pfnalloc(sizeof(LZXState)));
    if (!s) {
        pfnfree(h);
        return MDI_ERROR_NOT_ENOUGH_MEMORY;
    }
    *h = LZXHandle{kTag, pfnalloc, pfnfree, pfnopen, pfnread, pfnwrite, pfnclose, pfnseek,
                   *pcbDataBlockMax, s};
    s->alloc = pfnalloc;
    s->free = pfnfree;
    s->open = pfnopen;
    s->read = pfnread;
    s->write = pfnwrite;
    s->close = pfnclose;
    s->seek = pfnseek;
    s->windowSize = windowSize;
    s->windowMask = windowSize - 1;
    s->positionSlots = static_cast<uint8_t>(SlotCount(windowSize));
    s->window = static_cast<uint8_t*>(pfnalloc(windowSize + kWindowExtra));
    if (!s->window) {
        pfnfree(s);
        pfnfree(h);
        return MDI_ERROR_NOT_ENOUGH_MEMORY;
    }
    Reset(*s);
    *pHandle = h;
    return MDI_ERROR_NO_ERROR;
}

int LZXDecompress(MDI_HANDLE handle, void* pbSrc, uint32_t cbSrc, void* pbDst, uint32_t* pcbResult)
{
    LZXHandle* h = Checked(handle);
    if (!h)
        return MDI_ERROR_BAD_PARAMETERS;
    if (*pcbResult > h->blockMax)
        return MDI_ERROR_BUFFER_OVERFLOW;
    LZXState& s = *h->state;
    const uint32_t frameSize = *pcbResult;
    s.output = static_cast<uint8_t*>(pbDst);
    const bool ok = DecodeFrame(s, static_cast<const uint8_t*>(pbSrc), cbSrc, frameSize);
    const uint32_t frameIndex = static_cast<uint32_t>(s.framesDecoded++);
    if (!ok) {
        *pcbResult = 0;
        return MDI_ERROR_FAILED;
    }
    const uint32_t end = s.windowPosition == 0 ? s.windowSize
                                               : static_cast<uint32_t>(s.windowPosition);
    std::memcpy(s.output, s.window + end - frameSize, frameSize);
    if (s.e8FileSize != 0 && frameIndex < kE8Frames)
        TranslateE8(s.output, frameSize, s.e8Position, s.e8FileSize);
    s.e8Position += frameSize;
    return MDI_ERROR_NO_ERROR;
}

int LZXResetDecompression(MDI_HANDLE handle)
{
    LZXHandle* h = Checked(handle);
    if (!h)
        return MDI_ERROR_BAD_PARAMETERS;
    Reset(*h->state);
    return MDI_ERROR_NO_ERROR;
}

int LZXDestroyDecompression(MDI_HANDLE handle)
{
    LZXHandle* h = Checked(handle);
    if (!h)
        return MDI_ERROR_BAD_PARAMETERS;
    LZXState* s = h->state;
    h->free(s->window);
    h->tag = 0;
    h->free(s);
    h->free(h);
    return MDI_ERROR_NO_ERROR;
}
