// Paths for the files taken out of a cabinet. Every search for a separator steps through
// the text by code page 936 characters, so a trail byte 0x5C is never taken for one.
#pragma once
#include <string>

// The destination folder without its trailing backslashes, then without its trailing
// slashes, joined to the name from the cabinet by one backslash.
std::string TargetPath(const char* pszExtractDir, const char* pszName);

// False for a name that would leave the destination folder or address something else: an
// empty name, a leading separator, a drive or stream colon, or a part made only of dots and
// blanks ("..", "." and the like, which Windows shortens). Both separators count.
bool IsSafeName(const char* pszName);

// Splits a cabinet path after its last separator into folder (with that separator) and name.
void SplitCabinetPath(const char* pszPath, std::string* folder, std::string* name);

// Creates the folder before each backslash (or slash) of the path, from the first to the
// last; failures are ignored. Returns the result of the last CreateDirectoryA call, 0 if none.
int CreatePathFolders(const char* pszPath);
