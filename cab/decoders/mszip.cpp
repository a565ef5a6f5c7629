// Placeholder until the decoder lands: every creation is refused.
#include "cab/decoders/mszip.h"

int MDICreateDecompression(uint32_t*, PFNALLOC, PFNFREE, uint32_t*, MDI_HANDLE*) { return MDI_ERROR_FAILED; }
int MDIDecompress(MDI_HANDLE, void*, uint32_t, void*, uint32_t*) { return MDI_ERROR_BAD_PARAMETERS; }
int MDIResetDecompression(MDI_HANDLE) { return MDI_ERROR_BAD_PARAMETERS; }
int MDIDestroyDecompression(MDI_HANDLE) { return MDI_ERROR_BAD_PARAMETERS; }
