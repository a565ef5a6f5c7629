// Starting programs through the shell: without waiting, in their own session, with
// standard input and output on /dev/null, from the current folder (or the one given).
#pragma once
#include "platform/wintypes.h"

namespace win {

// Returns a value above 32 on success, else the Windows error (ERROR_FILE_NOT_FOUND...).
HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                        LPCSTR directory, int showCommand);
// With SEE_MASK_NOCLOSEPROCESS, hProcess receives a handle for CloseHandle.
BOOL ShellExecuteExA(SHELLEXECUTEINFOA* info);

}  // namespace win
