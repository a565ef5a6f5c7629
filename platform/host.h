// The one table through which the platform reaches the host OS. The POSIX table is the
// only implementation; tests install a copy with some entries replaced to make any host
// call fail.
#pragma once
#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace win::host {

struct Ops {
    int (*open)(const char* path, int flags, mode_t mode);
    int (*close)(int fd);
    ssize_t (*read)(int fd, void* buffer, size_t count);
    ssize_t (*write)(int fd, const void* buffer, size_t count);
    ssize_t (*pread)(int fd, void* buffer, size_t count, off_t offset);
    off_t (*lseek)(int fd, off_t offset, int whence);
    // The file status flags (access mode included), as fcntl F_GETFL reports them.
    int (*getfl)(int fd);
    int (*fstat)(int fd, struct stat* info);
    int (*stat)(const char* path, struct stat* info);
    int (*lstat)(const char* path, struct stat* info);
    int (*chmod)(const char* path, mode_t mode);
    int (*fchmod)(int fd, mode_t mode);
    int (*mkdir)(const char* path, mode_t mode);
    int (*rmdir)(const char* path);
    int (*unlink)(const char* path);
    // Renames without ever replacing an existing destination.
    int (*renameNoReplace)(const char* from, const char* to);
    int (*chdir)(const char* path);
    char* (*getcwd)(char* buffer, size_t size);
    ssize_t (*readlink)(const char* path, char* buffer, size_t size);
    // Names in a folder ("." and ".." left out), in the host's order.
    int (*listFolder)(const char* path, std::vector<std::string>* names);
    ssize_t (*getxattr)(const char* path, const char* name, void* value, size_t size);
    int (*setxattr)(const char* path, const char* name, const void* value, size_t size,
                    int flags);
    int (*removexattr)(const char* path, const char* name);
    int (*futimens)(int fd, const struct timespec times[2]);
    int (*flock)(int fd, int operation);
    int (*socket)(int domain, int type, int protocol);
    int (*bind)(int fd, const struct sockaddr* address, socklen_t length);
    int (*listen)(int fd, int backlog);
    int (*accept)(int fd);
    int (*connect)(int fd, const struct sockaddr* address, socklen_t length);
    ssize_t (*send)(int fd, const void* buffer, size_t count);
    ssize_t (*recv)(int fd, void* buffer, size_t count);
    int (*poll)(struct pollfd* fds, nfds_t count, int timeoutMs);
    // Starts argv[0] in a new session, stdin and stdout on /dev/null, in folder (null: the
    // current one), without waiting. Returns 0 and the pid, or an errno value.
    int (*spawn)(const char* folder, char* const argv[], pid_t* pid);
    FILE* (*fopen)(const char* path, const char* mode);
    size_t (*fread)(void* buffer, size_t size, size_t count, FILE* stream);
    size_t (*fwrite)(const void* buffer, size_t size, size_t count, FILE* stream);
    int (*fseek)(FILE* stream, long offset, int origin);
    long (*ftell)(FILE* stream);
    int (*fclose)(FILE* stream);
    const char* (*getenv)(const char* name);
    std::time_t (*time)(std::time_t* result);
    void (*sleepMs)(unsigned milliseconds);
    // Writes a file's data, or a folder's entries (opened read-only), through to the disk.
    int (*fsync)(int fd);
    // Renames, atomically replacing an existing destination.
    int (*rename)(const char* from, const char* to);
};

const Ops& Posix();
// The table in use.
const Ops& Get();
// Installs a table (null restores the POSIX one); the table must outlive its use.
void Install(const Ops* ops);

}  // namespace win::host
