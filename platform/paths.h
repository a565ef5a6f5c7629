// Mapping between the Windows paths the logic uses (code page 936, backslashes) and host
// paths, with Windows name rules and case-insensitive lookup of existing entries.
#pragma once
#include <string>

#include "platform/wintypes.h"

namespace win {

// Maps a Windows path to the host path it names. Each component that does not exist with
// its exact spelling takes the spelling of the one entry of its folder that matches it
// without regard to case; new names keep their spelling. Returns ERROR_SUCCESS, or the
// Windows error for a path that is too long, does not convert exactly, or holds a name
// Windows refuses. With allowWildcards, '*' and '?' are accepted in the last component.
DWORD ToHostPath(const char* winPath, std::string* hostPath, bool allowWildcards = false);

// Maps a host path back: UTF-8 to code page 936, '/' to '\'.
std::string FromHostPath(const std::string& hostPath);

// The per-user folder for named objects: $XDG_RUNTIME_DIR/korvane, else /tmp/korvane-UID
// (mode 0700, refused when another user owns it). Created on demand; empty on failure.
std::string RuntimeFolder();

// The host path of a named object (kind "mutex", "window") in the runtime folder: the
// name in UTF-8, with '%', '/', blanks and control characters written as %XX. Empty when
// the runtime folder is unusable.
std::string RuntimeObjectPath(const char* kind, const char* cp936Name);

}  // namespace win
