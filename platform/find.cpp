// Folder listings: "." and ".." first, then the entries in NTFS order (ordinal order of
// the upper-cased names), filtered by a Windows wildcard pattern.
#include <algorithm>
#include <cstring>
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

struct Listing : detail::HandleObject {
    std::vector<WIN32_FIND_DATAA> entries;
    size_t next = 0;
};

WIN32_FIND_DATAA Describe(const std::string& folder, const std::string& name) {
    WIN32_FIND_DATAA data{};
    std::string hostPath = folder + "/" + name;
    struct stat info;
    if (host::Get().stat(hostPath.c_str(), &info) == 0) {
        data.dwFileAttributes = detail::AttributesOf(hostPath, info);
        uint64_t size = S_ISDIR(info.st_mode) ? 0 : static_cast<uint64_t>(info.st_size);
        data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data.nFileSizeLow = static_cast<DWORD>(size);
        data.ftLastWriteTime = detail::FileTimeFromTimespec(info.st_mtim);
        data.ftCreationTime = data.ftLastWriteTime;
        data.ftLastAccessTime = detail::FileTimeFromTimespec(info.st_atim);
    } else {
        data.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;  // a dangling link
    }
    std::string shown = Utf8ToCp936(name);
    std::strncpy(data.cFileName, shown.c_str(), MAX_PATH - 1);
    return data;
}

}  // namespace

HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) {
    if (faults::Enter("FindFirstFileA", pattern)) return INVALID_HANDLE_VALUE;
    std::string hostPattern;
    if (DWORD error = ToHostPath(pattern, &hostPattern, true)) return detail::FailWith(error, INVALID_HANDLE_VALUE);
    size_t slash = hostPattern.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : hostPattern.substr(0, slash);
    std::string namePattern = slash == std::string::npos ? hostPattern : hostPattern.substr(slash + 1);

    std::vector<std::string> names;
    if (host::Get().listFolder(folder.c_str(), &names) != 0)
        return detail::FailWith(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    std::vector<std::pair<std::u32string, std::string>> sorted;
    for (const std::string& name : names)
        if (WildcardMatch(namePattern, name)) sorted.emplace_back(NameKey(name), name);
    std::sort(sorted.begin(), sorted.end());

    auto listing = std::make_unique<Listing>();
    if (folder != "/")
        for (const char* dots : {".", ".."})
            if (WildcardMatch(namePattern, dots)) listing->entries.push_back(Describe(folder, dots));
    for (const auto& entry : sorted) listing->entries.push_back(Describe(folder, entry.second));
    if (listing->entries.empty()) return detail::FailWith(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    *data = listing->entries[0];
    listing->next = 1;
    return detail::RegisterHandle(std::move(listing));
}

BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) {
    if (faults::Enter("FindNextFileA")) return FALSE;
    Listing* listing = detail::LookupHandleAs<Listing>(find);
    if (!listing) return detail::FailWith(ERROR_INVALID_HANDLE, FALSE);
    if (listing->next >= listing->entries.size()) return detail::FailWith(ERROR_NO_MORE_FILES, FALSE);
    *data = listing->entries[listing->next++];
    return TRUE;
}

BOOL FindClose(HANDLE find) {
    if (faults::Enter("FindClose")) return FALSE;
    if (!detail::LookupHandleAs<Listing>(find)) return detail::FailWith(ERROR_INVALID_HANDLE, FALSE);
    detail::ReleaseHandle(find);
    return TRUE;
}

}  // namespace win
