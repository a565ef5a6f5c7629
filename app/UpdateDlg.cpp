#include "app/UpdateDlg.h"

#include <cstdio>
#include <cstring>

#include "app/AboutDlg.h"
#include "app/UpdateApp.h"
#include "platform/win.h"
#include "platform/ui/WinApp.h"

using namespace win;

HANDLE g_hClientMutex = nullptr;

CUpdateDlg::CUpdateDlg(CWnd* parent)
    : CDialog(IDD_UPDATE_DIALOG, parent),
      m_szSystemDir(),
      m_tStart(std::int32_t(win::time(nullptr))),
      m_szManifestName(),
      m_nFileCount(0),
      m_szClientExe(),
      m_szTargetDir(),
      m_hIcon(LoadIconA(nullptr, MAKEINTRESOURCEA(IDR_MAINFRAME)))
{
}

const MessageMap* CUpdateDlg::GetMessageMap() const
{
    static constexpr MessageMapEntry entries[] = {
        OnWmSysCommand<&CUpdateDlg::OnSysCommand>(),
        OnWmPaint<&CUpdateDlg::OnPaint>(),
        OnWmQueryDragIcon<&CUpdateDlg::OnQueryDragIcon>(),
        OnBnClicked<IDC_CONFIRM, &CUpdateDlg::OnConfirm>(),
    };
    static const MessageMap map{CDialog::GetMessageMap(), entries};
    return &map;
}

void CUpdateDlg::DoDataExchange(CDataExchange* exchange)
{
    CDialog::DoDataExchange(exchange);
    DDX_Text(exchange, IDC_STATUS, m_strStatus);
}

BOOL CUpdateDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    if (CMenu* systemMenu = GetSystemMenu(FALSE)) {
        const std::string about = ui::AfxLoadString(IDS_ABOUTBOX);
        if (!about.empty()) {
            systemMenu->AppendMenu(MF_SEPARATOR);
            systemMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, about.c_str());
        }
    }
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    std::snprintf(m_szTargetDir, MAX_PATH, "%s", g_strTargetDir.c_str());
    const size_t length = std::strlen(m_szTargetDir);
    if (length > 0 && m_szTargetDir[length - 1] == '\\')
        m_szTargetDir[length - 1] = '\0';
    GetSystemDirectoryA(m_szSystemDir, MAX_PATH);

    if (g_nWaitWnd != -1) {
        OnOK();
        return TRUE;
    }
    std::snprintf(m_szClientExe, MAX_PATH, "%sKorvane.exe", GetModuleFolder().c_str());
    m_strStatus = ui::AfxLoadString(IDS_CLOSE_CLIENT_PROMPT);
    UpdateData(FALSE);
    return TRUE;
}

void CUpdateDlg::OnConfirm()
{
    HANDLE mutex = CreateMutexA(nullptr, TRUE, "Korvane.Update");
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        AfxMessageBox(IDS_CLIENT_RUNNING, MB_OK);
        return;
    }
    g_hClientMutex = mutex;
    GetDlgItem(IDC_CONFIRM)->ShowWindow(SW_HIDE);
    m_strStatus = ui::AfxLoadString(IDS_UPDATE_STARTING);
    UpdateData(FALSE);
    OnOK();
}

void CUpdateDlg::OnSysCommand(UINT id, LPARAM lParam)
{
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.DoModal();
    } else {
        CDialog::OnSysCommand(id, lParam);
    }
}

void CUpdateDlg::OnPaint()
{
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int cxIcon = GetSystemMetrics(SM_CXICON);
    const int cyIcon = GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    const int x = (rect.right - rect.left - cxIcon + 1) / 2;
    const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HICON CUpdateDlg::OnQueryDragIcon()
{
    return m_hIcon;
}
