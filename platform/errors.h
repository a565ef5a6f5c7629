// Translation of host errors into the Windows error codes the last error reports.
#pragma once
#include "platform/wintypes.h"

namespace win::detail {

DWORD ErrorFromErrno(int error);
void SetLastErrorFromErrno();
// Sets the last error and errno to match.
void SetErrorAndErrno(DWORD error);

// One-line failure returns: set the last error (from errno, or as given) and return `result`.
template <class T>
T FailWithErrno(T result) {
    SetLastErrorFromErrno();
    return result;
}

template <class T>
T FailWith(DWORD error, T result) {
    SetErrorAndErrno(error);
    return result;
}

}  // namespace win::detail
