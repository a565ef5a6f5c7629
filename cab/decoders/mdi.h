// What every decoder shares: the reader's callback types (decoders allocate and, for a
// spill file, do file I/O only through them) and the common decoder result codes.
#pragma once
#include <cstdint>

// A file handle is pointer-sized and signed; -1 means no handle, or failure.
typedef void* (*PFNALLOC)(uint32_t cb);
typedef void (*PFNFREE)(void* pv);
typedef intptr_t (*PFNOPEN)(char* pszFile, int oflag, int pmode);
typedef uint32_t (*PFNREAD)(intptr_t hf, void* pv, uint32_t cb);
typedef uint32_t (*PFNWRITE)(intptr_t hf, void* pv, uint32_t cb);
typedef int (*PFNCLOSE)(intptr_t hf);
typedef int32_t (*PFNSEEK)(intptr_t hf, int32_t dist, int seektype);

enum : int {
    MDI_ERROR_NO_ERROR = 0,
    MDI_ERROR_NOT_ENOUGH_MEMORY = 1,
    MDI_ERROR_BAD_PARAMETERS = 2,
    MDI_ERROR_BUFFER_OVERFLOW = 3,
    MDI_ERROR_FAILED = 4,
    MDI_ERROR_CONFIGURATION = 5,
};

// Opaque decoder handle, as handed out by a decoder's create operation.
typedef void* MDI_HANDLE;
