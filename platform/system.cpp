// Command line, own location, system folder, environment, clock, handles, socket layer.
#include "platform/system.h"

#include <fcntl.h>

#include <cstring>
#include <mutex>
#include <string>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/faults.h"
#include "platform/handles.h"
#include "platform/host.h"
#include "platform/paths.h"

namespace win {
namespace {

// The GetSystemDirectoryA / GetEnvironmentVariableA convention: the length copied, or
// the size needed (terminator included) when the buffer is too small.
DWORD CopyOrNeeded(const std::string& text, LPSTR buffer, DWORD size) {
    if (!buffer || text.size() + 1 > size) return static_cast<DWORD>(text.size() + 1);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

std::string ReadCommandLine() {
    const host::Ops& ops = host::Get();
    int fd = ops.open("/proc/self/cmdline", O_RDONLY, 0);
    if (fd < 0) return {};
    std::string raw;
    char buffer[4096];
    for (ssize_t got; (got = ops.read(fd, buffer, sizeof buffer)) > 0;) raw.append(buffer, got);
    ops.close(fd);
    if (!raw.empty() && raw.back() == '\0') raw.pop_back();
    for (char& c : raw)
        if (c == '\0') c = ' ';
    return Utf8ToCp936(raw);
}

}  // namespace

BOOL CloseHandle(HANDLE handle) {
    if (faults::Enter("CloseHandle")) return FALSE;
    if (!detail::ReleaseHandle(handle)) return detail::FailWith(ERROR_INVALID_HANDLE, FALSE);
    return TRUE;
}

LPSTR GetCommandLineA() {
    faults::Enter("GetCommandLineA");
    if (const char* forced = faults::CommandLineOverride()) return const_cast<LPSTR>(forced);
    static std::string commandLine = ReadCommandLine();
    return commandLine.data();
}

DWORD GetModuleFileNameA(HMODULE, LPSTR buffer, DWORD size) {
    if (faults::Enter("GetModuleFileNameA")) return 0;
    std::string path;
    if (const char* forced = faults::ModuleFileNameOverride()) {
        path = forced;
    } else {
        char target[4096];
        ssize_t length = host::Get().readlink("/proc/self/exe", target, sizeof target - 1);
        if (length <= 0) return detail::FailWithErrno<DWORD>(0);
        path = FromHostPath(std::string(target, length));
    }
    if (!buffer || size == 0) return detail::FailWith<DWORD>(ERROR_INSUFFICIENT_BUFFER, 0);
    if (path.size() < size) {
        std::memcpy(buffer, path.c_str(), path.size() + 1);
        return static_cast<DWORD>(path.size());
    }
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
    if (faults::Enter("GetSystemDirectoryA")) return 0;
    const char* configured = host::Get().getenv("KORVANE_SYSTEM_DIR");
    std::string folder = FromHostPath(configured && *configured ? configured : "/usr/lib/korvane/system");
    while (folder.size() > 1 && folder.back() == '\\') folder.pop_back();
    return CopyOrNeeded(folder, buffer, size);
}

DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    if (faults::Enter("GetEnvironmentVariableA")) return 0;
    const char* value = name ? host::Get().getenv(Cp936ToUtf8(name).c_str()) : nullptr;
    if (!value) return detail::FailWith<DWORD>(ERROR_ENVVAR_NOT_FOUND, 0);
    return CopyOrNeeded(Utf8ToCp936(value), buffer, size);
}

void Sleep(DWORD milliseconds) {
    faults::Enter("Sleep");
    host::Get().sleepMs(milliseconds);
}

std::time_t time(std::time_t* result) {
    faults::Enter("time");
    return host::Get().time(result);
}

BOOL AfxSocketInit(void*) { return faults::Enter("AfxSocketInit") ? FALSE : TRUE; }

}  // namespace win
