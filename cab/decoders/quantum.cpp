// Quantum decoder operations: creation, frame decoding with the arithmetic decoder, reset and
// destruction. The window is in memory, or in a spill file (quantum_spill.cpp).
#include "cab/decoders/quantum.h"

#include <bit>
#include <cstring>

#include "cab/decoders/quantum_state.h"

QuantumState g_quantum;

namespace {

constexpr uint32_t kDefaultBlockMax = 32768;
constexpr uint32_t kInputSlack = 10240;
constexpr int kMinWindowBits = 10;
constexpr int kMaxWindowBits = 21;
// Below four pages the page ring and the window would wrap at different places.
constexpr int kMinSpillWindowBits = 14;

QuantumHandle* Current(MDI_HANDLE handle)
{
    auto* h = static_cast<QuantumHandle*>(handle);
    if (h == nullptr || h->tag != kQuantumTag)
        return nullptr;
    g_quantum.current = h;
    return h;
}

void ResetStream(QuantumState& s)
{
    s.streamPos = 0;
    s.spillFailure = 0;
    quantum::InitModels(s.models, s.windowBits);
}

bool InitState(QuantumState& s, int windowBits)
{
    s.windowBits = static_cast<uint8_t>(windowBits);
    s.windowSize = 1u << windowBits;
    s.windowMask = s.windowSize - 1;
    s.window = static_cast<uint8_t*>(s.current->alloc(s.windowSize));
    if (s.window == nullptr) {
        if (windowBits < kMinSpillWindowBits || !QuantumSpillSetUp(s))
            return false;
    }
    ResetStream(s);
    return true;
}

// Division by a model's total as a multiplication: floor(x / d) = (x * r[d]) >> 40 with
// r[d] = floor(2^40 / d) + 1, exact for d < 4096 and x <= d * 2^16, which holds for the
// narrowing products (a partial sum, at most the total, times a range of at most 2^16).
constexpr int kReciprocalShift = 40;
constexpr uint32_t kMaxTotal = quantum::kFrequencyLimit + 8;

struct Reciprocals {
    uint64_t r[kMaxTotal + 1];
};

constexpr Reciprocals MakeReciprocals()
{
    Reciprocals t{};
    for (uint32_t d = 1; d <= kMaxTotal; ++d)
        t.r[d] = (uint64_t{1} << kReciprocalShift) / d + 1;
    return t;
}

constexpr Reciprocals kReciprocals = MakeReciprocals();

// The block's bits, most significant first. Bits wanted after the block's last byte read
// as 0 and mark the input exhausted.
struct BitInput {
    const uint8_t* in;
    const uint8_t* end;
    uint64_t bits = 0; // unread bits, left-aligned; below them the bytes that follow, or 0
    int count = 0;
    bool exhausted = false;

    // k from 0 to 32.
    uint32_t take(int k)
    {
        if (end - in >= 8) {
            // Refilled on every call while eight bytes remain, so that the branch is
            // predictable. Bytes that do not fit whole are loaded again next time, into the
            // same places.
            const uint64_t next = uint64_t{in[0]} << 56 | uint64_t{in[1]} << 48 | uint64_t{in[2]} << 40 |
                                  uint64_t{in[3]} << 32 | uint64_t{in[4]} << 24 | uint64_t{in[5]} << 16 |
                                  uint64_t{in[6]} << 8 | in[7];
            bits |= next >> count;
            in += (63 - count) >> 3;
            count |= 56;
        } else if (count < k) {
            while (count <= 56 && in < end) {
                bits |= uint64_t{*in++} << (56 - count);
                count += 8;
            }
            if (count < k) {
                exhausted = true;
                count = k;
            }
        }
        const auto v = static_cast<uint32_t>(bits >> (63 - k) >> 1);
        bits <<= k;
        count -= k;
        return v;
    }
};

// The arithmetic decoder on 16-bit registers.
struct SymbolDecoder {
    BitInput input;
    uint32_t low = 0, high = 0xFFFF, code = 0;

