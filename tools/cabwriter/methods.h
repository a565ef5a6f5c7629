// The compression methods the writer knows, by the names tools and tests use.
#pragma once
#include "tools/cabwriter/encoder.h"

#include <memory>
#include <string>

namespace cabwriter {

// Matches a method name of the form "PREFIX:N" (N from 0 to 31) and yields N.
bool MethodParameter(const std::string& method, const std::string& prefix, int& n);

// "none", "mszip", "quantum:N" (N = 10..21); null for a name that is not a known method.
std::unique_ptr<FolderEncoder> MakeEncoder(const std::string& method);

} // namespace cabwriter
