#include "cab/fdi_callbacks.h"

#include <cstdlib>
#include <cstring>

#include "platform/win.h"

void* FdiAlloc(uint32_t cb)
{
    char limit[32];
    const win::DWORD n = win::GetEnvironmentVariableA("KORVANE_MAX_ALLOC", limit, sizeof limit);
    if (n > 0 && n < sizeof limit && cb > std::strtoull(limit, nullptr, 10))
        return nullptr;
    return std::malloc(cb);
}

void FdiFree(void* pv)
{
    std::free(pv);
}

intptr_t FdiOpen(char* pszFile, int oflag, int pmode)
{
    if (std::strcmp(pszFile, "*") == 0)
        return win::CreateAnonymousTempFile();
    return win::_open(pszFile, oflag, pmode);
}

uint32_t FdiRead(intptr_t hf, void* pv, uint32_t cb)
{
    return uint32_t(win::_read(int(hf), pv, cb));
}

uint32_t FdiWrite(intptr_t hf, void* pv, uint32_t cb)
{
    return uint32_t(win::_write(int(hf), pv, cb));
}

int FdiClose(intptr_t hf)
{
    return win::_close(int(hf));
}

int32_t FdiSeek(intptr_t hf, int32_t dist, int seektype)
{
    return int32_t(win::_lseek(int(hf), dist, seektype));
}
