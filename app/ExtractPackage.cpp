// The first two steps: unpacking the downloaded package beside it and finding the
// package's top folder with the update manifest in it.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/FileHelpers.h"
#include "app/StepMessage.h"
#include "app/UpdateApp.h"
#include "app/UpdateDlg.h"
#include "app/UpdateFiles.h"
#include "cab/cabinet.h"
#include "cab/target_path.h"
#include "platform/faults.h"
#include "platform/win.h"

using namespace win;

std::string g_strUnpackDir;

namespace {

// True when the package's name as the command line gave it (below the download folder;
// for any other path, everything after its drive) holds only names Windows keeps as given
// and none that climbs out (".."): the package and its unpack folder then lie where they
// should, and no device or unconvertible name is touched.
bool IsSafePackagePath(const std::string& path) {
    const std::string downTemp = GetModuleFolder() + "DownTemp\\";
    std::size_t from = 0;
    if (path.compare(0, downTemp.size(), downTemp) == 0) {
        from = downTemp.size();
    } else {
        if (path.size() >= 2 && path[1] == ':') from = 2;
        if (from < path.size() && path[from] == '\\') ++from;
    }
    return IsSafeName(path.c_str() + from);
}

}  // namespace

int CUpdateDlg::ExtractPackage() {
    int forced;
    if (faults::ForcedResult("ExtractPackage", &forced)) return forced;  // test seam
    CCabinet cabinet;
    // Refused before anything is looked at or removed beside it.
    if (!IsSafePackagePath(g_strPackagePath)) {
        ShowStepMessage(IDS_EXTRACT_FAILED, g_strPackagePath.c_str());
        return -1;
    }
    if (!PathExists(g_strPackagePath)) {
        ShowStepMessage(IDS_PACKAGE_MISSING, g_strPackagePath.c_str());
        return -1;
    }
    g_strUnpackDir = g_strPackagePath + ".Folder";

    const std::size_t slash = g_strPackagePath.rfind('\\');
    if (slash == std::string::npos) return -1;
    std::string name = g_strPackagePath.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return -1;
    name.resize(dot);
    std::snprintf(m_szManifestName, sizeof m_szManifestName, "%s.update", name.c_str());

    // A folder left by an earlier run would keep its read-only files and its top folder:
    // the package is always unpacked into a fresh one.
    if (PathExists(g_strUnpackDir)) ShellDeletePath(g_strUnpackDir);
    if (PathExists(g_strUnpackDir) || !cabinet.Extract(g_strPackagePath.c_str(), g_strUnpackDir.c_str())) {
        ShowStepMessage(IDS_EXTRACT_FAILED, g_strPackagePath.c_str());
        return -1;
    }
    return 0;
}

int CUpdateDlg::LocateExtractedFolder() {
    int forced;
    if (faults::ForcedResult("LocateExtractedFolder", &forced)) return forced;  // test seam
    const std::string pattern = g_strUnpackDir + "\\*.*";
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(pattern.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return 1;

    // The first entry is the folder's own "." entry.
    int result = 1;
    while (FindNextFileA(find, &entry)) {
        if (entry.cFileName[0] == '.') continue;
        if (entry.dwFileAttributes == FILE_ATTRIBUTE_ARCHIVE ||
            entry.dwFileAttributes == (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY))
            continue;
        m_strExtractedDir = g_strUnpackDir + "\\" + entry.cFileName;
        m_strManifestPath = m_strExtractedDir + "\\" + m_szManifestName;
        result = 0;
        break;
    }
    FindClose(find);
    return result;
}
