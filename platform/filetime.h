// File times: DOS date and time conversion, local to UTC, and setting a file's times
// through a handle from CreateFileA.
#pragma once
#include "platform/wintypes.h"

namespace win {

// FALSE for an invalid DOS date or time (month 0 or above 12, day 0 or beyond the month,
// hour above 23, minute above 59, seconds field above 29).
BOOL DosDateTimeToFileTime(WORD fatDate, WORD fatTime, FILETIME* fileTime);
// Uses the host time zone's offset in force at that date.
BOOL LocalFileTimeToFileTime(const FILETIME* localTime, FILETIME* utcTime);

// Opens a file for SetFileTime and CloseHandle; INVALID_HANDLE_VALUE on failure.
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, SECURITY_ATTRIBUTES* security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
// Sets the last-access and last-write times given (null leaves one alone). The host keeps
// no creation time, so that one is accepted and not stored.
BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess,
                 const FILETIME* lastWrite);
BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite);

}  // namespace win
