// The reader's memory and file callbacks: direct forwards to the C run-time's heap and
// low-level files.
#pragma once
#include "cab/decoders/mdi.h"

// Refuses blocks larger than KORVANE_MAX_ALLOC bytes when that variable is set.
void* FdiAlloc(uint32_t cb);
void FdiFree(void* pv);
// The name "*" opens an anonymous temporary file (the decoders' spill file).
intptr_t FdiOpen(char* pszFile, int oflag, int pmode);
uint32_t FdiRead(intptr_t hf, void* pv, uint32_t cb);
uint32_t FdiWrite(intptr_t hf, void* pv, uint32_t cb);
int FdiClose(intptr_t hf);
int32_t FdiSeek(intptr_t hf, int32_t dist, int seektype);
