// Moving the installed files aside and copying the new files into place.
#include <filesystem>
#include <map>
#include <string>

#include "app/FileHelpers.h"
#include "app/UpdateFiles.h"
#include "platform/faults.h"
#include "platform/win.h"
#include "support/StepFixture.h"

namespace {

using win::FILE_ATTRIBUTE_READONLY;

class ReplaceTest : public StepTest {
protected:
    // Four entries; a, c and d have an installed old file (a read-only), b has none and
    // goes into a folder that does not exist yet.
    void SetUp() override
    {
        ReadUnpacked({{"a.dll", "\\"}, {"b.dll", "\\new\\"}, {"c.dll", "\\"}, {"d.dll", "\\"}});
        PutFile(m_target + "/a.dll", "old a", FILE_ATTRIBUTE_READONLY);
        PutFile(m_target + "/c.dll", "old c");
        PutFile(m_target + "/d.dll", "old d");
    }

    // What each target holds: its content, or "-" when it is missing.
    std::map<std::string, std::string> Targets()
    {
        std::map<std::string, std::string> state;
        for (const char* name : {"a.dll", "new/b.dll", "c.dll", "d.dll"}) {
            const std::string path = m_target + "/" + name;
            state[name] = std::filesystem::exists(path) ? ReadFile(path) : "-";
        }
        return state;
    }

    // Files in the target folder (and below) whose name carries the run's start time.
    int Backups()
    {
        const std::string stamp = std::to_string(static_cast<unsigned>(m_dlg.m_tStart));
        int count = 0;
        for (const auto& e : std::filesystem::recursive_directory_iterator(m_target))
            count += e.path().filename().string().ends_with(stamp);
        return count;
    }

    std::string Target(const char* name) { return WinPath(m_target) + "\\" + name; }
    std::string Source(const char* name) { return WinPath(m_extracted) + "\\" + name; }
};

using State = std::map<std::string, std::string>;
const State kOld = {{"a.dll", "old a"}, {"new/b.dll", "-"}, {"c.dll", "old c"}, {"d.dll", "old d"}};

TEST_F(ReplaceTest, ReplacesEveryFileAndLeavesNoBackup)
{
    ASSERT_EQ(m_dlg.BackupTargets(), 0);
    EXPECT_EQ(Backups(), 3);
    EXPECT_FALSE(std::filesystem::exists(m_target + "/a.dll"));

    ASSERT_EQ(m_dlg.ReplaceFiles(), 0);
    EXPECT_EQ(Targets(), (State{{"a.dll", "new \\a.dll"},
                                {"new/b.dll", "new \\new\\b.dll"},
                                {"c.dll", "new \\c.dll"},
                                {"d.dll", "new \\d.dll"}}));
    EXPECT_EQ(Backups(), 0);
    EXPECT_EQ(Attributes(m_target + "/a.dll") & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_TRUE(m_ui->boxes.empty());
}

TEST_F(ReplaceTest, TargetThatCannotBeMovedAsideRestoresEarlierOnes)
{
    ASSERT_TRUE(win::faults::AddRules("MoveFileA:*c.dll:1"));
    EXPECT_EQ(m_dlg.BackupTargets(), -1);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"文件" + Target("c.dll") +
                                                   "无法更新,如果Game正在运行,请先关闭!"});
    EXPECT_EQ(Targets(), kOld);
    EXPECT_EQ(Backups(), 0);
    // Moved back without its read-only flag.
    EXPECT_EQ(Attributes(m_target + "/a.dll") & FILE_ATTRIBUTE_READONLY, 0u);
}

