// A client folder for whole-update tests that interrupt the updater: an installed client,
// a downloaded package made by the project's writer, the updater copied beside them and a
// system folder with a recording regsvr32.exe. Runs the real Update program in automatic
// mode against a real waiting window and tells which state the client's files are in.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>

#include "support/ChildProcess.h"

// Each regular file below a folder (relative host path) with its content, followed by
// " (read-only)" when the platform reports that attribute.
// Compare states with == and show differences with UpdateSandbox::Describe: a test
// framework's printed diff of megabyte contents costs gigabytes.
using FolderState = std::map<std::string, std::string>;
FolderState Snapshot(const std::string& folder);

// Waits until a window of that title accepts messages (at most 10 s).
bool WaitForWindow(const char* title);

// What a finished updater run left behind.
struct RunOutcome {
    int exitCode = -1;     // 128 + signal when the process was killed
    bool reported = false;  // the waiting window received the result
    int wParam = 0;         // the result it received (signed)
    std::string stderrText;
};

// The waiting window "WaitForUpdateResultWnd3", open from construction until destruction.
class WaitingWindow {
public:
    // waitwnd: the path of the build's stand-in for the client's window.
    explicit WaitingWindow(const std::string& waitwnd);
    // Call once the updater has ended: the result is sent synchronously, so it is already
    // recorded then.
    void Collect(RunOutcome* outcome) const;

private:
    ChildProcess m_process;
};

class UpdateSandbox {
public:
    enum class State { Old, OldWithNewFiles, New, NewWithBackups, Mixed };

    // payloadBytes: size of the larger files of the package and of the installed client,
    // so a run can be made to last long enough to interrupt it anywhere; binFolder: the
    // build's folder of programs (Update, waitwnd).
    UpdateSandbox(std::size_t payloadBytes, const std::string& binFolder);

    // The installed client as before the update and the package just downloaded; no unpack
    // folder and nothing else left from earlier runs.
    void Reset();

    // Starts Update in automatic mode for the folder Sub, reporting to window 3, with the
    // given KORVANE_FAULTS rules.
    std::unique_ptr<ChildProcess> Start(const std::string& faults) const;
    std::unique_ptr<WaitingWindow> OpenWindow() const;
    // Runs Update to its end, with a waiting window open.
    RunOutcome Run(const std::string& faults) const;

    FolderState Client() const { return Snapshot(m_sub); }
    // Read-only flags aside: Old: as installed; OldWithNewFiles: old, plus some new files
    // of entries that had no old file (kept after a failed copy); New: as after a
    // successful update; NewWithBackups: new, with some old files also left under their
    // backup names (a backup whose deletion failed).
    State Classify(const FolderState& files) const;
    // The files that differ from the old and from the new state, for failure messages.
    std::string Describe(const FolderState& files) const;
    bool PackageRemains() const;

    const FolderState& OldState() const { return m_old; }
    const FolderState& NewState() const { return m_new; }

private:
    void Install() const;

    TempDir m_tmp;
    std::string m_bin;
    std::string m_client;  // host paths
    std::string m_sub;
    std::string m_system;
    std::string m_package;  // the package kept aside, copied into DownTemp by Reset
    std::size_t m_payload;
    FolderState m_old;
    FolderState m_new;
};

const char* StateName(UpdateSandbox::State state);
