// The update's file tables, filled from the manifest and used by the later steps, and the
// folder the package is unpacked into.
#pragma once

#include <cstdint>
#include <string>

#include "platform/wintypes.h"

struct UpdateFileEntry {
    char FileName[win::MAX_PATH];
    char FilePath[win::MAX_PATH];
    char FullPath[win::MAX_PATH];
    char BackupPath[280];  // FullPath and up to ten digits of the run's start time
    std::int32_t RegFlag;
};

constexpr int kMaxUpdateFiles = 1024;

// Entry i of both tables belongs to the manifest's section File(i+1): the new file as it
// lies in the unpacked package, and the installed file it replaces.
extern UpdateFileEntry g_SourceFiles[kMaxUpdateFiles];
extern UpdateFileEntry g_TargetFiles[kMaxUpdateFiles];

// The package path + ".Folder".
extern std::string g_strUnpackDir;
