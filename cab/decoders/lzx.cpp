// Placeholder until the decoder lands: every creation is refused.
#include "cab/decoders/lzx.h"

int LZXCreateDecompression(uint32_t*, const uint32_t*, PFNALLOC, PFNFREE, uint32_t*, MDI_HANDLE*,
                            PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK)
{
    return MDI_ERROR_CONFIGURATION;
}
int LZXDecompress(MDI_HANDLE, void*, uint32_t, void*, uint32_t*) { return MDI_ERROR_BAD_PARAMETERS; }
int LZXResetDecompression(MDI_HANDLE) { return MDI_ERROR_BAD_PARAMETERS; }
int LZXDestroyDecompression(MDI_HANDLE) { return MDI_ERROR_BAD_PARAMETERS; }