    [[gnu::always_inline]] int decode(quantum::Model& m)
    {
        // Registers in locals: stores through `this` would stall the loads that follow.
        uint32_t lo = low, hi = high, c = code;
        const uint32_t total = m.cumFreq[0];
        const uint32_t range = hi - lo + 1;
        // The symbol is the entry whose range holds ((code - low + 1) × total - 1) div range;
        // comparing the sums times range with the dividend finds it without the division.
        const int i = quantum::RaiseFrequency(m, range, (c - lo + 1) * total - 1);
        // cumFreq[i] has already grown by 8, cumFreq[i + 1] not.
        const uint32_t upper = m.cumFreq[i] - 8u, lower = m.cumFreq[i + 1];
        const int symbol = m.symbol[i];
        quantum::LimitModel(m);
        // (sum × range) div total for both ends of the entry's range.
        const uint64_t scale = range * kReciprocals.r[total];
        hi = (lo + static_cast<uint32_t>(upper * scale >> kReciprocalShift) - 1) & 0xFFFF;
        lo = (lo + static_cast<uint32_t>(lower * scale >> kReciprocalShift)) & 0xFFFF;
        // Renormalise in one batch. First come the leading bits on which low and high agree;
        // then bit 15 differs, and each step of the run where low has 01 and high 10 in its
        // top bits drops the second bit and flips code's new top bit, so only the last flip
        // survives. Low's new top bit is 0 either way.
        const int agree = std::countl_zero(((lo ^ hi) << 16) | 0x8000);
        const int straddle = std::countl_one((lo & ~hi) << 17 << agree);
        const int shift = agree + straddle;
        lo = (lo << shift) & 0x7FFF;
        hi = ((hi << shift) | ((1u << shift) - 1) | 0x8000) & 0xFFFF;
        c = (((c << shift) | input.take(shift)) ^ (uint32_t{straddle != 0} << 15)) & 0xFFFF;
        low = lo;
        high = hi;
        code = c;
        return symbol;
    }
};

// Decodes items into the output until the frame is complete or the input ran out. The
// coder and the output position live in locals so that stores of output bytes do not force
// them back to memory.
template <bool Spill>
int DecodeFrame(QuantumState& s, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t frameSize)
{
    using quantum::kSlots;

    SymbolDecoder coder{{in, in + inSize}};
    BitInput& input = coder.input;
    coder.code = input.take(16);
    bool failed = false; // overrun, a match before the folder's start, or the spill file
    uint32_t outLeft = frameSize;
    uint32_t pos = s.streamPos;
    uint8_t* const window = s.window;
    const uint32_t mask = s.windowMask;

    quantum::Models& models = s.models;
    while (outLeft > 0 && !input.exhausted) {
        const int selector = coder.decode(models.selector);
        if (selector < 4) {
            const uint8_t byte = static_cast<uint8_t>(64 * selector + coder.decode(models.literal[selector]));
            *out++ = byte;
            --outLeft;
            if constexpr (Spill) {
                if (!QuantumSpillStoreLiteral(s, byte)) {
                    failed = true;
                    break;
                }
            } else {
                window[pos & mask] = byte;
            }
            ++pos;
            continue;
        }

        uint32_t length;
        quantum::Model* positions;
        if (selector == 4) {
            length = 3;
            positions = &models.position3;
        } else if (selector == 5) {
            length = 4;
            positions = &models.position4;
        } else {
            const int slot = coder.decode(models.length);
            length = kSlots.lengthBase[slot] + input.take(kSlots.lengthExtra[slot]) + 5;
            positions = &models.positionLong;
        }
        const int slot = coder.decode(*positions);
        const uint32_t offset = kSlots.positionBase[slot] + input.take(kSlots.positionExtra[slot]) + 1;
        if (length > outLeft || offset > pos) {
            failed = true;
            break;
        }
        uint32_t source = (pos - offset) & mask;
        if constexpr (Spill) {
            if (!QuantumSpillCopyMatch(s, out, source, length)) {
                failed = true;
                break;
            }
            out += length;
        } else {
            const uint32_t dest = pos & mask;
            uint8_t* const to = window + dest;
            if (source + length <= s.windowSize && dest + length <= s.windowSize) {
                // Neither range wraps. A source closer than the length overlaps the bytes
                // being written and repeats them, which needs a forward copy byte by byte.
                if (offset >= length) {
                    std::memmove(to, window + source, length);
                } else {
                    for (uint32_t k = 0; k < length; ++k)
                        to[k] = window[source + k];
                }
                std::memcpy(out, to, length);
                out += length;
            } else {
                for (uint32_t k = 0; k < length; ++k) {
                    *out++ = window[(pos + k) & mask] = window[source];
                    source = (source + 1) & mask;
                }
            }
        }
        outLeft -= length;
        pos += length;
    }

    s.streamPos = pos;
    return input.exhausted || failed || s.spillFailure ? MDI_ERROR_FAILED : MDI_ERROR_NO_ERROR;
}

} // namespace

