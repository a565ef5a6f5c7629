// File operations shared by the update steps. Paths are code page 936 text.
#pragma once

#include <string>

#include "platform/wintypes.h"

// True when the path names an existing file or folder.
bool PathExists(const std::string& path);
// Sets the attributes to normal if they hold the read-only flag, which also drops hidden,
// system and archive. Returns the attributes the path had before.
win::DWORD ClearReadOnly(const std::string& path);

// 1 when a directory search for the path finds an entry, else 0.
int FileExists(const std::string& path);
// Copies source over destination. A read-only source or destination is made writable for
// the copy and gets its attributes back afterwards. Non-zero on success.
win::BOOL CopyFileKeepAttributes(const std::string& source, const std::string& destination);
// Deletes a file or a folder with everything in it, for good. FALSE only when no request
// could be made.
win::BOOL ShellDeletePath(const std::string& path);
