// The POSIX implementation of the host table.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/host.h"

namespace win::host {
namespace {

int ListFolder(const char* path, std::vector<std::string>* names) {
    DIR* dir = ::opendir(path);
    if (!dir) return -1;
    names->clear();
    while (dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        names->emplace_back(entry->d_name);
    }
    ::closedir(dir);
    return 0;
}

int RenameNoReplace(const char* from, const char* to) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // File systems without the flag: check, then rename.
    struct stat info;
    if (::lstat(to, &info) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from, to);
}

// Double fork: the middle child starts a new session and exits at once, so the program
// is never left as a zombie of ours. A close-on-exec pipe carries the program's pid and,
// if exec fails, its errno.
int Spawn(const char* folder, char* const argv[], pid_t* pid) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return errno;
    pid_t middle = ::fork();
    if (middle < 0) {
        int error = errno;
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return error;
    }
    if (middle == 0) {
        ::close(pipeFds[0]);
        ::setsid();
        pid_t child = ::fork();
        if (child != 0) {
            int error = child < 0 ? errno : 0;
            pid_t sent = child < 0 ? -error : child;
            (void)!::write(pipeFds[1], &sent, sizeof sent);
            ::_exit(0);
        }
        int error = 0;
        int devNull = ::open("/dev/null", O_RDWR);
        if (devNull < 0 || ::dup2(devNull, 0) < 0 || ::dup2(devNull, 1) < 0) error = errno;
        if (!error && folder && ::chdir(folder) != 0) error = errno;
        if (!error) {
            ::execv(argv[0], argv);
            error = errno;
        }
        (void)!::write(pipeFds[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    pid_t child = 0;
    int error = 0;
    ssize_t got = ::read(pipeFds[0], &child, sizeof child);
    if (got != sizeof child) {
        error = EIO;
    } else if (child < 0) {
        error = -child;
    } else if (::read(pipeFds[0], &error, sizeof error) != sizeof error) {
        error = 0;  // exec succeeded: the pipe closed with nothing more
    }
    ::close(pipeFds[0]);
    if (error == 0) *pid = child;
    return error;
}

void SleepMs(unsigned milliseconds) {
    timespec rest{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

const Ops kPosix{
    .open = [](const char* p, int f, mode_t m) { return ::open(p, f | O_CLOEXEC, m); },
    .close = ::close,
    .read = ::read,
    .write = ::write,
    .pread = ::pread,
    .lseek = ::lseek,
    .getfl = [](int fd) { return ::fcntl(fd, F_GETFL); },
    .fstat = ::fstat,
    .stat = ::stat,
    .lstat = ::lstat,
    .chmod = ::chmod,
    .fchmod = ::fchmod,
    .mkdir = ::mkdir,
    .rmdir = ::rmdir,
    .unlink = ::unlink,
    .renameNoReplace = RenameNoReplace,
    .chdir = ::chdir,
    .getcwd = ::getcwd,
    .readlink = ::readlink,
    .listFolder = ListFolder,
    .getxattr = ::getxattr,
    .setxattr = ::setxattr,
    .removexattr = ::removexattr,
    .futimens = ::futimens,
    .flock = ::flock,
    .socket = [](int d, int t, int p) { return ::socket(d, t | SOCK_CLOEXEC, p); },
    .bind = ::bind,
    .listen = ::listen,
    .accept = [](int fd) { return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC); },
    .connect = ::connect,
    .send = [](int fd, const void* b, size_t n) { return ::send(fd, b, n, MSG_NOSIGNAL); },
    .recv = [](int fd, void* b, size_t n) { return ::recv(fd, b, n, 0); },
    .poll = ::poll,
    .spawn = Spawn,
    .fopen = [](const char* p, const char* m) { return std::fopen(p, m); },
    .fread = std::fread,
    .fwrite = std::fwrite,
    .fseek = std::fseek,
    .ftell = std::ftell,
    .fclose = std::fclose,
    .getenv = [](const char* n) -> const char* { return std::getenv(n); },
    .time = [](std::time_t* t) { return std::time(t); },
    .sleepMs = SleepMs,
    .fsync = ::fsync,
    .rename = ::rename,
};

std::atomic<const Ops*> g_current{&kPosix};

}  // namespace

const Ops& Posix() { return kPosix; }
const Ops& Get() { return *g_current.load(std::memory_order_acquire); }
void Install(const Ops* ops) { g_current.store(ops ? ops : &kPosix, std::memory_order_release); }

}  // namespace win::host
