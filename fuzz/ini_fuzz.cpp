// CIniFile: loads the text and answers queries. Input: [u8 buffer size - 1] then query lines
// ("section" 0x01 "key", separated by '\n') up to a zero byte, then the file's text.
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

#include "fuzz/input.h"
#include "ini/IniFile.h"

namespace {

const std::string& TextPath() {
    static const std::string path = "/tmp/korvane-ini-fuzz-" + std::to_string(getpid()) + ".ini";
    return path;
}

void Query(const CIniFile& ini, const std::string& line, uint32_t size) {
    const size_t cut = line.find('\x01');
    const std::string section = cut == std::string::npos ? line : line.substr(0, cut);
    const std::string key = cut == std::string::npos ? std::string() : line.substr(cut + 1);
    int number = 0;
    const bool found = ini.GetInt(section.c_str(), key.c_str(), &number, -7);
    if (!found && number != -7) fuzzin::Fail("GetInt without a value changed the default");
    // Exactly `size` bytes, so that a write past the end shows.
    std::unique_ptr<char[]> buffer(new char[size]);
    const int length = ini.GetString(section.c_str(), key.c_str(), buffer.get(), size, "dflt");
    if (length < 0 || static_cast<uint32_t>(length) >= size || buffer[length] != 0 ||
        std::strlen(buffer.get()) != static_cast<size_t>(length))
        fuzzin::Fail("GetString's length does not match its buffer");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint32_t bufferSize = 1u + data[0];
    const auto* begin = reinterpret_cast<const char*>(data + 1);
    const auto* end = reinterpret_cast<const char*>(data + size);
    const char* zero = static_cast<const char*>(std::memchr(begin, 0, end - begin));
    const std::string queries(begin, zero ? zero : end);
    const char* text = zero ? zero + 1 : end;

    FILE* f = std::fopen(TextPath().c_str(), "wb");
    if (!f) fuzzin::Fail("cannot write the text file");
    std::fwrite(text, 1, end - text, f);
    std::fclose(f);

    CIniFile ini;
    if (ini.Load(TextPath().c_str()) != 0) fuzzin::Fail("Load failed on a readable file");
    size_t from = 0;
    while (from <= queries.size()) {
        size_t to = queries.find('\n', from);
        if (to == std::string::npos) to = queries.size();
        Query(ini, queries.substr(from, to - from), bufferSize);
        from = to + 1;
    }
    ini.Free();
    if (ini.IsLoaded()) fuzzin::Fail("still loaded after Free");
    return 0;
}
