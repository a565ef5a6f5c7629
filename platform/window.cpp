// Windows as Unix stream sockets named after their title in the runtime folder.
//
// One connection carries one message. Request, 16 bytes, little-endian: "KWM1", message
// (u32), wParam (u32), lParam (i32). Answer, 8 bytes: "KWR1", result (i32). A connection
// closed before a whole request is a presence probe and gets no answer.
#include "platform/window.h"

#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/errors.h"
#include "platform/faults.h"
#include "platform/host.h"
#include "platform/paths.h"
#include "platform/system.h"

namespace win {
namespace {

constexpr char kRequestMagic[4] = {'K', 'W', 'M', '1'};
constexpr char kAnswerMagic[4] = {'K', 'W', 'R', '1'};

struct WindowEntry {
    std::string title;
    std::string socketPath;
};

std::mutex g_windowsMutex;
std::vector<WindowEntry>& Windows() {
    static std::vector<WindowEntry> windows;
    return windows;
}

// The same title always gives the same handle.
HWND Intern(const std::string& title, const std::string& socketPath) {
    std::lock_guard lock(g_windowsMutex);
    std::vector<WindowEntry>& windows = Windows();
    for (size_t i = 0; i < windows.size(); ++i)
        if (windows[i].socketPath == socketPath && windows[i].title == title) return reinterpret_cast<HWND>(i + 1);
    windows.push_back({title, socketPath});
    return reinterpret_cast<HWND>(windows.size());
}

bool Lookup(HWND window, WindowEntry* entry) {
    std::lock_guard lock(g_windowsMutex);
    size_t index = reinterpret_cast<size_t>(window);
    if (index == 0 || index > Windows().size()) return false;
    *entry = Windows()[index - 1];
    return !entry->socketPath.empty();
}

bool MakeAddress(const std::string& path, sockaddr_un* address) {
    if (path.empty() || path.size() >= sizeof address->sun_path) return false;
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    std::memcpy(address->sun_path, path.c_str(), path.size());
    return true;
}

// A connected socket, or -1 with errno set.
int Connect(const std::string& path) {
    sockaddr_un address;
    if (!MakeAddress(path, &address)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const host::Ops& ops = host::Get();
    int fd = ops.socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    if (ops.connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        int error = errno;
        ops.close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// Whether a live window answers at this path; a socket left by a dead process is removed.
bool IsAlive(const std::string& path) {
    const host::Ops& ops = host::Get();
    int fd = Connect(path);
    if (fd >= 0) {
        ops.close(fd);
        return true;
    }
    struct stat info;
    if (errno == ECONNREFUSED && ops.lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) ops.unlink(path.c_str());
    return false;
}

bool SendAll(int fd, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t put = host::Get().send(fd, bytes, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        bytes += put;
        size -= put;
    }
    return true;
}

bool ReceiveAll(int fd, void* data, size_t size) {
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
        ssize_t got = host::Get().recv(fd, bytes, size);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        size -= got;
    }
    return true;
}

void Put32(unsigned char* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint32_t Get32(const unsigned char* at) {
    return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

}  // namespace

HWND FindWindowA(LPCSTR, LPCSTR windowName) {
    if (faults::Enter("FindWindowA", windowName)) return nullptr;
    if (!windowName) return nullptr;
    std::string path = RuntimeObjectPath("window", windowName);
    if (!IsAlive(path)) return detail::FailWith<HWND>(ERROR_FILE_NOT_FOUND, nullptr);
    return Intern(windowName, path);
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowEntry entry;
    bool known = Lookup(window, &entry);
    if (faults::Enter("SendMessageA", known ? entry.title.c_str() : nullptr)) return 0;
    faults::RecordMessage({known ? entry.title : std::string(), message, wParam, lParam});
    if (!known) return detail::FailWith<LRESULT>(ERROR_INVALID_WINDOW_HANDLE, 0);
    int fd = Connect(entry.socketPath);
    if (fd < 0) return detail::FailWith<LRESULT>(ERROR_INVALID_WINDOW_HANDLE, 0);
    unsigned char request[16];
    std::memcpy(request, kRequestMagic, 4);
    Put32(request + 4, message);
    Put32(request + 8, static_cast<uint32_t>(wParam));
    Put32(request + 12, static_cast<uint32_t>(lParam));
    unsigned char answer[8];
    bool ok = SendAll(fd, request, sizeof request) && ReceiveAll(fd, answer, sizeof answer) &&
              std::memcmp(answer, kAnswerMagic, 4) == 0;
    host::Get().close(fd);
    if (!ok) return detail::FailWith<LRESULT>(ERROR_INVALID_WINDOW_HANDLE, 0);
    return static_cast<int32_t>(Get32(answer + 4));
}

HWND GetDesktopWindow() { return Intern("", ""); }

MessageWindow::~MessageWindow() { Destroy(); }

bool MessageWindow::Create(const char* title) {
    Destroy();
    if (faults::Enter("CreateWindowExA", title)) return false;
    std::string path = RuntimeObjectPath("window", title);
    sockaddr_un address;
    if (!MakeAddress(path, &address)) return detail::FailWith(ERROR_FILENAME_EXCED_RANGE, false);
    // Listen under a private name first and then rename: a socket that exists under the
    // title but is not listening yet would look dead to FindWindowA and be removed.
    static std::atomic<unsigned> serial{0};
    std::string staging = path.substr(0, path.rfind('/')) + "/tmp." + std::to_string(::getpid()) + "." +
                          std::to_string(serial++);
    sockaddr_un stagingAddress;
    if (!MakeAddress(staging, &stagingAddress)) return detail::FailWith(ERROR_FILENAME_EXCED_RANGE, false);
    const host::Ops& ops = host::Get();
    int fd = ops.socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return detail::FailWithErrno(false);
    bool bound = ops.bind(fd, reinterpret_cast<sockaddr*>(&stagingAddress), sizeof stagingAddress) == 0;
    bool ok = bound && ops.listen(fd, 16) == 0;
    DWORD error = ok ? ERROR_SUCCESS : detail::ErrorFromErrno(errno);
    if (ok && ops.renameNoReplace(staging.c_str(), path.c_str()) != 0) {
        // Taken: by a live window, or left by a dead one (which IsAlive removes).
        ok = errno == EEXIST && !IsAlive(path) && ops.renameNoReplace(staging.c_str(), path.c_str()) == 0;
        if (!ok) error = ERROR_ALREADY_EXISTS;
    }
    if (!ok) {
        if (bound) ops.unlink(staging.c_str());
        ops.close(fd);
        return detail::FailWith(error, false);
    }
    listenFd_ = fd;
    socketPath_ = path;
    handle_ = Intern(title, path);
    return true;
}

bool MessageWindow::Receive(const Handler& handler, int timeoutMs) {
    if (listenFd_ < 0) return detail::FailWith(ERROR_INVALID_WINDOW_HANDLE, false);
    const host::Ops& ops = host::Get();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            wait = static_cast<int>(std::max<int64_t>(0, left.count()));
        }
        pollfd ready{listenFd_, POLLIN, 0};
        int polled = ops.poll(&ready, 1, wait);
        if (polled < 0 && errno == EINTR) continue;
        if (polled < 0) return detail::FailWithErrno(false);
        if (polled == 0) return false;
        int connection = ops.accept(listenFd_);
        if (connection < 0) continue;
        unsigned char request[16];
        // A sender writes its request at once; a probe closes without one.
        pollfd incoming{connection, POLLIN, 0};
        bool whole = ops.poll(&incoming, 1, 5000) > 0 && ReceiveAll(connection, request, sizeof request) &&
                     std::memcmp(request, kRequestMagic, 4) == 0;
        if (!whole) {
            ops.close(connection);
            continue;
        }
        LRESULT result = handler(Get32(request + 4), Get32(request + 8), static_cast<int32_t>(Get32(request + 12)));
        unsigned char answer[8];
        std::memcpy(answer, kAnswerMagic, 4);
        Put32(answer + 4, static_cast<uint32_t>(result));
        SendAll(connection, answer, sizeof answer);
        ops.close(connection);
        return true;
    }
}

void MessageWindow::Destroy() {
    if (listenFd_ < 0) return;
    const host::Ops& ops = host::Get();
    ops.close(listenFd_);
    ops.unlink(socketPath_.c_str());
    listenFd_ = -1;
    socketPath_.clear();
    handle_ = nullptr;
}

}  // namespace win