// Whatever entry the copy fails at, every old file is back in its place; an entry that had
// no old file keeps its new file once it was copied.
TEST_F(ReplaceTest, FailedCopyPutsEveryOldFileBack)
{
    struct Case {
        const char* failing;
        std::string newB;  // b's target afterwards
    } cases[] = {{"a.dll", "-"}, {"b.dll", "-"}, {"c.dll", "new \\new\\b.dll"},
                 {"d.dll", "new \\new\\b.dll"}};
    for (const Case& c : cases) {
        m_ui->boxes.clear();
        win::faults::Reset();
        std::filesystem::remove_all(m_target + "/new");
        SetUp();
        ASSERT_EQ(m_dlg.BackupTargets(), 0);
        ASSERT_TRUE(win::faults::AddRules((std::string("CopyFileA:*") + c.failing + ":1").c_str()));

        EXPECT_EQ(m_dlg.ReplaceFiles(), -1) << c.failing;
        const std::string relative = std::string(c.failing) == "b.dll" ? "new\\b.dll" : c.failing;
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{"更新文件失败:文件【" +
                                                       Source(relative.c_str()) + "】覆盖【" +
                                                       Target(relative.c_str()) + "】失败!"});
        State expected = kOld;
        expected["new/b.dll"] = c.newB;
        EXPECT_EQ(Targets(), expected) << c.failing;
        EXPECT_EQ(Backups(), 0) << c.failing;
    }
}

TEST_F(ReplaceTest, FailedMoveBackReportsTheLoss)
{
    ASSERT_EQ(m_dlg.BackupTargets(), 0);
    // The copy of c fails; then a's old file cannot be moved back.
    ASSERT_TRUE(win::faults::AddRules("CopyFileA:*c.dll:1;MoveFileA:*a.dll*:1"));
    EXPECT_EQ(m_dlg.ReplaceFiles(), -1);
    ASSERT_EQ(BoxTexts().size(), 2u);
    EXPECT_EQ(BoxTexts()[1],
              "自动更新时发生了错误,原来的程序已经不能使用，请下载完整的安装文件！");
    // Restoring stopped at a: its old file and those after it are still aside.
    EXPECT_EQ(Backups(), 3);
}

TEST_F(ReplaceTest, FolderThatCannotBeCreatedPutsEveryOldFileBack)
{
    ASSERT_EQ(m_dlg.BackupTargets(), 0);
    ASSERT_TRUE(win::faults::AddRules("_mkdir:*:0"));
    EXPECT_EQ(m_dlg.ReplaceFiles(), -1);
    EXPECT_TRUE(m_ui->boxes.empty());
    EXPECT_EQ(Targets(), kOld);
    EXPECT_EQ(Backups(), 0);
}

TEST_F(ReplaceTest, EnsureParentFolderCreatesEachMissingFolder)
{
    const std::string file = WinPath(m_target) + "\\x\\y\\z.txt";
    ASSERT_TRUE(m_dlg.EnsureParentFolder(file.c_str()));
    EXPECT_TRUE(std::filesystem::is_directory(m_target + "/x/y"));
    EXPECT_EQ(win::faults::Calls("_mkdir"), 2u);
    EXPECT_FALSE(m_dlg.EnsureParentFolder("z.txt"));
}

TEST_F(ReplaceTest, CopyKeepsTheOverwrittenFilesAttributes)
{
    const std::string source = m_tmp / "source.txt";
    const std::string kept = m_tmp / "kept.txt";
    const std::string fresh = m_tmp / "fresh.txt";
    PutFile(source, "content", FILE_ATTRIBUTE_READONLY);
    PutFile(kept, "previous", FILE_ATTRIBUTE_READONLY);

    EXPECT_TRUE(CopyFileKeepAttributes(WinPath(source), WinPath(kept)));
    EXPECT_EQ(ReadFile(kept), "content");
    EXPECT_NE(Attributes(kept) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_NE(Attributes(source) & FILE_ATTRIBUTE_READONLY, 0u);

    // A new destination takes the source's attributes as they were during the copy.
    EXPECT_TRUE(CopyFileKeepAttributes(WinPath(source), WinPath(fresh)));
    EXPECT_EQ(ReadFile(fresh), "content");
    EXPECT_EQ(Attributes(fresh) & FILE_ATTRIBUTE_READONLY, 0u);

    EXPECT_FALSE(CopyFileKeepAttributes(WinPath(m_tmp / "missing"), WinPath(fresh)));
}

}  // namespace
