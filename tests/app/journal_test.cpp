// The update journal: runs ended abruptly at each stage and started again, journals that
// were tampered with or cut short, and journal writes that fail.
#include <csignal>
#include <filesystem>
#include <map>
#include <string>

#include "app/Journal.h"
#include "app/UpdateApp.h"
#include "app/UpdateFiles.h"
#include "platform/faults.h"
#include "platform/win.h"
#include "support/ForcedSteps.h"
#include "support/StepFixture.h"

namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

// Every file below a folder with its content, and every folder as "name/" -> "".
Files Snapshot(const std::string& folder)
{
    Files files;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        const std::string name = fs::relative(e.path(), folder).string();
        if (e.is_directory())
            files[name + "/"] = "";
        else
            files[name] = ReadFile(e.path().string());
    }
    return files;
}

// The installed client, and the package replacing Main.exe and Tool.exe and adding
// bin\Plugin.dll (registered) in a folder that does not exist yet.
const std::vector<ManifestEntry> kEntries = {
    {"Main.exe", "\\"}, {"Plugin.dll", "\\bin\\", 1}, {"Tool.exe", "\\"}};
const Files kOld = {{"Main.exe", "old main"}, {"Tool.exe", "old tool"}};
const Files kNew = {{"Main.exe", "new \\Main.exe"},
                    {"bin/", ""},
                    {"bin/Plugin.dll", "new \\bin\\Plugin.dll"},
                    {"Tool.exe", "new \\Tool.exe"}};

class JournalTest : public StepTest {
protected:
    JournalTest() : m_journal(m_downTemp + "/Patch_7.cab.journal")
    {
        PutFile(m_target + "/Main.exe", "old main");
        PutFile(m_target + "/Tool.exe", "old tool");
    }

    void WriteRealPackage() { WritePackage(m_downTemp + "/Patch_7.cab", PackageFiles("Patch_7.cab", kEntries)); }

    // The updater as a program of its own in the client folder, in automatic mode for Sub
    // with no waiting window; `faults` as KORVANE_FAULTS. Returns its exit code and keeps
    // its standard error.
    int RunProgram(const std::string& faults)
    {
        if (!fs::exists(m_client + "/Update"))
            fs::copy_file(BinPath("Update"), m_client + "/Update");
        ChildProcess update({m_client + "/Update", "^3^Game^Patch_7.cab^Sub^"},
                            {"KORVANE_UI=quiet", "KORVANE_SYSTEM_DIR=" + (m_tmp / "System"),
                             "KORVANE_FAULTS=" + faults});
        const int code = update.Wait(60000);
        m_stderr = update.Stderr();
        return code;
    }

    // A run in this process that stops right after resolving a left-over journal.
    int RecoverOnly()
    {
        win::faults::Reset();
        EXPECT_TRUE(win::faults::AddRules("step:ExtractPackage:-1"));
        return m_dlg.RunUpdate();
    }

    // A journal for the target folder: its version and folder lines, then `lines`.
    void WriteJournalText(const std::string& lines)
    {
        PutFile(m_journal, "KorvaneUpdateJournal 1\ntarget\t" + WinPath(m_target) + "\n" + lines);
    }

    std::string JournalText() { return fs::exists(m_journal) ? ReadFile(m_journal) : "-"; }

    std::string m_journal;
    std::string m_stderr;
};

