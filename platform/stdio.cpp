// Stream access for whole-file reads, with mapped paths and read-only enforcement.
#include <cstring>
#include <string>

#include "platform/errors.h"
#include "platform/faults.h"
#include "platform/files.h"
#include "platform/host.h"
#include "platform/hostfile.h"
#include "platform/paths.h"

namespace win {

FILE* fopen(const char* path, const char* mode) {
    if (faults::Enter("fopen", path)) return nullptr;
    if (!mode || !*mode) return detail::FailWith<FILE*>(ERROR_INVALID_PARAMETER, nullptr);
    std::string hostPath;
    if (DWORD error = ToHostPath(path, &hostPath)) return detail::FailWith<FILE*>(error, nullptr);
    bool writing = std::strpbrk(mode, "wa+") != nullptr;
    struct stat info;
    if (host::Get().stat(hostPath.c_str(), &info) == 0 && (S_ISDIR(info.st_mode) || (writing && detail::IsReadOnly(info))))
        return detail::FailWith<FILE*>(ERROR_ACCESS_DENIED, nullptr);
    // Binary and text are the same here; 'e' keeps the descriptor from started programs.
    std::string hostMode;
    for (const char* c = mode; *c; ++c)
        if (*c != 'b' && *c != 't') hostMode += *c;
    hostMode += 'e';
    FILE* stream = host::Get().fopen(hostPath.c_str(), hostMode.c_str());
    return stream ? stream : detail::FailWithErrno<FILE*>(nullptr);
}

size_t fread(void* buffer, size_t size, size_t count, FILE* stream) {
    if (faults::Enter("fread")) return 0;
    return host::Get().fread(buffer, size, count, stream);
}

size_t fwrite(const void* buffer, size_t size, size_t count, FILE* stream) {
    const faults::Outcome outcome = faults::Check("fwrite");
    if (outcome == faults::Outcome::Fail) return 0;
    if (outcome == faults::Outcome::Short) count /= 2;  // a full disk takes only a part
    return host::Get().fwrite(buffer, size, count, stream);
}

int fseek(FILE* stream, long offset, int origin) {
    if (faults::Enter("fseek")) return -1;
    return host::Get().fseek(stream, offset, origin);
}

long ftell(FILE* stream) {
    if (faults::Enter("ftell")) return -1;
    return host::Get().ftell(stream);
}

int fclose(FILE* stream) {
    faults::Enter("fclose");  // the stream is released whatever a rule says
    return host::Get().fclose(stream);
}

}  // namespace win