int QuantumCreateDecompression(uint32_t* pcbDataBlockMax, const int32_t* pWindowBits,
                               PFNALLOC pfnalloc, PFNFREE pfnfree, uint32_t* pcbSrcBufferMin,
                               MDI_HANDLE* pHandle, PFNOPEN pfnopen, PFNREAD pfnread,
                               PFNWRITE pfnwrite, PFNCLOSE pfnclose, PFNSEEK pfnseek)
{
    const int32_t windowBits = *pWindowBits;
    if (windowBits < kMinWindowBits || windowBits > kMaxWindowBits)
        return MDI_ERROR_CONFIGURATION;
    if (*pcbDataBlockMax == 0 || *pcbDataBlockMax > kDefaultBlockMax)
        *pcbDataBlockMax = kDefaultBlockMax;
    *pcbSrcBufferMin = *pcbDataBlockMax + kInputSlack;
    if (pHandle == nullptr)
        return MDI_ERROR_NO_ERROR;

    *pHandle = nullptr;
    // The working state exists once per process: a second decoder would share it.
    if (g_quantum.inUse)
        return MDI_ERROR_NOT_ENOUGH_MEMORY;
    auto* h = static_cast<QuantumHandle*>(pfnalloc(sizeof(QuantumHandle)));
    if (h == nullptr)
        return MDI_ERROR_NOT_ENOUGH_MEMORY;
    *h = {kQuantumTag, pfnalloc, pfnfree, pfnopen, pfnread, pfnwrite, pfnclose, pfnseek, *pcbDataBlockMax};
    g_quantum = {};
    g_quantum.current = h;
    if (!InitState(g_quantum, windowBits)) {
        h->tag = 0;
        pfnfree(h);
        g_quantum.current = nullptr;
        return MDI_ERROR_NOT_ENOUGH_MEMORY;
    }
    g_quantum.inUse = true;
    *pHandle = h;
    return MDI_ERROR_NO_ERROR;
}

int QuantumDecompress(MDI_HANDLE handle, void* pbSrc, uint32_t cbSrc, void* pbDst, uint32_t* pcbResult)
{
    QuantumHandle* h = Current(handle);
    if (h == nullptr)
        return MDI_ERROR_BAD_PARAMETERS;
    if (*pcbResult > h->blockMax)
        return MDI_ERROR_BUFFER_OVERFLOW;
    QuantumState& s = g_quantum;
    // A failed spill file leaves the page cache unusable until the next reset.
    if (s.spillFailure)
        return MDI_ERROR_FAILED;
    const auto* in = static_cast<const uint8_t*>(pbSrc);
    auto* out = static_cast<uint8_t*>(pbDst);
    return s.window != nullptr ? DecodeFrame<false>(s, in, cbSrc, out, *pcbResult)
                               : DecodeFrame<true>(s, in, cbSrc, out, *pcbResult);
}

int QuantumResetDecompression(MDI_HANDLE handle)
{
    if (Current(handle) == nullptr)
        return MDI_ERROR_BAD_PARAMETERS;
    QuantumState& s = g_quantum;
    if (s.window == nullptr)
        QuantumSpillResetCache(s);
    ResetStream(s);
    return MDI_ERROR_NO_ERROR;
}

int QuantumDestroyDecompression(MDI_HANDLE handle)
{
    QuantumHandle* h = Current(handle);
    if (h == nullptr)
        return MDI_ERROR_BAD_PARAMETERS;
    QuantumState& s = g_quantum;
    if (s.window != nullptr)
        h->free(s.window);
    else
        QuantumSpillRelease(s);
    h->tag = 0;
    h->free(h);
    s = {};
    return MDI_ERROR_NO_ERROR;
}
