// Paths for the files taken out of a cabinet. Every search for a separator steps through
// the text by code page 936 characters, so a trail byte 0x5C is never taken for one.
#pragma once
#include <string>

// The destination folder without its trailing backslashes, then without its trailing
// slashes, joined to the name from the cabinet by one backslash.
std::string TargetPath(const char* pszExtractDir, const char* pszName);

// False for a name that would leave the destination folder, address something else or
// not be kept as given: an empty name or part, a leading separator, text that is not
// code page 936, a character Windows refuses in names (control characters and
// < > : " | ? *, so also a drive or stream colon), a part ending in a dot or blank ("..",
// "." and "a." alike, which Windows shortens), or a device name (CON, PRN, AUX, NUL,
// COM1-COM9, LPT1-LPT9, also with an extension). Both separators count.
bool IsSafeName(const char* pszName);

// Splits a cabinet path after its last separator into folder (with that separator) and name.
void SplitCabinetPath(const char* pszPath, std::string* folder, std::string* name);

// Creates the folder before each backslash (or slash) of the path, from the first to the
// last; failures are ignored. Returns the result of the last CreateDirectoryA call, 0 if none.
int CreatePathFolders(const char* pszPath);