// The process ends abruptly at a chosen host call; the next start must leave the folder
// entirely old (before "replaced") or entirely new (after), and the start after that does
// the whole update.
TEST_F(JournalTest, InterruptedRunIsUndoneOrFinishedByTheNextStart)
{
    struct Case {
        const char* stage;
        const char* exitAt;
        const Files& afterRecovery;
    } cases[] = {
        {"before the journal is in place", "MoveFileExA:*journal:1:exit", kOld},
        {"journal written, nothing moved", "MoveFileA:*Main.exe*:1:exit", kOld},
        {"middle of the backups", "MoveFileA:*Tool.exe*:1:exit", kOld},
        {"middle of the copies", "CopyFileA:*Tool.exe:1:exit", kOld},
        {"copies done, flushing", "FlushPathBuffers:*Plugin.dll:1:exit", kOld},
        {"while recording replaced", "MoveFileExA:*journal:2:exit", kOld},
        {"after replaced", "_unlink:*Main.exe?*:1:exit", kNew},
        {"middle of the backup deletes", "_unlink:*Tool.exe?*:1:exit", kNew},
        {"during registration", "ShellExecuteA:*:1:exit", kNew},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stage);
        fs::remove_all(m_target);
        fs::remove_all(m_downTemp);
        PutFile(m_target + "/Main.exe", "old main");
        PutFile(m_target + "/Tool.exe", "old tool");
        WriteRealPackage();

        ASSERT_EQ(RunProgram(c.exitAt), 128 + SIGKILL) << "the exit point was never reached";

        EXPECT_EQ(RunProgram("step:ExtractPackage:-1"), 0);
        EXPECT_EQ(m_stderr, "");
        EXPECT_EQ(Snapshot(m_target), c.afterRecovery);
        EXPECT_FALSE(fs::exists(m_journal));

        EXPECT_EQ(RunProgram(""), 0);
        EXPECT_EQ(m_stderr, "");
        EXPECT_EQ(Snapshot(m_target), kNew);
        EXPECT_FALSE(fs::exists(m_journal));
        EXPECT_FALSE(fs::exists(m_downTemp + "/Patch_7.cab"));
    }
}

// What a run writes: the documented format, before the first file moves and with
// "replaced" once every copy is in place; gone when the run ends.
TEST_F(JournalTest, RunWritesTheDocumentedJournal)
{
    WriteRealPackage();
    m_dlg.m_tStart = 1000;
    ASSERT_TRUE(win::faults::AddRules("step:BackupTargets:-1"));
    ASSERT_EQ(m_dlg.RunUpdate(), -1);  // extracts and reads the manifest
    win::faults::Reset();

    ASSERT_EQ(m_dlg.BackupTargets(), 0);
    const std::string written = "KorvaneUpdateJournal 1\ntarget\t" + WinPath(m_target) +
                                "\nfolder\tbin\n"
                                "file\t1\tMain.exe\tMain.exe1000\n"
                                "file\t0\tbin\\Plugin.dll\tbin\\Plugin.dll1000\n"
                                "file\t1\tTool.exe\tTool.exe1000\n"
                                "end\n";
    EXPECT_EQ(JournalText(), written);
    ASSERT_EQ(m_dlg.ReplaceFiles(), 0);
    EXPECT_EQ(JournalText(), written + "replaced\n");
    EXPECT_FALSE(fs::exists(m_journal + ".tmp"));
}

// A run that fails and reports it removes its journal once everything is back; when an old
// file could not be moved back, the journal stays and the next start puts it back.
TEST_F(JournalTest, FailedRunKeepsTheJournalOnlyWhileAnOldFileIsAside)
{
    WriteRealPackage();
    ASSERT_TRUE(win::faults::AddRules("CopyFileA:*Tool.exe:1"));
    EXPECT_EQ(m_dlg.RunUpdate(), -1);
    EXPECT_EQ(Snapshot(m_target), (Files{{"Main.exe", "old main"},
                                         {"bin/", ""},
                                         {"bin/Plugin.dll", "new \\bin\\Plugin.dll"},
                                         {"Tool.exe", "old tool"}}));
    EXPECT_FALSE(fs::exists(m_journal));

    win::faults::Reset();
    fs::remove_all(m_target + "/bin");
    // The second move of Main.exe's backup name is the one back.
    ASSERT_TRUE(win::faults::AddRules("CopyFileA:*Tool.exe:1;MoveFileA:*Main.exe?*:2"));
    EXPECT_EQ(m_dlg.RunUpdate(), -1);
    EXPECT_FALSE(fs::exists(m_target + "/Main.exe"));
    EXPECT_TRUE(fs::exists(m_journal));

    m_ui->boxes.clear();
    EXPECT_EQ(RecoverOnly(), -1);
    EXPECT_TRUE(m_ui->boxes.empty());
    EXPECT_EQ(Snapshot(m_target), kOld);
    EXPECT_FALSE(fs::exists(m_journal));
}

