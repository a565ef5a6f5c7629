// Case folding, ordering and wildcard matching of names.
#include "platform/names.h"

#include <locale.h>
#include <wctype.h>

namespace win {
namespace {

std::u32string Decode(const std::string& text) {
    std::u32string out;
    for (size_t i = 0; i < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (i + length > text.size()) length = 1;
        char32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        out.push_back(code);
        i += length;
    }
    return out;
}

char32_t Upper(char32_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 0x20 : c;
    static locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return utf8 ? static_cast<char32_t>(::towupper_l(static_cast<wint_t>(c), utf8)) : c;
}

bool Match(const std::u32string& pattern, size_t p, const std::u32string& name, size_t n) {
    while (p < pattern.size()) {
        char32_t c = pattern[p];
        if (c == U'*') {
            while (p < pattern.size() && pattern[p] == U'*') ++p;
            if (p == pattern.size()) return true;
            for (size_t k = n; k <= name.size(); ++k)
                if (Match(pattern, p, name, k)) return true;
            return false;
        }
        // A trailing ".*" also matches a name that ends here (no extension).
        if (c == U'.' && n == name.size() && p + 2 == pattern.size() && pattern[p + 1] == U'*') return true;
        if (n == name.size()) return false;
        if (c != U'?' && c != name[n]) return false;
        ++p;
        ++n;
    }
    return n == name.size();
}

}  // namespace

std::u32string NameKey(const std::string& utf8Name) {
    std::u32string key = Decode(utf8Name);
    for (char32_t& c : key) c = Upper(c);
    return key;
}

bool WildcardMatch(const std::string& utf8Pattern, const std::string& utf8Name) {
    return Match(NameKey(utf8Pattern), 0, NameKey(utf8Name), 0);
}

}  // namespace win
