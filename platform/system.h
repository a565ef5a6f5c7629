// Process-wide services: last error, handles, command line, own location, system folder,
// environment, clock and sleep, and the socket layer's start-up.
#pragma once
#include <ctime>

#include "platform/wintypes.h"

namespace win {

DWORD GetLastError();
void SetLastError(DWORD error);
// Closes a handle from CreateFileA, CreateMutexA or ShellExecuteExA.
BOOL CloseHandle(HANDLE handle);

// argv joined with single blanks, in code page 936.
LPSTR GetCommandLineA();
// The running executable's path in Windows form (/opt/x/Update is \opt\x\Update). Returns
// the length copied; a buffer too small gets size - 1 characters and the result is size.
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
// The folder named by KORVANE_SYSTEM_DIR, else /usr/lib/korvane/system, without trailing
// backslash. Returns the length, or the size needed (terminator included) if size is too
// small.
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
// Returns the length copied, the size needed if too small, or 0 when the variable is unset.
DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);

void Sleep(DWORD milliseconds);
std::time_t time(std::time_t* result);

// Nothing to start on this host: succeeds unless a fault is injected.
BOOL AfxSocketInit(void* data = nullptr);

}  // namespace win
