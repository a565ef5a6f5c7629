// Placeholder until the decoder lands: every creation is refused.
#include "cab/decoders/quantum.h"

int QuantumCreateDecompression(uint32_t*, const int32_t*, PFNALLOC, PFNFREE, uint32_t*, MDI_HANDLE*,
                            PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK)
{
    return MDI_ERROR_CONFIGURATION;
}
int QuantumDecompress(MDI_HANDLE, void*, uint32_t, void*, uint32_t*) { return MDI_ERROR_BAD_PARAMETERS; }
int QuantumResetDecompression(MDI_HANDLE) { return MDI_ERROR_BAD_PARAMETERS; }
int QuantumDestroyDecompression(MDI_HANDLE) { return MDI_ERROR_BAD_PARAMETERS; }
