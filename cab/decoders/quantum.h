// Quantum decoder: arithmetic-coded LZ77 with adaptive models; the window lives in memory
// or, when it cannot be allocated, in a spill file opened through the file callbacks.
#pragma once
#include "cab/decoders/mdi.h"

// *pWindowBits is the window exponent. pHandle null: size query only.
int QuantumCreateDecompression(uint32_t* pcbDataBlockMax, const int32_t* pWindowBits,
                               PFNALLOC pfnalloc, PFNFREE pfnfree, uint32_t* pcbSrcBufferMin,
                               MDI_HANDLE* pHandle, PFNOPEN pfnopen, PFNREAD pfnread,
                               PFNWRITE pfnwrite, PFNCLOSE pfnclose, PFNSEEK pfnseek);
int QuantumDecompress(MDI_HANDLE handle, void* pbSrc, uint32_t cbSrc, void* pbDst, uint32_t* pcbResult);
int QuantumResetDecompression(MDI_HANDLE handle);
int QuantumDestroyDecompression(MDI_HANDLE handle);
