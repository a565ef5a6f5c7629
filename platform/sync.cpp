// Critical sections over recursive pthread mutexes; named mutexes as flock-held lock
// files in the runtime folder.
#include "platform/sync.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <string>

#include "platform/errors.h"
#include "platform/faults.h"
#include "platform/handles.h"
#include "platform/host.h"
#include "platform/paths.h"
#include "platform/system.h"

namespace win {
namespace {

// Holds the lock while the descriptor is open; the descriptor is close-on-exec, so a
// started program never inherits the lock.
struct NamedMutex : detail::HandleObject {
    int fd;
    explicit NamedMutex(int descriptor) : fd(descriptor) {}
    ~NamedMutex() override {
        if (fd >= 0) host::Get().close(fd);
    }
};

}  // namespace

void InitializeCriticalSection(CRITICAL_SECTION* section) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&section->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

void EnterCriticalSection(CRITICAL_SECTION* section) { pthread_mutex_lock(&section->mutex); }
void LeaveCriticalSection(CRITICAL_SECTION* section) { pthread_mutex_unlock(&section->mutex); }
void DeleteCriticalSection(CRITICAL_SECTION* section) { pthread_mutex_destroy(&section->mutex); }

HANDLE CreateMutexA(SECURITY_ATTRIBUTES*, BOOL, LPCSTR name) {
    if (faults::Enter("CreateMutexA", name)) return nullptr;
    if (!name) {
        SetLastError(ERROR_SUCCESS);
        return detail::RegisterHandle(std::make_unique<NamedMutex>(-1));
    }
    std::string path = RuntimeObjectPath("mutex", name);
    if (path.empty()) return detail::FailWith<HANDLE>(ERROR_ACCESS_DENIED, nullptr);
    const host::Ops& ops = host::Get();
    int fd = ops.open(path.c_str(), O_RDWR | O_CREAT, 0600);
    if (fd < 0) return detail::FailWithErrno<HANDLE>(nullptr);
    if (ops.flock(fd, LOCK_EX | LOCK_NB) == 0) {
        SetLastError(ERROR_SUCCESS);
        return detail::RegisterHandle(std::make_unique<NamedMutex>(fd));
    }
    int error = errno;
    ops.close(fd);
    if (error != EWOULDBLOCK) {
        errno = error;
        return detail::FailWithErrno<HANDLE>(nullptr);
    }
    // Held elsewhere: a handle to the existing mutex, as Windows gives one.
    HANDLE handle = detail::RegisterHandle(std::make_unique<NamedMutex>(-1));
    SetLastError(ERROR_ALREADY_EXISTS);
    return handle;
}

}  // namespace win
