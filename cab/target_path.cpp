#include "cab/target_path.h"

#include <cstring>
#include <vector>

#include "platform/win.h"

namespace {

bool IsSeparator(char ch)
{
    return ch == '\\' || ch == '/';
}

// Offsets of the single-byte separators in the text.
std::vector<size_t> Separators(const char* text)
{
    std::vector<size_t> at;
    for (size_t i = 0; text[i]; ++i) {
        if (win::IsDBCSLeadByte(static_cast<unsigned char>(text[i])) && text[i + 1])
            ++i;
        else if (IsSeparator(text[i]))
            at.push_back(i);
    }
    return at;
}

// Device names that Windows reserves in every folder, also with an extension or blanks
// after them ("nul.txt", "CON .log").
bool IsDeviceName(const char* part, size_t length)
{
    size_t base = 0;
    while (base < length && part[base] != '.')
        ++base;
    while (base > 0 && part[base - 1] == ' ')
        --base;
    std::string upper(part, base);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 0x20);
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL")
        return true;
    return upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
           upper[3] >= '1' && upper[3] <= '9';
}

// A name Windows keeps as given: not empty, none of the characters it refuses, no trailing
// dot or blank (Windows drops them, so "a." would meet "a"), and not a device.
bool IsValidPart(const char* part, size_t length)
{
    if (length == 0 || part[length - 1] == '.' || part[length - 1] == ' ')
        return false;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(part[i]);
        if (win::IsDBCSLeadByte(c) && i + 1 < length)
            ++i;  // the trail byte may be any value, 0x5C and 0x7C included
        else if (c < 0x20 || std::strchr("<>:\"|?*", c))
            return false;
    }
    return !IsDeviceName(part, length);
}

} // namespace

std::string TargetPath(const char* pszExtractDir, const char* pszName)
{
    std::string dir = pszExtractDir;
    std::vector<size_t> seps = Separators(pszExtractDir);
    for (char trimmed : {'\\', '/'}) {
        while (!seps.empty() && seps.back() + 1 == dir.size() && dir.back() == trimmed) {
            dir.pop_back();
            seps.pop_back();
        }
    }
    return dir + '\\' + pszName;
}

bool IsSafeName(const char* pszName)
{
    std::string converted;
    if (IsSeparator(pszName[0]) || !win::Cp936ToUtf8Exact(pszName, &converted))
        return false;
    std::vector<size_t> seps = Separators(pszName);
    seps.push_back(std::strlen(pszName));
    size_t begin = 0;
    for (size_t end : seps) {
        if (!IsValidPart(pszName + begin, end - begin))
            return false;
        begin = end + 1;
    }
    return true;
}

void SplitCabinetPath(const char* pszPath, std::string* folder, std::string* name)
{
    std::vector<size_t> seps = Separators(pszPath);
    const size_t cut = seps.empty() ? 0 : seps.back() + 1;
    *folder = std::string(pszPath, cut);
    *name = pszPath + cut;
}

int CreatePathFolders(const char* pszPath)
{
    int result = 0;
    for (size_t at : Separators(pszPath))
        result = win::CreateDirectoryA(std::string(pszPath, at).c_str(), nullptr);
    return result;
}
