// Windows attributes on host files: read-only is the owner-write bit; hidden, system and
// archive live in the extended attribute user.korvane.attrib as decimal text.
#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/errors.h"
#include "platform/faults.h"
#include "platform/files.h"
#include "platform/host.h"
#include "platform/hostfile.h"
#include "platform/paths.h"

namespace win {
namespace detail {
namespace {

constexpr const char* kAttributeName = "user.korvane.attrib";

bool ReadStored(const std::string& hostPath, DWORD* value) {
    char text[16];
    ssize_t length = host::Get().getxattr(hostPath.c_str(), kAttributeName, text, sizeof text - 1);
    if (length <= 0) return false;
    text[length] = '\0';
    char* end = nullptr;
    unsigned long parsed = std::strtoul(text, &end, 10);
    if (*end != '\0') return false;
    *value = static_cast<DWORD>(parsed);
    return true;
}

}  // namespace

bool IsReadOnly(const struct stat& info) { return !S_ISDIR(info.st_mode) && !(info.st_mode & S_IWUSR); }

DWORD AttributesOf(const std::string& hostPath, const struct stat& info) {
    if (S_ISDIR(info.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
    DWORD readOnly = IsReadOnly(info) ? FILE_ATTRIBUTE_READONLY : 0;
    DWORD stored = 0;
    if (!ReadStored(hostPath, &stored)) return FILE_ATTRIBUTE_ARCHIVE | readOnly;
    DWORD result = (stored & ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_NORMAL)) | readOnly;
    return result ? result : FILE_ATTRIBUTE_NORMAL;
}

bool StoreAttributes(const std::string& hostPath, DWORD attributes) {
    std::string text = std::to_string(attributes);
    if (host::Get().setxattr(hostPath.c_str(), kAttributeName, text.data(), text.size(), 0) == 0) return true;
    // A file system without user extended attributes keeps only the read-only bit.
    return errno == ENOTSUP;
}

void CopyStoredAttributes(const std::string& from, const std::string& to) {
    DWORD stored = 0;
    if (ReadStored(from, &stored)) StoreAttributes(to, stored);
    else host::Get().removexattr(to.c_str(), kAttributeName);
}

mode_t ProcessUmask() {
    static const mode_t mask = [] {
        mode_t current = ::umask(022);
        ::umask(current);
        return current;
    }();
    return mask;
}

void AddExecBitsIfProgram(int fd) {
    const host::Ops& ops = host::Get();
    int flags = ops.getfl(fd);
    if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) return;
    struct stat info;
    if (ops.fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink == 0) return;
    mode_t allowed = 0111 & ~ProcessUmask();
    if ((info.st_mode & allowed) == allowed) return;
    // The handle may be write-only: read the start through a fresh read-only open.
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    int reader = ops.open(self.c_str(), O_RDONLY, 0);
    if (reader < 0) return;
    unsigned char start[4] = {};
    ssize_t got = ops.pread(reader, start, sizeof start, 0);
    ops.close(reader);
    bool program = (got == 4 && std::memcmp(start, "\x7f" "ELF", 4) == 0) || (got >= 2 && start[0] == '#' && start[1] == '!');
    if (program) ops.fchmod(fd, (info.st_mode & 07777) | allowed);
}

}  // namespace detail

DWORD GetFileAttributesA(LPCSTR path) {
    if (faults::Enter("GetFileAttributesA", path)) return INVALID_FILE_ATTRIBUTES;
    std::string hostPath;
    if (DWORD error = ToHostPath(path, &hostPath)) return detail::FailWith(error, INVALID_FILE_ATTRIBUTES);
    struct stat info;
    if (host::Get().stat(hostPath.c_str(), &info) != 0) return detail::FailWithErrno(INVALID_FILE_ATTRIBUTES);
    return detail::AttributesOf(hostPath, info);
}

BOOL SetFileAttributesA(LPCSTR path, DWORD attributes) {
    if (faults::Enter("SetFileAttributesA", path)) return FALSE;
    std::string hostPath;
    if (DWORD error = ToHostPath(path, &hostPath)) return detail::FailWith(error, FALSE);
    const host::Ops& ops = host::Get();
    struct stat info;
    if (ops.stat(hostPath.c_str(), &info) != 0) return detail::FailWithErrno(FALSE);
    if (S_ISDIR(info.st_mode)) return TRUE;
    mode_t mode = info.st_mode & 07777;
    // Without write permission an unprivileged owner cannot set the extended attribute.
    if (!(mode & S_IWUSR) && ops.chmod(hostPath.c_str(), mode | S_IWUSR) != 0) return detail::FailWithErrno(FALSE);
    bool stored = detail::StoreAttributes(hostPath, attributes);
    int storeError = errno;
    mode_t target = (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~mode_t{0222}) : (mode | S_IWUSR);
    if (ops.chmod(hostPath.c_str(), target) != 0) return detail::FailWithErrno(FALSE);
    if (!stored) {
        errno = storeError;
        return detail::FailWithErrno(FALSE);
    }
    return TRUE;
}

}  // namespace win
