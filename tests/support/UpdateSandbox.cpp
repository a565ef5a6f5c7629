#include "support/UpdateSandbox.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

#include "platform/paths.h"
#include "platform/win.h"
#include "support/StepFixture.h"

namespace fs = std::filesystem;

namespace {

const char kReadOnly[] = " (read-only)";
const char kWindowTitle[] = "WaitForUpdateResultWnd3";

// Text that compresses like program data: words drawn from a small set by a fixed sequence.
std::string Payload(std::size_t bytes, unsigned seed)
{
    static const char* const words[] = {"korvane ", "update ", "0x1F87 ", "frame\n", "client ",
                                        "\x01\x02\x03", "skin ", "plugin ", "window ", "\xff\xfe"};
    std::string text;
    text.reserve(bytes + 16);
    unsigned state = seed * 2654435761u + 1;
    while (text.size() < bytes) {
        state = state * 1103515245u + 12345u;
        text += words[(state >> 16) % (sizeof words / sizeof *words)];
    }
    text.resize(bytes);
    return text;
}

// A registered executable: records each start in the system folder, never in the client.
std::string ToolScript(const std::string& version, const std::string& systemFolder)
{
    return "#!/bin/sh\n# tool " + version + "\necho \"" + version + "|$PWD|$*\" >> '" +
           systemFolder + "/tool.log'\n";
}

std::string WithoutReadOnly(const std::string& content)
{
    const std::size_t n = sizeof kReadOnly - 1;
    if (content.size() >= n && content.compare(content.size() - n, n, kReadOnly) == 0)
        return content.substr(0, content.size() - n);
    return content;
}

// The start of a file's content on one line, and its read-only flag.
std::string Abbreviated(const std::string& content)
{
    const std::string text = WithoutReadOnly(content);
    std::string shown = text.substr(0, 24);
    for (char& c : shown)
        if (c == '\n')
            c = '|';
    return "\"" + shown + (text.size() > 24 ? "...\"" : "\"") +
           (text.size() != content.size() ? kReadOnly : "");
}

// The same files with the same content, whatever their read-only flags.
bool SameContent(const FolderState& a, const FolderState& b)
{
    if (a.size() != b.size())
        return false;
    for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j)
        if (i->first != j->first || WithoutReadOnly(i->second) != WithoutReadOnly(j->second))
            return false;
    return true;
}

}  // namespace

FolderState Snapshot(const std::string& folder)
{
    FolderState files;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        if (!it->is_regular_file())
            continue;
        std::string content = ReadFile(it->path().string());
        if (Attributes(it->path().string()) & win::FILE_ATTRIBUTE_READONLY)
            content += kReadOnly;
        files[fs::relative(it->path(), folder).string()] = content;
    }
    return files;
}

// Waits until the window's socket accepts connections (bound is not enough: a window
// search would take a socket that does not listen yet for a dead one).
bool WaitForWindow(const char* title)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = win::RuntimeObjectPath("window", title);
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    for (int waited = 0; waited < 10000; waited += 5) {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        const bool up = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        if (up)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// The start of a file's content on one line, and its read-only flag.
WaitingWindow::WaitingWindow(const std::string& waitwnd) : m_process({waitwnd, "-t", "120", "3"})
{
    EXPECT_TRUE(WaitForWindow(kWindowTitle));
}

void WaitingWindow::Collect(RunOutcome* outcome) const
{
    int lParam = 0;
    outcome->reported = std::sscanf(m_process.Stdout().c_str(), "message=8071 wParam=%d lParam=%d",
                                    &outcome->wParam, &lParam) == 2;
}

UpdateSandbox::UpdateSandbox(std::size_t payloadBytes, const std::string& binFolder)
    : m_bin(binFolder),
      m_client(m_tmp / "Client"),
      m_sub(m_client + "/Sub"),
      m_system(m_tmp / "System"),
      m_package(m_tmp / "Patch_7.cab"),
      m_payload(payloadBytes)
{
    UsePrivateRuntimeFolder();
    fs::create_directories(m_client);
    fs::copy_file(m_bin + "/Update", m_client + "/Update");
    PutFile(m_system + "/regsvr32.exe", "#!/bin/sh\necho \"$PWD|$*\" >> '" + m_system + "/regsvr32.log'\n");
    chmod((m_system + "/regsvr32.exe").c_str(), 0755);

    // Replaced: a read-only file, a registered executable and a file in an existing
    // sub-folder; new: a registered library in a new folder and a file two new folders deep.
    const std::vector<ManifestEntry> entries = {{"Main.exe", "\\"},
                                                {"Tool.exe", "\\", 1},
                                                {"Plugin.dll", "\\bin\\", 1},
                                                {"blue.skin", "\\skins\\blue\\"},
                                                {"readme.txt", "\\docs\\"}};
    m_new = {{"Main.exe", "new main\n" + Payload(m_payload, 1)},
             {"Tool.exe", ToolScript("new", m_system)},
             {"bin/Plugin.dll", "new plugin\n" + Payload(m_payload / 2, 2)},
             {"skins/blue/blue.skin", "new skin\n" + Payload(m_payload / 2, 3)},
             {"docs/readme.txt", "new readme\n"},
             {"settings.txt", "settings the update leaves alone\n"}};
    std::vector<PackageFile> package = {{"Files\\Patch_7.update", ManifestText(entries)}};
    for (const ManifestEntry& e : entries) {
        std::string relative = (e.filePath + e.fileName).substr(1);
        std::string hostRelative = relative;
        for (char& c : hostRelative)
            if (c == '\\')
                c = '/';
        package.push_back({"Files\\" + relative, m_new.at(hostRelative)});
    }
    WritePackage(m_package, package);

    m_old = {{"Main.exe", "old main\n" + Payload(m_payload, 4) + kReadOnly},
             {"Tool.exe", ToolScript("old", m_system)},
             {"docs/readme.txt", "old readme\n"},
             {"settings.txt", m_new.at("settings.txt")}};
}

void UpdateSandbox::Install() const
{
    for (const auto& [name, content] : m_old) {
        const bool readOnly = WithoutReadOnly(content) != content;
        PutFile(m_sub + "/" + name, WithoutReadOnly(content),
                readOnly ? win::FILE_ATTRIBUTE_READONLY : 0);
    }
}

void UpdateSandbox::Reset()
{
    fs::remove_all(m_sub);
    fs::remove_all(m_client + "/DownTemp");
    fs::create_directories(m_client + "/DownTemp");
    fs::copy_file(m_package, m_client + "/DownTemp/Patch_7.cab");
    Install();
}

std::unique_ptr<ChildProcess> UpdateSandbox::Start(const std::string& faults) const
{
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{m_client + "/Update", "^3^Game^Patch_7.cab^Sub^"},
        std::vector<std::string>{"KORVANE_UI=quiet", "KORVANE_SYSTEM_DIR=" + m_system,
                                 "KORVANE_FAULTS=" + faults});
}

