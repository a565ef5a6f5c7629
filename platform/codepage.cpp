// Code page 936 <-> UTF-8 through the C library's iconv.
#include "platform/codepage.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

namespace win {
namespace {

bool IsAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Length of the UTF-8 sequence that starts with this byte (1 for a stray byte).
size_t Utf8Length(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2) return 2;
    return 1;
}

// Converts with iconv; an unconvertible character is replaced by `replacement` and
// skipped (one byte, or a whole double-byte/UTF-8 sequence). Returns false if any was.
bool Convert(const char* to, const char* from, const std::string& text, const std::string& replacement,
             bool fromUtf8, std::string* out) {
    out->clear();
    if (IsAscii(text)) {
        *out = text;
        return true;
    }
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        *out = text;
        return false;
    }
    bool exact = true;
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char buffer[1024];
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        size_t done = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out->append(buffer, outPtr - buffer);
        if (done != static_cast<size_t>(-1) || errno == E2BIG) continue;
        // EILSEQ or EINVAL (incomplete sequence at the end): replace and step over it.
        exact = false;
        out->append(replacement);
        unsigned char lead = static_cast<unsigned char>(*in);
        size_t skip = fromUtf8 ? Utf8Length(lead) : (IsDBCSLeadByte(lead) && inLeft > 1 ? 2 : 1);
        skip = std::min(skip, inLeft);
        in += skip;
        inLeft -= skip;
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    ::iconv_close(cd);
    return exact;
}

}  // namespace

std::string Cp936ToUtf8(const std::string& text) {
    std::string out;
    Convert("UTF-8", "CP936", text, "\xEF\xBF\xBD", false, &out);
    return out;
}

std::string Utf8ToCp936(const std::string& text) {
    std::string out;
    Convert("CP936", "UTF-8", text, "?", true, &out);
    return out;
}

bool Cp936ToUtf8Exact(const std::string& text, std::string* out) {
    return Convert("UTF-8", "CP936", text, "\xEF\xBF\xBD", false, out);
}

bool Utf8ToCp936Exact(const std::string& text, std::string* out) {
    return Convert("CP936", "UTF-8", text, "?", true, out);
}

}  // namespace win
