// Test seams: failing chosen operations, counting and recording calls, forcing results.
//
// Every platform operation passes a check point with its Windows name (MoveFileA, _open,
// SendMessageA...) and its path arguments. A rule makes the N-th matching call fail (as
// the host would, with ERROR_ACCESS_DENIED / EACCES) or end the process abruptly. Rules
// come from the environment variable KORVANE_FAULTS and from the functions below, in the
// same text form, several separated by ';':
//   NAME:GLOB:N[:ACTION]  NAME is an operation or "any"; GLOB matches a path argument
//                         (case-insensitive, '*' and '?'; "*" also matches calls without
//                         a path); N is the 1-based count of matching calls, 0 or '*' for
//                         every one; ACTION is "fail" (default), "exit", or "short": the
//                         disk is full, so a write (_write, fwrite) stores only half of
//                         what it was asked and reports that count, and any other
//                         operation fails with ERROR_DISK_FULL / ENOSPC.
//   step:NAME:VALUE       ForcedResult(NAME) reports VALUE.
// e.g. "MoveFileA:*Main.exe:1" or "any:*:37:exit".
#pragma once
#include <string>
#include <vector>

#include "platform/wintypes.h"

namespace win::faults {

struct StartedProgram {
    std::string file;        // as given (code page 936)
    std::string parameters;  // as given
    std::string directory;   // as given, empty if none
    std::string currentFolder;  // the caller's current folder, Windows form
    int showCommand = 0;
};

struct SentMessage {
    std::string title;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

// Adds rules in the text form above; false (nothing added) when the text is malformed.
bool AddRules(const char* text);
// Clears rules, counters, records and overrides, then reads KORVANE_FAULTS again.
void Reset();
// Calls of the operation so far ("any": of every operation).
unsigned long Calls(const char* operation);
std::vector<StartedProgram> StartedPrograms();
std::vector<SentMessage> SentMessages();

// True when a rule step:NAME:VALUE exists; *result gets VALUE.
bool ForcedResult(const char* name, int* result);

// What GetCommandLineA and GetModuleFileNameA report instead of the real values (null
// restores them).
void OverrideCommandLine(const char* commandLine);
void OverrideModuleFileName(const char* path);

// What a rule asks of a call.
enum class Outcome { Proceed, Fail, Short };

// Used by the platform itself: counts the call, records nothing else, and says what the
// call must do (ending the process first for an "exit" rule). A failing call finds its
// error already set.
Outcome Check(const char* operation, const char* path = nullptr, const char* path2 = nullptr);
// Check for operations that cannot be cut short: true when the call must fail.
bool Enter(const char* operation, const char* path = nullptr, const char* path2 = nullptr);
void RecordStart(const StartedProgram& program);
void RecordMessage(const SentMessage& message);
const char* CommandLineOverride();
const char* ModuleFileNameOverride();

}  // namespace win::faults
