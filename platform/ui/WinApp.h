// CWinApp: the program's application object. Constructing it makes it the application;
// AfxWinMain runs its InitInstance and ends the program. AfxMessageBox shows a modal box
// titled with the executable's base name.
#pragma once

#include "platform/ui/Wnd.h"

namespace win {

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // FALSE ends the program at once; this framework has no application message loop.
    virtual BOOL InitInstance();
    virtual int ExitInstance();

    CWnd* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();

// The program's entry: runs the application object's start-up; returns the exit code.
int AfxWinMain();

// The executable's file name without folder and extension (code page 936).
std::string AfxGetAppTitle();

// Modal box with `text` (code page 936); returns the button that closed it.
int AfxMessageBox(const char* text, UINT type = MB_OK);
int AfxMessageBox(UINT stringId, UINT type = MB_OK);

}  // namespace win