// A journal that cannot be written stops the run before anything moves; a "replaced" that
// cannot be made durable puts every old file back.
TEST_F(JournalTest, FailingJournalWritesLeaveTheFolderOld)
{
    const char* beginFailures[] = {"_open:*journal.tmp:1", "_write:*:1", "_commit:*:1",
                                   "MoveFileExA:*:1", "FlushPathBuffers:*DownTemp:1"};
    const char* replacedFailures[] = {"FlushPathBuffers:*Main.exe:1", "FlushPathBuffers:*bin:1",
                                      "_commit:*:1", "MoveFileExA:*:1"};
    ReadUnpacked(kEntries);
    for (const char* rule : beginFailures) {
        SCOPED_TRACE(rule);
        win::faults::Reset();
        m_ui->boxes.clear();
        ASSERT_TRUE(win::faults::AddRules(rule));
        EXPECT_EQ(m_dlg.BackupTargets(), -1);
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{"无法写入更新记录" + WinPath(m_journal) +
                                                       ",升级未进行!"});
        EXPECT_EQ(Snapshot(m_target), kOld);
        EXPECT_FALSE(fs::exists(m_journal));
    }
    for (const char* rule : replacedFailures) {
        SCOPED_TRACE(rule);
        win::faults::Reset();
        m_ui->boxes.clear();
        fs::remove_all(m_target + "/bin");
        ASSERT_EQ(m_dlg.BackupTargets(), 0);
        ASSERT_TRUE(win::faults::AddRules(rule));
        EXPECT_EQ(m_dlg.ReplaceFiles(), -1);
        EXPECT_EQ(BoxTexts().size(), 1u);
        Files expected = kOld;
        expected["bin/"] = "";
        expected["bin/Plugin.dll"] = "new \\bin\\Plugin.dll";  // kept, as after a failed copy
        EXPECT_EQ(Snapshot(m_target), expected);
        EXPECT_EQ(JournalText().find("replaced"), std::string::npos);
    }
}

// Lines that are malformed or name anything outside the target folder are ignored, the
// rest is acted upon, and the user is told; nothing the journal did not create is deleted.
TEST_F(JournalTest, TamperedOrTruncatedJournalActsOnlyInsideTheFolder)
{
    PutFile(m_tmp / "Victim.txt", "victim");
    PutFile(m_target + "/Keep.txt", "keep");
    PutFile(m_target + "/Keep.txt1000", "keep backup");
    const std::string outside = WinPath(m_tmp / "Victim.txt");
    struct Case {
        const char* why;
        std::string lines;
    } cases[] = {
        {"absolute path", "file\t0\t" + outside + "\t" + outside + "1\nend\n"},
        {"leading backslash", "file\t0\t\\Victim.txt\t\\Victim.txt1\nend\n"},
        {"climbing out", "file\t0\t..\\Victim.txt\t..\\Victim.txt1\nend\n"},
        {"drive letter", "file\t0\tC:Victim.txt\tC:Victim.txt1\nend\n"},
        {"backup not named after its target", "file\t1\tMain.exe\tKeep.txt\nend\n"},
        {"unknown line", "remove\tKeep.txt\nend\n"},
        {"folder outside", "folder\t..\nend\n"},
        {"replaced without end", "replaced\n"},
        {"cut in a line", "file\t1\tMain.exe\tMain.exe1000\nfile\t0\tKeep.t"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        m_ui->boxes.clear();
        // Main.exe is aside, a new one half copied: the one well-formed entry puts it back.
        PutFile(m_target + "/Main.exe1000", "old main");
        PutFile(m_target + "/Main.exe", "half new");
        WriteJournalText("file\t1\tMain.exe\tMain.exe1000\n" + c.lines);

        EXPECT_EQ(RecoverOnly(), -1);
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{"更新记录" + WinPath(m_journal) +
                                                       "已损坏,其中无效的内容已被忽略!"});
        EXPECT_EQ(ReadFile(m_target + "/Main.exe"), "old main");
        EXPECT_EQ(ReadFile(m_tmp / "Victim.txt"), "victim");
        EXPECT_EQ(ReadFile(m_target + "/Keep.txt"), "keep");
        EXPECT_EQ(ReadFile(m_target + "/Keep.txt1000"), "keep backup");
        EXPECT_FALSE(fs::exists(m_journal));
    }
}

