#include "cab/decoders/dispatch.h"

#include <cstring>

#include "cab/decoders/lzx.h"
#include "cab/decoders/mszip.h"
#include "cab/decoders/quantum.h"

namespace {

constexpr uint32_t kBlockMax = 32768;

int Method(uint16_t typeCompress) { return typeCompress & tcompMASK_TYPE; }
uint32_t WindowBits(uint16_t typeCompress) { return (typeCompress >> 8) & 0x1F; }

// Calls the create operation of the current method; pHandle null with null callbacks asks
// for the buffer sizes only.
int CreateDecoder(Decompressor& dec, const DecoderCallbacks* cb, MDI_HANDLE* pHandle) {
    const DecoderCallbacks none{};
    if (!cb) cb = &none;
    switch (Method(dec.typeCompress)) {
    case tcompTYPE_MSZIP:
        return MDICreateDecompression(&dec.cbDataBlockMax, cb->pfnalloc, cb->pfnfree,
                                      &dec.cbSrcBufferMin, pHandle);
    case tcompTYPE_QUANTUM: {
        const int32_t bits = static_cast<int32_t>(WindowBits(dec.typeCompress));
        return QuantumCreateDecompression(&dec.cbDataBlockMax, &bits, cb->pfnalloc, cb->pfnfree,
                                          &dec.cbSrcBufferMin, pHandle, cb->pfnopen, cb->pfnread,
                                          cb->pfnwrite, cb->pfnclose, cb->pfnseek);
    }
    default: {
        const uint32_t window = 1u << WindowBits(dec.typeCompress);
        return LZXCreateDecompression(&dec.cbDataBlockMax, &window, cb->pfnalloc, cb->pfnfree,
                                      &dec.cbSrcBufferMin, pHandle, cb->pfnopen, cb->pfnread,
                                      cb->pfnwrite, cb->pfnclose, cb->pfnseek);
    }
    }
}

void FreeBuffers(Decompressor& dec) {
    dec.callbacks->pfnfree(dec.pbSrc);
    dec.callbacks->pfnfree(dec.pbDst);
    dec.pbSrc = nullptr;
    dec.pbDst = nullptr;
}

int Fail(Decompressor& dec, int error) {
    dec.typeCompress = tcompBAD;
    return error;
}

} // namespace

void InitDecompressor(Decompressor& dec, const DecoderCallbacks* callbacks) {
    dec = Decompressor{};
    dec.callbacks = callbacks;
    dec.typeCompress = tcompBAD;
}

int SetDecompressor(Decompressor& dec, uint16_t typeCompress) {
    if (Method(typeCompress) > tcompTYPE_LZX) {
        if (DestroyDecompressor(dec) != FDIERROR_NONE) return FDIERROR_MDI_FAIL;
        return Fail(dec, FDIERROR_BAD_COMPR_TYPE);
    }
    if (typeCompress == dec.typeCompress) return FDIERROR_NONE;
    if (DestroyDecompressor(dec) != FDIERROR_NONE) return FDIERROR_MDI_FAIL;
    dec.typeCompress = typeCompress;
    return CreateDecompressor(dec);
}

int ResetDecompressor(Decompressor& dec) {
    int result = MDI_ERROR_NO_ERROR;
    switch (Method(dec.typeCompress)) {
    case tcompTYPE_MSZIP: result = MDIResetDecompression(dec.handle); break;
    case tcompTYPE_QUANTUM: result = QuantumResetDecompression(dec.handle); break;
    case tcompTYPE_LZX: result = LZXResetDecompression(dec.handle); break;
    default: break;
    }
    return result == MDI_ERROR_NO_ERROR ? FDIERROR_NONE : FDIERROR_MDI_FAIL;
}

int DecompressBlock(Decompressor& dec, uint32_t cbData, uint32_t* pcbResult) {
    // A block can never be larger than the output buffer it is decoded into.
    if (*pcbResult > dec.cbDataBlockMax) return FDIERROR_MDI_FAIL;
    int result = MDI_ERROR_NO_ERROR;
    switch (Method(dec.typeCompress)) {
    case tcompTYPE_NONE:
        if (cbData > dec.cbDataBlockMax) return FDIERROR_MDI_FAIL;
        std::memcpy(dec.pbDst, dec.pbSrc, cbData);
        *pcbResult = cbData;
        break;
    case tcompTYPE_MSZIP:
        *pcbResult = dec.cbDataBlockMax;
        result = MDIDecompress(dec.handle, dec.pbSrc, cbData, dec.pbDst, pcbResult);
        break;
    case tcompTYPE_QUANTUM:
        result = QuantumDecompress(dec.handle, dec.pbSrc, cbData, dec.pbDst, pcbResult);
        break;
    case tcompTYPE_LZX:
        result = LZXDecompress(dec.handle, dec.pbSrc, cbData, dec.pbDst, pcbResult);
        break;
    default:
        return FDIERROR_MDI_FAIL;
    }
    return result == MDI_ERROR_NO_ERROR ? FDIERROR_NONE : FDIERROR_MDI_FAIL;
}

int DestroyDecompressor(Decompressor& dec) {
    int result = MDI_ERROR_NO_ERROR;
    switch (Method(dec.typeCompress)) {
    case tcompTYPE_NONE: break;
    case tcompTYPE_MSZIP: result = MDIDestroyDecompression(dec.handle); break;
    case tcompTYPE_QUANTUM: result = QuantumDestroyDecompression(dec.handle); break;
    case tcompTYPE_LZX: result = LZXDestroyDecompression(dec.handle); break;
    default: return FDIERROR_NONE;
    }
    if (result != MDI_ERROR_NO_ERROR) return FDIERROR_MDI_FAIL;
    dec.handle = nullptr;
    FreeBuffers(dec);
    dec.typeCompress = tcompBAD;
    return FDIERROR_NONE;
}

int CreateDecompressor(Decompressor& dec) {
    const bool stored = Method(dec.typeCompress) == tcompTYPE_NONE;
    dec.cbDataBlockMax = kBlockMax;
    if (stored) {
        dec.cbSrcBufferMin = kBlockMax;
    } else if (CreateDecoder(dec, nullptr, nullptr) != MDI_ERROR_NO_ERROR) {
        return Fail(dec, FDIERROR_MDI_FAIL);
    }
    // The output buffer is exactly one block: MSZIP's history wraps at this size.
    if (dec.cbDataBlockMax != kBlockMax) return Fail(dec, FDIERROR_MDI_FAIL);

    dec.pbSrc = static_cast<uint8_t*>(dec.callbacks->pfnalloc(dec.cbSrcBufferMin));
    if (!dec.pbSrc) return Fail(dec, FDIERROR_ALLOC_FAIL);
    dec.pbDst = static_cast<uint8_t*>(dec.callbacks->pfnalloc(dec.cbDataBlockMax));
    if (!dec.pbDst) {
        dec.callbacks->pfnfree(dec.pbSrc);
        dec.pbSrc = nullptr;
        return Fail(dec, FDIERROR_ALLOC_FAIL);
    }
    if (!stored) {
        const int result = CreateDecoder(dec, dec.callbacks, &dec.handle);
        if (result != MDI_ERROR_NO_ERROR) {
            FreeBuffers(dec);
            dec.handle = nullptr;
            return Fail(dec, result == MDI_ERROR_NOT_ENOUGH_MEMORY ? FDIERROR_ALLOC_FAIL : FDIERROR_MDI_FAIL);
        }
    }
    ++dec.generation;
    return FDIERROR_NONE;
}
