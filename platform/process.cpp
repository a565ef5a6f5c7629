// Starting programs through the shell.
#include "platform/process.h"

#include <cerrno>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/faults.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/host.h"
#include "platform/hostfile.h"
#include "platform/names.h"
#include "platform/paths.h"

namespace win {
namespace {

struct Process : detail::HandleObject {
    pid_t pid;
    explicit Process(pid_t id) : pid(id) {}
};

// Splits parameter text into arguments as a Windows command line is split: blanks
// separate; quotes group; 2n backslashes before a quote give n and the quote groups,
// 2n+1 give n and a literal quote; "" inside quotes is a literal quote.
std::vector<std::string> SplitParameters(const std::string& text) {
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false, quoted = false;
    for (size_t i = 0; i < text.size();) {
        char c = text[i];
        if (!quoted && (c == ' ' || c == '\t')) {
            if (inArgument) arguments.push_back(current);
            current.clear();
            inArgument = false;
            ++i;
            continue;
        }
        inArgument = true;
        if (c == '\\') {
            size_t count = 0;
            while (i < text.size() && text[i] == '\\') ++count, ++i;
            if (i < text.size() && text[i] == '"') {
                current.append(count / 2, '\\');
                if (count % 2) {
                    current += '"';
                    ++i;
                }
            } else {
                current.append(count, '\\');
            }
        } else if (c == '"') {
            if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
                current += '"';
                i += 2;
            } else {
                quoted = !quoted;
                ++i;
            }
        } else {
            current += c;
            ++i;
        }
    }
    if (inArgument) arguments.push_back(current);
    return arguments;
}

bool EndsWithExe(const std::string& name) {
    return name.size() >= 4 && NameKey(name.substr(name.size() - 4)) == NameKey(".EXE");
}

// Returns 0 and the pid, or the Windows error.
DWORD Launch(const char* operation, const char* file, const char* parameters, const char* directory, int show,
             pid_t* pid) {
    faults::StartedProgram record{file ? file : "", parameters ? parameters : "", directory ? directory : "", "",
                                  show};
    char current[MAX_PATH * 4];
    if (GetCurrentDirectoryA(sizeof current, current) < sizeof current) record.currentFolder = current;
    faults::RecordStart(record);
    if (faults::Enter(operation, file)) return ERROR_ACCESS_DENIED;

    std::string program;
    if (DWORD error = ToHostPath(file, &program)) return error;
    const host::Ops& ops = host::Get();
    // Relative names come from the current folder, never from the search path.
    if (program[0] != '/') {
        char cwd[4096];
        if (!ops.getcwd(cwd, sizeof cwd)) return detail::ErrorFromErrno(errno);
        program = std::string(cwd) + "/" + program;
    }
    struct stat info;
    if (ops.stat(program.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return ERROR_FILE_NOT_FOUND;
    mode_t allowed = 0111 & ~detail::ProcessUmask();
    if (EndsWithExe(program) && (info.st_mode & allowed) != allowed)
        ops.chmod(program.c_str(), (info.st_mode & 07777) | allowed);

    std::string folder;
    if (directory && *directory)
        if (DWORD error = ToHostPath(directory, &folder)) return error;
    std::vector<std::string> arguments = SplitParameters(Cp936ToUtf8(parameters ? parameters : ""));
    arguments.insert(arguments.begin(), program);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    int error = ops.spawn(folder.empty() ? nullptr : folder.c_str(), argv.data(), pid);
    return error ? detail::ErrorFromErrno(error) : ERROR_SUCCESS;
}

}  // namespace

HINSTANCE ShellExecuteA(HWND, LPCSTR, LPCSTR file, LPCSTR parameters, LPCSTR directory, int showCommand) {
    pid_t pid = 0;
    DWORD error = Launch("ShellExecuteA", file, parameters, directory, showCommand, &pid);
    if (error) {
        detail::SetErrorAndErrno(error);
        return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(error));
    }
    return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(42));
}

BOOL ShellExecuteExA(SHELLEXECUTEINFOA* info) {
    if (!info) return detail::FailWith(ERROR_INVALID_PARAMETER, FALSE);
    pid_t pid = 0;
    DWORD error = Launch("ShellExecuteExA", info->lpFile, info->lpParameters, info->lpDirectory, info->nShow, &pid);
    info->hProcess = nullptr;
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(error ? error : 42));
    if (error) return detail::FailWith(error, FALSE);
    if (info->fMask & SEE_MASK_NOCLOSEPROCESS) info->hProcess = detail::RegisterHandle(std::make_unique<Process>(pid));
    return TRUE;
}

}  // namespace win
