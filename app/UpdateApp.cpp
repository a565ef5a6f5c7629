#include "app/UpdateApp.h"

#include "app/ResultReport.h"
#include "app/UpdateDlg.h"
#include "cab/target_path.h"
#include "platform/system.h"
#include "res/Resources.h"

int g_nWaitWnd = 0;
std::string g_strAppName;
std::string g_strPackagePath;
std::string g_strTargetDir;

CUpdateApp::CUpdateApp()
{
    win::ui::AfxSetResourceModule(&res::UpdaterResources());
}

win::BOOL CUpdateApp::InitInstance()
{
    if (!win::AfxSocketInit()) {
        win::AfxMessageBox(IDP_SOCKETS_INIT_FAILED, win::MB_OK);
        return win::FALSE;
    }
    if (!ApplyCommandFields(CutCommandFields(win::GetCommandLineA())))
        return win::FALSE;

    CUpdateDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return win::FALSE;
}

bool ApplyCommandFields(const CommandFields& fields)
{
    const bool haveNumber = fields.nCount >= 1 && !fields.bTooLong[0];
    const int nWaitWnd = haveNumber ? ReadFieldNumber(fields.szField[0]) : 0;
    const int needed = haveNumber && nWaitWnd == -1 ? 3 : 4;
    bool tooLong = false;
    for (int i = 0; i < needed; ++i)
        tooLong = tooLong || fields.bTooLong[i];
    // The folder to update must lie below the updater's own folder: a drive, a leading
    // separator or a ".." part would send the update (and its deletions) elsewhere.
    const bool badFolder = fields.nCount >= needed && !tooLong && needed == 4 &&
                           !IsSafeName(fields.szField[3]);
    if (fields.nCount < needed || tooLong || badFolder) {
        win::AfxMessageBox(tooLong     ? IDS_ARGS_TOO_LONG
                           : badFolder ? IDS_ARGS_INVALID
                                       : IDS_ARGS_INCOMPLETE,
                           win::MB_OK);
        if (haveNumber && nWaitWnd != -1)
            SendUpdateResult(nWaitWnd, -1);
        return false;
    }

    g_nWaitWnd = nWaitWnd;
    g_strAppName = fields.szField[1];
    g_strPackagePath = GetModuleFolder() + "DownTemp\\" + fields.szField[2];
    g_strTargetDir = g_nWaitWnd == -1 ? GetModuleFolder()
                                      : GetModuleFolder() + fields.szField[3] + "\\";
    return true;
}

std::string GetModuleFolder()
{
    static std::string folder;
    if (folder.empty()) {
        char path[win::MAX_PATH] = "";
        win::GetModuleFileNameA(nullptr, path, win::MAX_PATH);
        path[win::MAX_PATH - 1] = '\0';
        const std::string full(path);
        const size_t slash = full.find_last_of('\\');
        if (slash != std::string::npos)
            folder = full.substr(0, slash + 1);
    }
    return folder;
}
