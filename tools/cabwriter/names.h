// Turns a host path (UTF-8, '/' separators) into the name a cabinet stores: code page 936
// bytes with backslashes.
#pragma once
#include <string>

namespace cabwriter {

// Throws runtime_error when the name cannot be represented in code page 936.
std::string StoredName(const std::string& utf8Path);

} // namespace cabwriter
