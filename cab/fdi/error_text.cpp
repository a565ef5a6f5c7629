// Texts of the reader's error codes, for the client to show.
#include "cab/fdi/fdi.h"

const char* FDIErrorText(int erfOper) {
    static const char* const kTexts[] = {
        "No error",
        "Cabinet not found",
        "Not a cabinet",
        "Unknown cabinet version",
        "Corrupt cabinet",
        "Memory allocation failed",
        "Unknown compression type",
        "Failure decompressing data",
        "Failure writing to target file",
        "Cabinets in set have different RESERVE sizes",
        "Cabinet returned on fdintNEXT_CABINET is incorrect",
        "User aborted",
    };
    if (erfOper < 0 || erfOper >= static_cast<int>(sizeof kTexts / sizeof kTexts[0]))
        return "Unknown error";
    return kTexts[erfOper];
}
