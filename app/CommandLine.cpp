#include "app/CommandLine.h"

#include <climits>
#include <cstdlib>
#include <cstring>

CommandFields CutCommandFields(const char* commandLine)
{
    CommandFields fields;
    const char* from = commandLine;
    while (fields.nCount < 4) {
        const char* open = std::strchr(from, '^');
        if (!open || open[1] == '\0')
            break;
        const char* start = open + 1;
        const char* close = std::strchr(start + 1, '^');
        if (!close)
            break;
        size_t length = size_t(close - start);
        if (length > win::MAX_PATH - 1) {
            fields.bTooLong[fields.nCount] = true;
            length = win::MAX_PATH - 1;
        }
        std::memcpy(fields.szField[fields.nCount], start, length);
        fields.szField[fields.nCount][length] = '\0';
        ++fields.nCount;
        from = start;
    }
    return fields;
}

int ReadFieldNumber(const char* field)
{
    const long value = std::strtol(field, nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return int(value);
}
