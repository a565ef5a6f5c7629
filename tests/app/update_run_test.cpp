// Whole updates with real processes: the updater in a client folder, a package made by the
// project's writer, the client's waiting window and a recording registration tool.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "platform/win.h"
#include "support/StepFixture.h"
#include "support/UpdateSandbox.h"

namespace {

namespace fs = std::filesystem;

bool WaitForFile(const std::string& path, int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        if (fs::exists(path) && !ReadFile(path).empty())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// A program that appends its current folder and arguments to `log`.
std::string Recorder(const std::string& log)
{
    return "#!/bin/sh\necho \"$PWD|$*\" >> '" + log + "'\n";
}

class UpdateRunTest : public ::testing::Test {
protected:
    UpdateRunTest()
        : m_client(m_tmp / "Client"), m_system(m_tmp / "System")
    {
        UsePrivateRuntimeFolder();
        fs::create_directories(m_client + "/DownTemp");
        fs::copy_file(BinPath("Update"), m_client + "/Update");
        PutFile(m_system + "/regsvr32.exe", Recorder(m_system + "/regsvr32.log"));
        chmod((m_system + "/regsvr32.exe").c_str(), 0755);
    }

    // The installed client below `target`: an old Main.exe and an old Tool.exe.
    void Installed(const std::string& target, win::DWORD mainAttributes = 0)
    {
        PutFile(target + "/Main.exe", "old main", mainAttributes);
        PutFile(target + "/Tool.exe", "old tool");
    }

    // The package: Main.exe replaced, bin\Plugin.dll new and registered, Tool.exe replaced
    // and registered (it records how it was started next to itself).
    std::vector<PackageFile> Package()
    {
        std::vector<PackageFile> files = PackageFiles(
            "Patch_7.cab",
            {{"Main.exe", "\\"}, {"Plugin.dll", "\\bin\\", 1}, {"Tool.exe", "\\", 1}});
        files.back().content = "#!/bin/sh\necho \"$PWD|$*\" > Tool.log\n";
        return files;
    }

    // Runs the updater in automatic mode for the folder Sub with the waiting window 3;
    // returns what the window received (empty if nothing).
    std::string RunAutomatic(const std::string& faults = "")
    {
        ChildProcess window({BinPath("waitwnd"), "-t", "60", "3"});
        EXPECT_TRUE(WaitForWindow("WaitForUpdateResultWnd3"));
        ChildProcess update({m_client + "/Update", "^3^Game^Patch_7.cab^Sub^"}, Environment(faults));
        EXPECT_EQ(update.Wait(60000), 0) << update.Stderr();
        m_stderr = update.Stderr();
        window.Wait(5000);
        return window.Stdout();
    }

    std::vector<std::string> Environment(const std::string& faults)
    {
        return {"KORVANE_UI=quiet", "KORVANE_SYSTEM_DIR=" + m_system, "KORVANE_FAULTS=" + faults};
    }

    bool PackageRemains()
    {
        return fs::exists(m_client + "/DownTemp/Patch_7.cab") &&
               fs::exists(m_client + "/DownTemp/Patch_7.cab.Folder");
    }

    TempDir m_tmp;
    std::string m_client;
    std::string m_system;
    std::string m_stderr;
};

std::string Result(int wParam)
{
    return "message=8071 wParam=" + std::to_string(wParam) + " lParam=0\n";
}

using Files = std::map<std::string, std::string>;

TEST_F(UpdateRunTest, AutomaticUpdateReplacesRegistersAndReports)
{
    const std::string sub = m_client + "/Sub";
    Installed(sub, win::FILE_ATTRIBUTE_READONLY);
    WritePackage(m_client + "/DownTemp/Patch_7.cab", Package());

    EXPECT_EQ(RunAutomatic(), Result(0));
    EXPECT_EQ(m_stderr, "");
    ASSERT_TRUE(WaitForFile(sub + "/Tool.log", 10000));
    ASSERT_TRUE(WaitForFile(m_system + "/regsvr32.log", 10000));
    EXPECT_EQ(ReadFile(sub + "/Tool.log"), sub + "|/Regserver\n");
    EXPECT_EQ(ReadFile(m_system + "/regsvr32.log"), sub + "/bin|/s Plugin.dll\n");
    // No backup left, the read-only flag gone with the old file.
    EXPECT_EQ(Snapshot(sub), (Files{{"Main.exe", "new \\Main.exe"},
                                    {"bin/Plugin.dll", "new \\bin\\Plugin.dll"},
                                    {"Tool.exe", Package().back().content},
                                    {"Tool.log", sub + "|/Regserver\n"}}));
    EXPECT_FALSE(fs::exists(m_client + "/DownTemp/Patch_7.cab"));
    EXPECT_FALSE(fs::exists(m_client + "/DownTemp/Patch_7.cab.Folder"));
}

// Every failure kind: the result the client receives, the message the user sees, and the
// client's files as they were before (or, once every file was replaced, as after).
TEST_F(UpdateRunTest, AutomaticUpdateFailures)
{
    const auto manifestOnly = [](const std::string& text) {
        return std::vector<PackageFile>{{"Files\\Patch_7.update", text}};
    };
    struct Case {
        const char* why;
        std::vector<PackageFile> package;  // empty: no package file
        const char* faults;
        int wParam;
        const char* message;  // the start of the message shown, "" for none
        bool replaced;        // the new files are in place
    } cases[] = {
        {"missing package", {}, "", -1, "待解压的文件", false},
        {"damaged package", {{"", ""}}, "", -1, "解压下载的文件失败【", false},
        {"no top folder", {{"Patch_7.update", "x"}}, "", 1, "下载的文件有误!", false},
        {"missing manifest", {{"Files\\other.txt", "x"}}, "", 1, "", false},
        {"count 0", manifestOnly("[VerInfo]\nUpdateFileNum=0\n"), "", -1, "", false},
        {"count abc", manifestOnly("[VerInfo]\nUpdateFileNum=abc\n"), "", -1, "", false},
        {"count 1025", manifestOnly("[VerInfo]\nUpdateFileNum=1025\n"), "", -1, "", false},
        {"missing new file", manifestOnly(ManifestText({{"Gone.dll", "\\"}})), "", -1,
         "下载文件有误:文件", false},
        {"unsafe entry", manifestOnly(ManifestText({{"x.dll", "\\..\\"}})), "", -1,
         "下载文件有误:File1中的文件", false},
        {"target in use", Package(), "MoveFileA:*Tool.exe:1", -1, "文件", false},
        {"copy fails", Package(), "CopyFileA:*Plugin.dll:1", -1, "更新文件失败:", false},
        {"folder fails", Package(), "_mkdir:*bin*:0", -1, "", false},
        {"component folder", Package(), "_chdir:*:0", -1, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const std::string sub = m_client + "/Sub";
        fs::remove_all(sub);
        fs::remove_all(m_client + "/DownTemp");
        fs::create_directories(m_client + "/DownTemp");
        Installed(sub);
        const Files before = Snapshot(sub);
        if (c.package.size() == 1 && c.package[0].name.empty())
            PutFile(m_client + "/DownTemp/Patch_7.cab", "not a cabinet");
        else if (!c.package.empty())
            WritePackage(m_client + "/DownTemp/Patch_7.cab", c.package);

        EXPECT_EQ(RunAutomatic(c.faults), Result(c.wParam));
        if (*c.message) {
            EXPECT_EQ(m_stderr.find(std::string("Update: ") + c.message), 0u) << m_stderr;
        } else {
            EXPECT_EQ(m_stderr, "");
        }
        if (c.replaced) {
            EXPECT_EQ(Snapshot(sub).at("Main.exe"), "new \\Main.exe");
        } else {
            EXPECT_EQ(Snapshot(sub), before);
        }
        EXPECT_EQ(fs::exists(m_client + "/DownTemp/Patch_7.cab"), !c.package.empty());
    }
}

TEST_F(UpdateRunTest, InteractiveUpdateRestartsTheClient)
{
    Installed(m_client);
    PutFile(m_client + "/Korvane.exe", Recorder(m_client + "/client.log"));
    WritePackage(m_client + "/DownTemp/Patch_7.cab", Package());

    ChildProcess update({m_client + "/Update", "^-1^Game^Patch_7.cab^"},
                        {"KORVANE_UI=terminal", "KORVANE_SYSTEM_DIR=" + m_system, "KORVANE_FAULTS="},
                        "", true);
    update.Write("\n");
    EXPECT_EQ(update.Wait(60000), 0) << update.Stderr();
    EXPECT_NE(update.Stdout().find("Korvane升级成功,正在调入..."), std::string::npos);
    ASSERT_TRUE(WaitForFile(m_client + "/client.log", 10000));
    // The client inherits the folder of the last registered component, without arguments.
    EXPECT_EQ(ReadFile(m_client + "/client.log"), m_client + "|\n");
    EXPECT_EQ(ReadFile(m_client + "/Main.exe"), "new \\Main.exe");
    EXPECT_FALSE(fs::exists(m_client + "/DownTemp/Patch_7.cab"));
}

}  // namespace
