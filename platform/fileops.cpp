// Whole-entry operations: rename (never replacing, or replacing a file in one step), copy
// with attributes and time, and the shell's permanent delete of folders with their content.
#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/faults.h"
#include "platform/files.h"
#include "platform/host.h"
#include "platform/hostfile.h"
#include "platform/paths.h"

namespace win {
namespace {

// Copies content, stored attributes, mode and last-write time; `to` must not be a
// read-only file. On failure a partial `to` is removed.
bool CopyHostFile(const std::string& from, const struct stat& fromInfo, const std::string& to) {
    const host::Ops& ops = host::Get();
    int in = ops.open(from.c_str(), O_RDONLY, 0);
    if (in < 0) return false;
    int out = ops.open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0) {
        int error = errno;
        ops.close(in);
        errno = error;
        return false;
    }
    std::vector<char> buffer(1 << 16);
    bool ok = true;
    for (;;) {
        ssize_t got = ops.read(in, buffer.data(), buffer.size());
        if (got == 0) break;
        if (got < 0) {
            ok = false;
            break;
        }
        for (ssize_t done = 0; ok && done < got;) {
            ssize_t put = ops.write(out, buffer.data() + done, got - done);
            if (put <= 0) ok = false;
            else done += put;
        }
        if (!ok) break;
    }
    int error = errno;
    if (ok) {
        detail::CopyStoredAttributes(from, to);
        struct timespec times[2] = {{0, UTIME_OMIT}, fromInfo.st_mtim};
        ok = ops.futimens(out, times) == 0 && ops.fchmod(out, fromInfo.st_mode & 07777) == 0;
        error = errno;
    }
    ops.close(in);
    if (ops.close(out) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) ops.unlink(to.c_str());
    errno = error;
    return ok;
}

int RemoveTree(const std::string& hostPath) {
    const host::Ops& ops = host::Get();
    struct stat info;
    if (ops.lstat(hostPath.c_str(), &info) != 0) return -1;
    if (!S_ISDIR(info.st_mode)) return ops.unlink(hostPath.c_str());
    std::vector<std::string> names;
    if (ops.listFolder(hostPath.c_str(), &names) != 0) return -1;
    int result = 0;
    for (const std::string& name : names)
        if (RemoveTree(hostPath + "/" + name) != 0) result = -1;
    if (ops.rmdir(hostPath.c_str()) != 0) result = -1;
    return result;
}

// Renames an entry. Without `replace` an existing destination is never touched, and a file
// crosses to another file system by copy and delete; with it, a file takes the place of an
// existing destination file in one step.
BOOL MoveEntry(const char* operation, LPCSTR existing, LPCSTR newName, bool replace) {
    if (faults::Enter(operation, existing, newName)) return FALSE;
    std::string from, to;
    if (DWORD error = ToHostPath(existing, &from)) return detail::FailWith(error, FALSE);
    if (DWORD error = ToHostPath(newName, &to)) return detail::FailWith(error, FALSE);
    const host::Ops& ops = host::Get();
    struct stat info;
    if (ops.lstat(from.c_str(), &info) != 0) return detail::FailWithErrno(FALSE);
    struct stat target;
    const bool targetExists = ops.lstat(to.c_str(), &target) == 0;
    if (replace) {
        if (!S_ISREG(info.st_mode) || (targetExists && (S_ISDIR(target.st_mode) || detail::IsReadOnly(target))))
            return detail::FailWith(ERROR_ACCESS_DENIED, FALSE);
        if (ops.rename(from.c_str(), to.c_str()) == 0) return TRUE;
        return detail::FailWith(errno == ENOENT ? ERROR_PATH_NOT_FOUND : detail::ErrorFromErrno(errno), FALSE);
    }
    if (targetExists) return detail::FailWith(ERROR_ALREADY_EXISTS, FALSE);
    if (ops.renameNoReplace(from.c_str(), to.c_str()) == 0) return TRUE;
    if (errno == ENOENT) return detail::FailWith(ERROR_PATH_NOT_FOUND, FALSE);
    if (errno != EXDEV || !S_ISREG(info.st_mode)) return detail::FailWithErrno(FALSE);
    // Another file system: copy, then remove the original.
    if (!CopyHostFile(from, info, to)) return detail::FailWithErrno(FALSE);
    ops.unlink(from.c_str());
    return TRUE;
}

}  // namespace

BOOL MoveFileA(LPCSTR existing, LPCSTR newName) {
    return MoveEntry("MoveFileA", existing, newName, false);
}

BOOL MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags) {
    return MoveEntry("MoveFileExA", existing, newName, flags & MOVEFILE_REPLACE_EXISTING);
}

BOOL CopyFileA(LPCSTR existing, LPCSTR newName, BOOL failIfExists) {
    if (faults::Enter("CopyFileA", existing, newName)) return FALSE;
    std::string from, to;
    if (DWORD error = ToHostPath(existing, &from)) return detail::FailWith(error, FALSE);
    if (DWORD error = ToHostPath(newName, &to)) return detail::FailWith(error, FALSE);
    const host::Ops& ops = host::Get();
    struct stat info;
    if (ops.stat(from.c_str(), &info) != 0) return detail::FailWithErrno(FALSE);
    if (S_ISDIR(info.st_mode)) return detail::FailWith(ERROR_ACCESS_DENIED, FALSE);
    struct stat target;
    if (ops.stat(to.c_str(), &target) == 0) {
        if (failIfExists) return detail::FailWith(ERROR_FILE_EXISTS, FALSE);
        if (target.st_dev == info.st_dev && target.st_ino == info.st_ino)
            return detail::FailWith(ERROR_SHARING_VIOLATION, FALSE);
        if (S_ISDIR(target.st_mode) || (detail::AttributesOf(to, target) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)))
            return detail::FailWith(ERROR_ACCESS_DENIED, FALSE);
    }
    if (!CopyHostFile(from, info, to))
        return detail::FailWith(errno == ENOENT ? ERROR_PATH_NOT_FOUND : detail::ErrorFromErrno(errno), FALSE);
    return TRUE;
}

int SHFileOperationA(SHFILEOPSTRUCTA* operation) {
    if (!operation || !operation->pFrom) return ERROR_INVALID_PARAMETER;
    if (faults::Enter("SHFileOperationA", operation->pFrom)) return ERROR_ACCESS_DENIED;
    operation->fAnyOperationsAborted = FALSE;
    if (operation->wFunc != FO_DELETE) return ERROR_INVALID_FUNCTION;
    int result = 0;
    for (const char* item = operation->pFrom; *item; item += std::strlen(item) + 1) {
        std::string hostPath;
        DWORD error = ToHostPath(item, &hostPath);
        if (error == ERROR_SUCCESS && RemoveTree(hostPath) != 0) error = detail::ErrorFromErrno(errno);
        if (error != ERROR_SUCCESS && result == 0) result = static_cast<int>(error);
    }
    return result;
}

}  // namespace win
