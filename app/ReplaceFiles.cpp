// Steps four and five: moving every installed file that is replaced aside, then copying
// the new files into place, with the old files moved back when that fails.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/FileHelpers.h"
#include "app/Journal.h"
#include "app/StepMessage.h"
#include "app/UpdateApp.h"
#include "app/UpdateDlg.h"
#include "app/UpdateFiles.h"
#include "platform/faults.h"
#include "platform/win.h"

using namespace win;

namespace {

// Puts the file moved aside back in its place, dropping whatever stands there now.
bool MoveBack(const UpdateFileEntry& t) {
    if (PathExists(t.FullPath)) {
        ClearReadOnly(t.FullPath);
        _unlink(t.FullPath);
    }
    return MoveFileA(t.BackupPath, t.FullPath) != FALSE;
}

}  // namespace

int CUpdateDlg::BackupTargets() {
    int forced;
    if (faults::ForcedResult("BackupTargets", &forced)) return forced;  // test seam
    if (!BeginUpdateJournal(g_strPackagePath, m_szTargetDir, g_TargetFiles, m_nFileCount)) return -1;
    int failed = -1;
    for (int i = 0; i < m_nFileCount && failed < 0; ++i) {
        const UpdateFileEntry& t = g_TargetFiles[i];
        if (!PathExists(t.FullPath)) continue;
        ClearReadOnly(t.FullPath);
        if (!MoveFileA(t.FullPath, t.BackupPath)) {
            ShowStepMessage(IDS_TARGET_IN_USE, t.FullPath, g_strAppName.c_str());
            failed = i;
        }
    }
    if (failed < 0) return 0;

    // Entries without a backup simply fail to move back.
    for (int j = 0; j < failed; ++j) MoveBack(g_TargetFiles[j]);
    return -1;
}

int CUpdateDlg::ReplaceFiles() {
    int forced;
    if (faults::ForcedResult("ReplaceFiles", &forced)) return forced;  // test seam
    bool copied = true;
    for (int n = 0; n < m_nFileCount && copied; ++n) {
        const UpdateFileEntry& s = g_SourceFiles[n];
        const UpdateFileEntry& t = g_TargetFiles[n];
        if (!EnsureParentFolder(t.FullPath)) {
            copied = false;
        } else if (!CopyFileKeepAttributes(s.FullPath, t.FullPath)) {
            ShowStepMessage(IDS_REPLACE_FAILED, s.FullPath, t.FullPath);
            copied = false;
        }
    }

    // Backups are deleted only once every new file is on disk and that is recorded.
    if (copied && !RecordFilesReplaced(g_TargetFiles, m_nFileCount)) copied = false;
    if (copied) {
        for (int i = 0; i < m_nFileCount; ++i)
            if (PathExists(g_TargetFiles[i].BackupPath)) _unlink(g_TargetFiles[i].BackupPath);
        return 0;
    }

    // Every old file goes back, also those of the entries not reached: a target whose old
    // file stayed under its backup name would be missing. Entries that had no old file
    // keep their new one.
    for (int j = 0; j < m_nFileCount; ++j) {
        const UpdateFileEntry& t = g_TargetFiles[j];
        if (!PathExists(t.BackupPath)) continue;
        if (!MoveBack(t)) {
            ShowStepMessage(IDS_RESTORE_FAILED);
            break;
        }
    }
    return -1;
}

BOOL CUpdateDlg::EnsureParentFolder(const char* path) {
    char folder[MAX_PATH];
    std::snprintf(folder, sizeof folder, "%s", path);
    char* last = std::strrchr(folder, '\\');
    if (!last) return FALSE;
    last[1] = 0;
    if (_access(folder, 0) == 0) return TRUE;

    for (char* p = std::strchr(folder, '\\'); p; p = std::strchr(p + 1, '\\')) {
        const char kept = p[1];
        p[1] = 0;
        const bool made = _access(folder, 0) == 0 || _mkdir(folder) == 0;
        p[1] = kept;
        if (!made) return FALSE;
    }
    return TRUE;
}
