// The last step: starting the registration of the flagged components, then removing the
// package and its unpack folder.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/FileHelpers.h"
#include "app/UpdateApp.h"
#include "app/UpdateDlg.h"
#include "app/UpdateFiles.h"
#include "platform/faults.h"
#include "platform/win.h"

using namespace win;

namespace {

// The extension is the text after the last '.' of the whole path, so a dot in a folder
// name alone makes a library; a path without any '.' counts as an executable.
bool IsExecutable(const char* fullPath) {
    const char* dot = std::strrchr(fullPath, '.');
    if (!dot) return true;
    const char* ext = dot + 1;
    const char kExe[] = "exe";
    for (std::size_t i = 0; i < sizeof kExe; ++i) {
        const char c = (ext[i] >= 'A' && ext[i] <= 'Z') ? static_cast<char>(ext[i] + 0x20) : ext[i];
        if (c != kExe[i]) return false;
    }
    return true;
}

}  // namespace

int CUpdateDlg::RegisterComponents() {
    int forced;
    if (faults::ForcedResult("RegisterComponents", &forced)) return forced;  // test seam
    for (int i = 0; i < m_nFileCount; ++i) {
        const UpdateFileEntry& t = g_TargetFiles[i];
        if (t.RegFlag == 0) continue;
        const bool executable = IsExecutable(t.FullPath);

        char folder[MAX_PATH];
        std::snprintf(folder, sizeof folder, "%s", t.FullPath);
        char* slash = std::strrchr(folder, '\\');
        if (!slash) return -1;
        *slash = 0;
        const char* fileName = slash + 1;
        if (_chdir(folder) != 0) return -1;

        if (executable) {
            ShellExecuteA(nullptr, nullptr, fileName, " /Regserver", nullptr, SW_HIDE);
        } else {
            char program[MAX_PATH + 16];
            char parameters[MAX_PATH + 8];
            std::snprintf(program, sizeof program, "%s\\regsvr32.exe", m_szSystemDir);
            std::snprintf(parameters, sizeof parameters, " /s %s", fileName);
            ShellExecuteA(nullptr, nullptr, program, parameters, nullptr, SW_HIDE);
        }
    }
    _unlink(g_strPackagePath.c_str());
    ShellDeletePath(g_strUnpackDir);
    return 0;
}
