// LZX decoder: one frame of up to 32768 bytes per call, window of 2^15 to 2^21 bytes.
#pragma once
#include "cab/decoders/mdi.h"

// *pWindowSize is the window size in bytes (1 << exponent). pHandle null: size query only.
int LZXCreateDecompression(uint32_t* pcbDataBlockMax, const uint32_t* pWindowSize,
                           PFNALLOC pfnalloc, PFNFREE pfnfree, uint32_t* pcbSrcBufferMin,
                           MDI_HANDLE* pHandle, PFNOPEN pfnopen, PFNREAD pfnread,
                           PFNWRITE pfnwrite, PFNCLOSE pfnclose, PFNSEEK pfnseek);
int LZXDecompress(MDI_HANDLE handle, void* pbSrc, uint32_t cbSrc, void* pbDst, uint32_t* pcbResult);
int LZXResetDecompression(MDI_HANDLE handle);
int LZXDestroyDecompression(MDI_HANDLE handle);
