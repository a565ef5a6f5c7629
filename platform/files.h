// File and folder operations with Windows semantics: C run-time low-level files (Windows
// flag values), attributes, rename, copy, folder listing in NTFS order, shell delete,
// and the whole-file stream reads of the INI reader. Paths are code page 936 text.
#pragma once
#include <cstdio>

#include "platform/wintypes.h"

namespace win {

// C run-time calls; failures return -1 and set errno (and the last error).
int _access(const char* path, int mode);
int _unlink(const char* path);
int _mkdir(const char* path);
int _chdir(const char* path);
int _open(const char* path, int oflag, int pmode = 0);
int _read(int fd, void* buffer, unsigned int count);
int _write(int fd, const void* buffer, unsigned int count);
long _lseek(int fd, long offset, int origin);
int _close(int fd);
// Writes the open file's data through to the disk; 0 on success.
int _commit(int fd);
// Writes the file's data, or the folder's list of entries (new, renamed and removed
// names), through to the disk, so that they survive a loss of power.
BOOL FlushPathBuffers(LPCSTR path);

// An unnamed temporary file for _read/_write/_lseek/_close, gone once closed or when the
// process ends. -1 on failure.
int CreateAnonymousTempFile();

BOOL CreateDirectoryA(LPCSTR path, SECURITY_ATTRIBUTES* security);
BOOL RemoveDirectoryA(LPCSTR path);
BOOL DeleteFileA(LPCSTR path);
BOOL MoveFileA(LPCSTR existing, LPCSTR newName);
// With MOVEFILE_REPLACE_EXISTING a file takes the place of an existing destination file in
// one step (a read-only destination or a folder is refused); otherwise as MoveFileA.
BOOL MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags);
BOOL CopyFileA(LPCSTR existing, LPCSTR newName, BOOL failIfExists);
DWORD GetFileAttributesA(LPCSTR path);
BOOL SetFileAttributesA(LPCSTR path, DWORD attributes);
DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer);

HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data);
BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data);
BOOL FindClose(HANDLE find);

// FO_DELETE removes each listed path (a folder with all its content); 0 on success.
int SHFileOperationA(SHFILEOPSTRUCTA* operation);

// Stream access for whole-file reads (and writes); same results as the C library's.
FILE* fopen(const char* path, const char* mode);
size_t fread(void* buffer, size_t size, size_t count, FILE* stream);
size_t fwrite(const void* buffer, size_t size, size_t count, FILE* stream);
int fseek(FILE* stream, long offset, int origin);
long ftell(FILE* stream);
int fclose(FILE* stream);

}  // namespace win