std::unique_ptr<WaitingWindow> UpdateSandbox::OpenWindow() const
{
    return std::make_unique<WaitingWindow>(m_bin + "/waitwnd");
}

RunOutcome UpdateSandbox::Run(const std::string& faults) const
{
    const std::unique_ptr<WaitingWindow> window = OpenWindow();
    std::unique_ptr<ChildProcess> update = Start(faults);
    RunOutcome outcome;
    outcome.exitCode = update->Wait(120000);
    outcome.stderrText = update->Stderr();
    window->Collect(&outcome);
    return outcome;
}

UpdateSandbox::State UpdateSandbox::Classify(const FolderState& files) const
{
    // Read-only flags do not decide: old files moved back after a failure have lost theirs
    // (moving them aside cleared it), and a new file copied over a target that was not
    // moved aside takes the old file's.
    if (SameContent(files, m_old))
        return State::Old;
    if (SameContent(files, m_new))
        return State::New;
    FolderState withoutBackups;
    bool backups = false;
    for (const auto& [name, content] : files) {
        // A backup is the old file's name followed by the run's start time in decimal.
        const std::size_t digits = name.find_last_not_of("0123456789") + 1;
        const auto old = m_old.find(name.substr(0, digits));
        if (digits < name.size() && old != m_old.end() &&
            WithoutReadOnly(old->second) == WithoutReadOnly(content))
            backups = true;
        else
            withoutBackups[name] = content;
    }
    if (backups)
        return SameContent(withoutBackups, m_new) ? State::NewWithBackups : State::Mixed;

    FolderState oldPart;
    for (const auto& [name, content] : files) {
        if (m_old.count(name))
            oldPart[name] = content;
        else if (!m_new.count(name) || WithoutReadOnly(content) != m_new.at(name))
            return State::Mixed;
    }
    return SameContent(oldPart, m_old) ? State::OldWithNewFiles : State::Mixed;
}

std::string UpdateSandbox::Describe(const FolderState& files) const
{
    std::map<std::string, int> names;
    for (const FolderState* state : {&files, &m_old, &m_new})
        for (const auto& entry : *state)
            names[entry.first] = 0;
    const auto content = [](const FolderState& state, const std::string& name) {
        const auto found = state.find(name);
        return found == state.end() ? std::nullopt : std::optional<std::string>(found->second);
    };
    const auto shown = [](const std::optional<std::string>& text) {
        return text ? Abbreviated(*text) : std::string("(none)");
    };
    std::string text;
    for (const auto& [name, unused] : names) {
        const std::optional<std::string> now = content(files, name);
        if (now == content(m_old, name) && now == content(m_new, name))
            continue;
        text += "  " + name + ": now " + shown(now) + ", old " + shown(content(m_old, name)) +
                ", new " + shown(content(m_new, name)) + "\n";
    }
    return text;
}

bool UpdateSandbox::PackageRemains() const
{
    return fs::exists(m_client + "/DownTemp/Patch_7.cab");
}

const char* StateName(UpdateSandbox::State state)
{
    switch (state) {
    case UpdateSandbox::State::Old:
        return "old";
    case UpdateSandbox::State::OldWithNewFiles:
        return "old, new files kept";
    case UpdateSandbox::State::New:
        return "new";
    case UpdateSandbox::State::NewWithBackups:
        return "new, backup left";
    case UpdateSandbox::State::Mixed:
        break;
    }
    return "mixed";
}
