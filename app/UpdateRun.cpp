// The update run: the steps in order, and the report of their result.
#include "app/ResultReport.h"
#include "app/UpdateApp.h"
#include "app/UpdateDlg.h"
#include "platform/win.h"
#include "platform/ui/WinApp.h"

using namespace win;

int CUpdateDlg::RunUpdate()
{
    int result = ExtractPackage();
    if (result != 0)
        return result;
    result = LocateExtractedFolder();
    if (result != 0) {
        AfxMessageBox(IDS_PACKAGE_FAULTY, MB_OK);
        return result;
    }
    result = ReadManifest();
    if (result != 0)
        return result;
    result = BackupTargets();
    if (result != 0)
        return result;
    result = ReplaceFiles();
    if (result != 0)
        return result;
    return RegisterComponents();
}

void CUpdateDlg::OnOK()
{
    const int result = RunUpdate();
    if (g_nWaitWnd != -1) {
        SendUpdateResult(g_nWaitWnd, result);
    } else if (result == 0) {
        m_strStatus = ui::AfxLoadString(IDS_UPDATE_SUCCEEDED);
        UpdateData(FALSE);
        Sleep(500);
        SHELLEXECUTEINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.lpFile = m_szClientExe;
        info.lpParameters = "";
        info.nShow = SW_SHOW;
        if (ShellExecuteExA(&info) && info.hProcess)
            CloseHandle(info.hProcess);
    } else {
        m_strStatus = ui::AfxLoadString(IDS_UPDATE_FAILED);
        UpdateData(FALSE);
    }
    CDialog::OnOK();
}