// A journal that is not ours, or names another folder, is left alone and the run stops.
TEST_F(JournalTest, UnusableJournalStopsTheRunUntouched)
{
    PutFile(m_tmp / "Other/Victim.txt", "victim");
    const std::string other = WinPath(m_tmp / "Other");
    struct Case {
        const char* why;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"cut in the version line", "KorvaneUpdate"},
        {"other version", "KorvaneUpdateJournal 2\ntarget\t" + WinPath(m_target) + "\nend\n"},
        {"no folder line", "KorvaneUpdateJournal 1\nfile\t0\tMain.exe\tMain.exe1\nend\n"},
        {"another folder",
         "KorvaneUpdateJournal 1\ntarget\t" + other + "\nfile\t0\tVictim.txt\tVictim.txt1\nend\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        m_ui->boxes.clear();
        PutFile(m_journal, c.text);
        EXPECT_EQ(RecoverOnly(), -1);
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{"更新记录" + WinPath(m_journal) +
                                                       "无法使用,升级已停止,请删除该文件后重试!"});
        EXPECT_EQ(JournalText(), c.text);
        EXPECT_EQ(Snapshot(m_target), kOld);
        EXPECT_EQ(ReadFile(m_tmp / "Other/Victim.txt"), "victim");
    }
}

// In interactive mode a left-over journal is resolved only once the client has ended: not
// while it holds its mutex.
TEST(InteractiveJournalTest, ResolvedOnlyAfterTheClientEnded)
{
    UsePrivateRuntimeFolder();
    TempDir client;
    fs::copy_file(BinPath("Update"), client / "Update");
    PutFile(client / "Main.exe", "half new");
    PutFile(client / "Main.exe1000", "old main");
    const std::string journal = client / "DownTemp/Patch_7.cab.journal";
    PutFile(journal, "KorvaneUpdateJournal 1\ntarget\t" + WinPath(client.path()) +
                         "\nfile\t1\tMain.exe\tMain.exe1000\nend\n");

    ChildProcess holder({BinPath("holdmutex"), "Korvane.Update"});
    ASSERT_TRUE(holder.WaitForOutput("held", 20000));
    ChildProcess update({client / "Update", "^-1^Game^Patch_7.cab^"},
                        {"KORVANE_UI=terminal", "KORVANE_FAULTS=" + std::string(kStepsSucceed)},
                        client.path(), true);
    ASSERT_TRUE(update.WaitForOutput("请您先关闭Korvane", 20000));
    update.Write("\n");  // confirm: refused while the client runs
    ASSERT_TRUE(update.WaitForOutput("请先关闭大厅才能进行自动安装！", 20000));
    EXPECT_TRUE(fs::exists(journal));
    EXPECT_EQ(ReadFile(client / "Main.exe"), "half new");

    update.Write("\n");  // dismiss the box
    holder.Terminate();
    update.Write("\n");  // confirm again: the run
    EXPECT_EQ(update.Wait(20000), 0) << update.Stderr();
    EXPECT_EQ(ReadFile(client / "Main.exe"), "old main");
    EXPECT_FALSE(fs::exists(client / "Main.exe1000"));
    EXPECT_FALSE(fs::exists(journal));
}

}  // namespace
