// Quantum decoder operations: creation, frame decoding with the arithmetic decoder, reset and
// destruction. The window is in memory, or in a spill file (quantum_spill.cpp).
#include "cab/decoders/quantum.h"

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

// Decodes items into the output until the frame is complete or the input ran out. The
// registers and the bit input live in locals so that stores of output bytes do not force
// them back to memory.
template <bool Spill>
int DecodeFrame(QuantumState& s, const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t frameSize)
{
    using quantum::kSlots;
    using quantum::Model;

    const uint8_t* const inEnd = in + inSize;
    uint32_t bitBuf = 0; // unread bits, most significant first
    int bitCount = 0;
    bool exhausted = false;
    bool failed = false; // overrun, a match before the folder's start, or the spill file
    uint32_t outLeft = frameSize;
    uint32_t pos = s.streamPos;
    uint8_t* const window = s.window;
    const uint32_t mask = s.windowMask;

    auto getBit = [&]() -> uint32_t {
        if (bitCount == 0) {
            while (bitCount <= 24 && in < inEnd) {
                bitBuf |= uint32_t(*in++) << (24 - bitCount);
                bitCount += 8;
            }
            if (bitCount == 0) {
                exhausted = true;
                return 0;
            }
        }
        const uint32_t bit = bitBuf >> 31;
        bitBuf <<= 1;
        --bitCount;
        return bit;
    };
    auto getBits = [&](int k) {
        uint32_t v = 0;
        while (k-- > 0)
            v = (v << 1) | getBit();
        return v;
    };

    uint32_t code = getBits(16);
    uint32_t low = 0;
    uint32_t high = 0xFFFF;

    auto decodeSymbol = [&](Model& m) {
        Model::Entry* e = m.entries;
        const uint32_t total = e[0].cumFreq;
        const uint32_t range = high - low + 1;
        const uint32_t target = (((code - low + 1) * total - 1) / range) & 0xFFFF;
        int i = 0;
        while (e[i + 1].cumFreq > target)
            ++i;
        const int symbol = e[i].symbol;
        high = (low + e[i].cumFreq * range / total - 1) & 0xFFFF;
        low = (low + e[i + 1].cumFreq * range / total) & 0xFFFF;
        for (;;) {
            if ((low ^ high) & 0x8000) {
                if (!(low & 0x4000) || (high & 0x4000))
                    break;
                code ^= 0x4000;
                low &= 0x3FFF;
                high |= 0x4000;
            }
            low = (low << 1) & 0xFFFF;
            high = ((high << 1) | 1) & 0xFFFF;
            code = ((code << 1) | getBit()) & 0xFFFF;
        }
        quantum::AdaptModel(m, i);
        return symbol;
    };
    auto readOffset = [&](Model& m) {
        const int slot = decodeSymbol(m);
        return kSlots.positionBase[slot] + getBits(kSlots.positionExtra[slot]) + 1;
    };

    quantum::Models& models = s.models;
    while (outLeft > 0 && !exhausted) {
        const int selector = decodeSymbol(models.selector);
        if (selector < 4) {
            const uint8_t byte = static_cast<uint8_t>(64 * selector + decodeSymbol(models.literal[selector]));
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

        uint32_t length, offset;
        if (selector == 4) {
            length = 3;
            offset = readOffset(models.position3);
        } else if (selector == 5) {
            length = 4;
            offset = readOffset(models.position4);
        } else {
            const int slot = decodeSymbol(models.length);
            length = kSlots.lengthBase[slot] + getBits(kSlots.lengthExtra[slot]) + 5;
            offset = readOffset(models.positionLong);
        }
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
            uint32_t dest = pos & mask;
            if (source + length <= s.windowSize && dest + length <= s.windowSize) {
                for (uint32_t k = 0; k < length; ++k)
                    *out++ = window[dest + k] = window[source + k];
            } else {
                for (uint32_t k = 0; k < length; ++k) {
                    *out++ = window[dest] = window[source];
                    source = (source + 1) & mask;
                    dest = (dest + 1) & mask;
                }
            }
        }
        outLeft -= length;
        pos += length;
    }

    s.streamPos = pos;
    return exhausted || failed || s.spillFailure ? MDI_ERROR_FAILED : MDI_ERROR_NO_ERROR;
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
