// What the file operations share about host files: Windows attributes kept in the mode
// and an extended attribute, read-only enforcement, new files' modes, time conversion.
#pragma once
#include <sys/stat.h>

#include <ctime>
#include <string>

#include "platform/wintypes.h"

namespace win::detail {

// The owner-write bit is the read-only attribute (folders are never read-only).
bool IsReadOnly(const struct stat& info);
// The Windows attributes of an existing entry.
DWORD AttributesOf(const std::string& hostPath, const struct stat& info);
// Stores the attribute value on a file (hidden, system, archive; read-only in the mode).
bool StoreAttributes(const std::string& hostPath, DWORD attributes);
// Gives `to` the stored attribute value of `from` (or none, as `from` has none).
void CopyStoredAttributes(const std::string& from, const std::string& to);

mode_t ProcessUmask();
// For a handle open for writing: a file whose content starts as a program (ELF or "#!")
// gets the execute bits the umask allows.
void AddExecBitsIfProgram(int fd);

FILETIME FileTimeFromTimespec(const struct timespec& time);
struct timespec TimespecFromFileTime(const FILETIME& time);

}  // namespace win::detail
