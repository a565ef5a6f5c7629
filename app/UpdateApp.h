// CUpdateApp: start-up. Reads the command line into the module-wide values below, then
// runs the update dialog modally; the program ends when the dialog ends.
#pragma once

#include <string>

#include "app/CommandLine.h"
#include "platform/ui/WinApp.h"

class CUpdateApp : public win::CWinApp {
public:
    CUpdateApp();

    // Always FALSE: the program ends when it returns.
    win::BOOL InitInstance() override;
};

// Field 0: -1 for interactive mode, else the number of the client's waiting window.
extern int g_nWaitWnd;
// Field 1: the display name of the program being updated.
extern std::string g_strAppName;
// Module folder + "DownTemp\" + field 2.
extern std::string g_strPackagePath;
// The folder whose files are replaced, with a trailing backslash.
extern std::string g_strTargetDir;

// Sets the values above from the command-line fields. A command line with fewer fields
// than its mode uses, or with a used field longer than 259 characters, sets nothing: the
// user is told why and, in automatic mode, the waiting window receives -1. False then.
bool ApplyCommandFields(const CommandFields& fields);

// The folder of the running executable, ending in a backslash; asked of the system once
// (again only while the answer is empty).
std::string GetModuleFolder();
