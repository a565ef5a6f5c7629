// Translation of host errors into the Windows error codes the last error reports.
#pragma once
#include "platform/wintypes.h"

namespace win::detail {

DWORD ErrorFromErrno(int error);
// Sets the last error from errno and returns `result`, for one-line failure returns.
template <class T>
T FailWithErrno(T result);
// Sets the last error and errno to match and returns `result`.
template <class T>
T FailWith(DWORD error, T result);

void SetLastErrorFromErrno();
void SetErrorAndErrno(DWORD error);

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
