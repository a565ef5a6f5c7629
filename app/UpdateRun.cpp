// The update run: the steps in order, and the report of their result.
#include "app/Journal.h"
#include "app/ResultReport.h"
#include "app/UpdateApp.h"
#include "app/UpdateDlg.h"
#include "app/UpdateFiles.h"
#include "platform/win.h"
#include "platform/ui/WinApp.h"

using namespace win;

namespace {

int RunSteps(CUpdateDlg& dlg)
{
    int result = dlg.ExtractPackage();
    if (result != 0)
        return result;
    result = dlg.LocateExtractedFolder();
    if (result != 0) {
        AfxMessageBox(IDS_PACKAGE_FAULTY, MB_OK);
        return result;
    }
    result = dlg.ReadManifest();
    if (result != 0)
        return result;
    result = dlg.BackupTargets();
    if (result != 0)
        return result;
    result = dlg.ReplaceFiles();
    if (result != 0)
        return result;
    return dlg.RegisterComponents();
}

}  // namespace

// A journal left by an interrupted run is resolved first; the run's own journal goes once
// the run has finished, whatever its result.
int CUpdateDlg::RunUpdate()
{
    if (!RecoverInterruptedUpdate(g_strPackagePath, m_szTargetDir))
        return -1;
    const int result = RunSteps(*this);
    EndUpdateJournal(g_TargetFiles, m_nFileCount);
    return result;
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
