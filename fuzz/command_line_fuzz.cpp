// The updater's command-line cutter and its number reader, on any text without a zero byte.
#include <cstring>
#include <string>

#include "app/CommandLine.h"
#include "fuzz/input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    const CommandFields fields = CutCommandFields(line.c_str());
    if (fields.nCount < 0 || fields.nCount > 4) fuzzin::Fail("field count out of range");
    for (int i = 0; i < fields.nCount; ++i) {
        const size_t length = strnlen(fields.szField[i], sizeof fields.szField[i]);
        if (length >= sizeof fields.szField[i]) fuzzin::Fail("field not terminated");
        ReadFieldNumber(fields.szField[i]);
    }
    return 0;
}
