// Windows rules for names within a folder: comparison without regard to case, the order
// NTFS lists entries in, and wildcard matching. Names are host (UTF-8) text.
#pragma once
#include <string>

namespace win {

// The name's characters upper-cased; two names are the same to Windows when their keys
// are equal, and NTFS lists entries in the ordinal order of their keys.
std::u32string NameKey(const std::string& utf8Name);

// Windows wildcard match ('*' any run, '?' one character, "*.*" every name, a trailing
// ".*" also matching no extension), without regard to case.
bool WildcardMatch(const std::string& utf8Pattern, const std::string& utf8Name);

}  // namespace win
