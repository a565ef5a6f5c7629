#include "tools/cabwriter/names.h"

#include <iconv.h>
#include <stdexcept>

namespace cabwriter {

std::string StoredName(const std::string& utf8Path)
{
    iconv_t cd = iconv_open("CP936", "UTF-8");
    if (cd == iconv_t(-1))
        throw std::runtime_error("code page 936 conversion is not available");
    std::string out(utf8Path.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(utf8Path.data());
    size_t inLeft = utf8Path.size();
    char* dst = out.data();
    size_t outLeft = out.size();
    const size_t r = iconv(cd, &in, &inLeft, &dst, &outLeft);
    iconv_close(cd);
    if (r != 0 || inLeft != 0)  // also refuses irreversible (substituted) conversions
        throw std::runtime_error("name cannot be represented in code page 936: " + utf8Path);
    out.resize(out.size() - outLeft);
    // Only single-byte characters can be separators: 0x5C may be a trail byte.
    for (size_t i = 0; i < out.size(); ++i) {
        const unsigned char ch = out[i];
        if (ch >= 0x81 && ch <= 0xFE && i + 1 < out.size())
            ++i;
        else if (ch == '/')
            out[i] = '\\';
    }
    return out;
}

} // namespace cabwriter
