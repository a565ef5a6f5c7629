// Conversions between the system code page (936) and the host's UTF-8.
#pragma once
#include <string>

namespace win {

// Lossy conversions for display: bytes that do not convert become U+FFFD towards UTF-8
// and '?' towards code page 936.
std::string Cp936ToUtf8(const std::string& text);
std::string Utf8ToCp936(const std::string& text);

// Exact conversions: false (and *out unspecified) when any byte does not convert.
bool Cp936ToUtf8Exact(const std::string& text, std::string* out);
bool Utf8ToCp936Exact(const std::string& text, std::string* out);

// True for a lead byte of a code page 936 double-byte character (0x81 to 0xFE).
inline bool IsDBCSLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

}  // namespace win
