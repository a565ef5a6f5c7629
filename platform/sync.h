// Locks within the process (critical sections) and between processes (named mutexes).
#pragma once
#include <pthread.h>

#include "platform/wintypes.h"

namespace win {

// A recursive lock, as a Windows critical section is.
struct CRITICAL_SECTION {
    pthread_mutex_t mutex;
};

void InitializeCriticalSection(CRITICAL_SECTION* section);
void EnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);

// A named mutex lives while some process holds a handle to it; it is released when that
// handle is closed or the process ends, and is never inherited by started programs. When
// another holder exists the handle is still returned and GetLastError reports
// ERROR_ALREADY_EXISTS. Null on failure.
HANDLE CreateMutexA(SECURITY_ATTRIBUTES* security, BOOL initialOwner, LPCSTR name);

}  // namespace win
