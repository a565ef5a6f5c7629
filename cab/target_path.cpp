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
    const size_t length = std::strlen(pszName);
    if (length == 0 || IsSeparator(pszName[0]) || std::strchr(pszName, ':'))
        return false;
    std::vector<size_t> seps = Separators(pszName);
    seps.push_back(length);
    size_t begin = 0;
    for (size_t end : seps) {
        bool onlyDotsAndBlanks = true;
        for (size_t i = begin; i < end; ++i)
            onlyDotsAndBlanks &= pszName[i] == '.' || pszName[i] == ' ';
        if (onlyDotsAndBlanks)
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
