#include "tools/cabwriter/methods.h"

#include "tools/cabwriter/lzx_encoder.h"
#include "tools/cabwriter/mszip_encoder.h"
#include "tools/cabwriter/quantum_encoder.h"
#include "tools/cabwriter/stored_encoder.h"

#include <cstdlib>
#include <memory>

namespace cabwriter {

bool MethodParameter(const std::string& method, const std::string& prefix, int& n)
{
    if (method.size() <= prefix.size() + 1 || method.compare(0, prefix.size(), prefix) != 0 ||
        method[prefix.size()] != ':')
        return false;
    const char* digits = method.c_str() + prefix.size() + 1;
    if (*digits < '0' || *digits > '9')
        return false;
    char* end = nullptr;
    long v = std::strtol(digits, &end, 10);
    if (*end != '\0' || v < 0 || v > 31)
        return false;
    n = int(v);
    return true;
}

std::unique_ptr<FolderEncoder> MakeEncoder(const std::string& method)
{
    if (method == "none")
        return std::make_unique<StoredEncoder>();
    if (method == "mszip")
        return std::make_unique<MszipEncoder>();
    int n = 0;
    if (MethodParameter(method, "quantum", n) && n >= 10 && n <= 21)
        return MakeQuantumEncoder(n);
    if (MethodParameter(method, "lzx", n) && n >= 15 && n <= 21)
        return MakeLzxEncoder(n, true);
    return nullptr;
}

} // namespace cabwriter
