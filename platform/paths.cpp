// Windows path -> host path: code page conversion, separators, name rules, case lookup.
#include "platform/paths.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/codepage.h"
#include "platform/host.h"
#include "platform/names.h"

namespace win {
namespace {

bool IsRefusedChar(unsigned char c, bool allowWildcards) {
    if (c < 0x20) return true;
    if (allowWildcards && (c == '*' || c == '?')) return false;
    return std::strchr("<>:\"|?*", c) != nullptr;
}

// The entry of `folder` that matches `name` without regard to case, or empty.
std::string FindEntryIgnoringCase(const std::string& folder, const std::string& name) {
    std::vector<std::string> entries;
    if (host::Get().listFolder(folder.empty() ? "." : folder.c_str(), &entries) != 0) return {};
    std::u32string key = NameKey(name);
    std::string best;
    for (const std::string& entry : entries)
        if (NameKey(entry) == key && (best.empty() || entry < best)) best = entry;
    return best;
}

}  // namespace

DWORD ToHostPath(const char* winPath, std::string* hostPath, bool allowWildcards) {
    if (!winPath || !*winPath) return ERROR_PATH_NOT_FOUND;
    if (std::strlen(winPath) >= static_cast<size_t>(MAX_PATH)) return ERROR_FILENAME_EXCED_RANGE;
    std::string text;
    if (!Cp936ToUtf8Exact(winPath, &text)) return ERROR_INVALID_NAME;
    for (char& c : text)
        if (c == '\\') c = '/';
    // A drive prefix names the host's root.
    if (text.size() >= 2 && text[1] == ':' && std::isalpha(static_cast<unsigned char>(text[0]))) {
        text.erase(0, 2);
        if (text.empty() || text[0] != '/') text.insert(0, "/");
    }
    bool absolute = text[0] == '/';
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('/', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string& part = parts[i];
        if (part == "." || part == "..") continue;
        bool last = i + 1 == parts.size();
        for (unsigned char c : part)
            if (IsRefusedChar(c, allowWildcards && last)) return ERROR_INVALID_NAME;
        while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
        if (part.empty()) return ERROR_INVALID_NAME;
    }

    const host::Ops& ops = host::Get();
    std::string result = absolute ? "/" : "";
    bool resolving = true;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        bool wildcard = part.find_first_of("*?") != std::string::npos;
        std::string chosen = part;
        struct stat info;
        std::string candidate = result + part;
        if (resolving && !wildcard && part != "." && part != ".." && ops.lstat(candidate.c_str(), &info) != 0) {
            std::string match = errno == ENOENT ? FindEntryIgnoringCase(result, part) : std::string();
            if (match.empty()) resolving = false;
            else chosen = match;
        }
        result += chosen;
        if (i + 1 < parts.size()) result += '/';
    }
    if (result.empty()) result = ".";
    *hostPath = result;
    return ERROR_SUCCESS;
}

std::string FromHostPath(const std::string& hostPath) {
    std::string text = Utf8ToCp936(hostPath);
    for (char& c : text)
        if (c == '/') c = '\\';
    return text;
}

std::string RuntimeFolder() {
    const host::Ops& ops = host::Get();
    const char* xdg = ops.getenv("XDG_RUNTIME_DIR");
    std::string folder = xdg && *xdg ? std::string(xdg) + "/korvane" : "/tmp/korvane-" + std::to_string(::getuid());
    if (ops.mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
    struct stat info;
    if (ops.lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) return {};
    return folder;
}

std::string RuntimeObjectPath(const char* kind, const char* cp936Name) {
    std::string folder = RuntimeFolder();
    if (folder.empty()) return {};
    std::string path = folder + "/" + kind + ".";
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : Cp936ToUtf8(cp936Name ? cp936Name : "")) {
        if (c <= 0x20 || c == '%' || c == '/' || c == 0x7F) {
            path += '%';
            path += kHex[c >> 4];
            path += kHex[c & 15];
        } else {
            path += static_cast<char>(c);
        }
    }
    return path;
}

}  // namespace win
