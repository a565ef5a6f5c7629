// C run-time low-level files and single-entry operations (create, delete, folders).
#include "platform/files.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>

#include "platform/errors.h"
#include "platform/faults.h"
#include "platform/host.h"
#include "platform/hostfile.h"
#include "platform/paths.h"

namespace win {
namespace {

// Maps the path and reports a refused one through errno and the last error.
bool MapPath(const char* path, std::string* hostPath) {
    DWORD error = ToHostPath(path, hostPath);
    if (error == ERROR_SUCCESS) return true;
    detail::SetErrorAndErrno(error);
    return false;
}

int HostOpenFlags(int oflag) {
    int flags = (oflag & _O_RDWR) ? O_RDWR : (oflag & _O_WRONLY) ? O_WRONLY : O_RDONLY;
    if (oflag & _O_APPEND) flags |= O_APPEND;
    if (oflag & _O_CREAT) flags |= O_CREAT;
    if (oflag & _O_TRUNC) flags |= O_TRUNC;
    if (oflag & _O_EXCL) flags |= O_EXCL;
    return flags;
}

// Deleting a read-only file fails, as on Windows.
int RemoveFile(const char* operation, const char* path) {
    if (faults::Enter(operation, path)) return -1;
    std::string hostPath;
    if (!MapPath(path, &hostPath)) return -1;
    struct stat info;
    const host::Ops& ops = host::Get();
    if (ops.lstat(hostPath.c_str(), &info) != 0) return detail::FailWithErrno(-1);
    if (S_ISDIR(info.st_mode) || (!S_ISLNK(info.st_mode) && detail::IsReadOnly(info)))
        return detail::FailWith(ERROR_ACCESS_DENIED, -1);
    if (ops.unlink(hostPath.c_str()) != 0) return detail::FailWithErrno(-1);
    return 0;
}

int MakeFolder(const char* operation, const char* path) {
    if (faults::Enter(operation, path)) return -1;
    std::string hostPath;
    if (!MapPath(path, &hostPath)) return -1;
    if (host::Get().mkdir(hostPath.c_str(), 0777) != 0)
        return detail::FailWith(errno == ENOENT ? ERROR_PATH_NOT_FOUND : detail::ErrorFromErrno(errno), -1);
    return 0;
}

// A file system that cannot flush (EINVAL, ENOTSUP) has nothing more to write: success.
bool FlushHostFile(int fd) {
    return host::Get().fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP;
}

}  // namespace

int _access(const char* path, int mode) {
    if (faults::Enter("_access", path)) return -1;
    std::string hostPath;
    if (!MapPath(path, &hostPath)) return -1;
    struct stat info;
    if (host::Get().stat(hostPath.c_str(), &info) != 0) return detail::FailWithErrno(-1);
    if ((mode & 2) && detail::IsReadOnly(info)) return detail::FailWith(ERROR_ACCESS_DENIED, -1);
    return 0;
}

int _unlink(const char* path) { return RemoveFile("_unlink", path); }
BOOL DeleteFileA(LPCSTR path) { return RemoveFile("DeleteFileA", path) == 0; }

int _mkdir(const char* path) { return MakeFolder("_mkdir", path); }
BOOL CreateDirectoryA(LPCSTR path, SECURITY_ATTRIBUTES*) { return MakeFolder("CreateDirectoryA", path) == 0; }

BOOL RemoveDirectoryA(LPCSTR path) {
    if (faults::Enter("RemoveDirectoryA", path)) return FALSE;
    std::string hostPath;
    if (!MapPath(path, &hostPath)) return FALSE;
    if (host::Get().rmdir(hostPath.c_str()) != 0) return detail::FailWithErrno(FALSE);
    return TRUE;
}

int _chdir(const char* path) {
    if (faults::Enter("_chdir", path)) return -1;
    std::string hostPath;
    if (!MapPath(path, &hostPath)) return -1;
    if (host::Get().chdir(hostPath.c_str()) != 0) return detail::FailWithErrno(-1);
    return 0;
}

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
    if (faults::Enter("GetCurrentDirectoryA")) return 0;
    char current[4096];
    if (!host::Get().getcwd(current, sizeof current)) return detail::FailWithErrno<DWORD>(0);
    std::string folder = FromHostPath(current);
    if (!buffer || folder.size() + 1 > size) return static_cast<DWORD>(folder.size() + 1);
    std::memcpy(buffer, folder.c_str(), folder.size() + 1);
    return static_cast<DWORD>(folder.size());
}

