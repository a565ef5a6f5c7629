// CUpdateDlg: the updater's only window and the owner of the update run. In automatic mode
// its initialisation runs the update at once; in interactive mode the confirm button runs
// it once the client (the holder of the mutex "Korvane.Update") has ended.
#pragma once

#include <cstdint>
#include <string>

#include "ini/IniFile.h"
#include "platform/ui/Dialog.h"
#include "res/resource.h"

// The client's mutex "Korvane.Update" once confirming has taken it: kept until the process
// ends, so that the client cannot start while its files are being replaced.
extern win::HANDLE g_hClientMutex;

class CUpdateDlg : public win::CDialog {
public:
    explicit CUpdateDlg(win::CWnd* parent = nullptr);

    // Runs the steps in order; the first non-zero result ends the run and is returned.
    int RunUpdate();

    // The update steps: 0 for success, 1 or -1 for failure.
    int ExtractPackage();
    int LocateExtractedFolder();
    int ReadManifest();
    int BackupTargets();
    int ReplaceFiles();
    int RegisterComponents();

    // Creates the folders of a file's path as needed; TRUE when its folder exists.
    win::BOOL EnsureParentFolder(const char* path);

    char m_szSystemDir[win::MAX_PATH];  // system folder, no trailing backslash
    CIniFile m_ini;                     // the update manifest
    std::int32_t m_tStart;              // construction time, seconds since 1970 (UTC)
    char m_szManifestName[win::MAX_PATH];
    std::string m_strManifestPath;
    std::string m_strExtractedDir;
    int m_nFileCount;
    char m_szClientExe[win::MAX_PATH];  // interactive mode: the client started afterwards
    char m_szTargetDir[win::MAX_PATH];  // g_strTargetDir without its trailing backslash
    std::string m_strStatus;            // status line, control IDC_STATUS
    win::HICON m_hIcon;

protected:
    void DoDataExchange(win::CDataExchange* exchange) override;
    win::BOOL OnInitDialog() override;
    // Runs the update and reports its result, then ends the dialog.
    void OnOK() override;

    void OnSysCommand(win::UINT id, win::LPARAM lParam);
    void OnPaint();
    win::HICON OnQueryDragIcon();
    void OnConfirm();

    const win::MessageMap* GetMessageMap() const override;
};
