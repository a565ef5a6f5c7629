// MSZIP decoder: each block is "CK" plus deflate data; the caller's 32 KB output
// buffer doubles as the history window across the blocks of a folder.
#pragma once
#include "cab/decoders/mdi.h"

// pHandle null: size query only (fills *pcbDataBlockMax and *pcbSrcBufferMin).
int MDICreateDecompression(uint32_t* pcbDataBlockMax, PFNALLOC pfnalloc, PFNFREE pfnfree,
                           uint32_t* pcbSrcBufferMin, MDI_HANDLE* pHandle);
int MDIDecompress(MDI_HANDLE handle, void* pbSrc, uint32_t cbSrc, void* pbDst, uint32_t* pcbResult);
int MDIResetDecompression(MDI_HANDLE handle);
int MDIDestroyDecompression(MDI_HANDLE handle);