int _open(const char* path, int oflag, int pmode) {
    if (faults::Enter("_open", path)) return -1;
    std::string hostPath;
    if (!MapPath(path, &hostPath)) return -1;
    const host::Ops& ops = host::Get();
    int flags = HostOpenFlags(oflag);
    bool writing = (flags & O_ACCMODE) != O_RDONLY || (flags & O_TRUNC);
    struct stat info;
    if (ops.stat(hostPath.c_str(), &info) == 0) {
        if ((flags & O_CREAT) && (flags & O_EXCL)) return detail::FailWith(ERROR_FILE_EXISTS, -1);
        if (S_ISDIR(info.st_mode) || (writing && detail::IsReadOnly(info)))
            return detail::FailWith(ERROR_ACCESS_DENIED, -1);
    }
    // Without _S_IWRITE a created file is read-only.
    mode_t mode = (pmode & _S_IWRITE) ? 0666 : 0444;
    int fd = ops.open(hostPath.c_str(), flags, mode);
    if (fd < 0) return detail::FailWithErrno(-1);
    if (oflag & _O_SEQUENTIAL) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    if (oflag & _O_TEMPORARY) ops.unlink(hostPath.c_str());
    return fd;
}

int _read(int fd, void* buffer, unsigned int count) {
    if (faults::Enter("_read")) return -1;
    ssize_t got = host::Get().read(fd, buffer, count);
    return got < 0 ? detail::FailWithErrno(-1) : static_cast<int>(got);
}

int _write(int fd, const void* buffer, unsigned int count) {
    const faults::Outcome outcome = faults::Check("_write");
    if (outcome == faults::Outcome::Fail) return -1;
    if (outcome == faults::Outcome::Short) count /= 2;  // a full disk takes only a part
    ssize_t put = host::Get().write(fd, buffer, count);
    return put < 0 ? detail::FailWithErrno(-1) : static_cast<int>(put);
}

long _lseek(int fd, long offset, int origin) {
    if (faults::Enter("_lseek")) return -1;
    off_t at = host::Get().lseek(fd, offset, origin);
    return at < 0 ? detail::FailWithErrno(-1L) : static_cast<long>(at);
}

int _close(int fd) {
    if (faults::Enter("_close")) return -1;
    detail::AddExecBitsIfProgram(fd);
    return host::Get().close(fd) == 0 ? 0 : detail::FailWithErrno(-1);
}

int _commit(int fd) {
    if (faults::Enter("_commit")) return -1;
    return FlushHostFile(fd) ? 0 : detail::FailWithErrno(-1);
}

BOOL FlushPathBuffers(LPCSTR path) {
    if (faults::Enter("FlushPathBuffers", path)) return FALSE;
    std::string hostPath;
    if (!MapPath(path, &hostPath)) return FALSE;
    const host::Ops& ops = host::Get();
    const int fd = ops.open(hostPath.c_str(), O_RDONLY, 0);
    if (fd < 0) return detail::FailWithErrno(FALSE);
    const bool flushed = FlushHostFile(fd);
    const int error = errno;
    ops.close(fd);
    errno = error;
    return flushed ? TRUE : detail::FailWithErrno(FALSE);
}

int CreateAnonymousTempFile() {
    if (faults::Enter("CreateAnonymousTempFile")) return -1;
    const host::Ops& ops = host::Get();
    const char* tmp = ops.getenv("TMPDIR");
    std::string folder = tmp && *tmp ? tmp : "/tmp";
    int fd = ops.open(folder.c_str(), O_TMPFILE | O_RDWR, 0600);
    if (fd >= 0) return fd;
    // File systems without unnamed files: a fresh name, removed at once.
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = folder + "/korvane-spill-" + std::to_string(random());
        fd = ops.open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd >= 0) {
            ops.unlink(name.c_str());
            return fd;
        }
        if (errno != EEXIST) break;
    }
    return detail::FailWithErrno(-1);
}

}  // namespace win
