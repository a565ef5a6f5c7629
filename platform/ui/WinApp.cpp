#include "platform/ui/WinApp.h"

#include "platform/codepage.h"
#include "platform/system.h"

namespace win {

namespace {
CWinApp* g_pApp = nullptr;
}

CWinApp::CWinApp()
{
    g_pApp = this;
}

CWinApp::~CWinApp()
{
    if (g_pApp == this)
        g_pApp = nullptr;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::ExitInstance()
{
    return 0;
}

CWinApp* AfxGetApp()
{
    return g_pApp;
}

int AfxWinMain()
{
    CWinApp* app = AfxGetApp();
    if (!app)
        return 1;
    app->InitInstance();
    return app->ExitInstance();
}

std::string AfxGetAppTitle()
{
    char path[MAX_PATH] = "";
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name(path, length < MAX_PATH ? length : 0);
    name.erase(0, name.find_last_of('\\') + 1);
    if (const size_t dot = name.find_last_of('.'); dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}

int AfxMessageBox(const char* text, UINT type)
{
    return ui::CurrentBackend().MessageBox(Cp936ToUtf8(AfxGetAppTitle()), Cp936ToUtf8(text),
                                           type);
}

int AfxMessageBox(UINT stringId, UINT type)
{
    return AfxMessageBox(ui::AfxLoadString(stringId).c_str(), type);
}

}  // namespace win
