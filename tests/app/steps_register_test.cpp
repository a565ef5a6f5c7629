// Starting the registration of flagged components, then removing the package.
#include <filesystem>
#include <string>

#include "platform/faults.h"
#include "platform/win.h"
#include "support/StepFixture.h"

namespace {

class RegisterTest : public StepTest {
protected:
    RegisterTest() : m_cwd(std::filesystem::current_path()) {}
    ~RegisterTest() override { std::filesystem::current_path(m_cwd); }

    // Installs the entries, with a package file and its unpack folder beside them, and
    // lets every start fail after it was recorded, so nothing really runs.
    void Install(const std::vector<ManifestEntry>& entries)
    {
        ReadUnpacked(entries);
        ASSERT_EQ(m_dlg.ReplaceFiles(), 0);
        PutFile(m_downTemp + "/Patch_7.cab", "package");
        ASSERT_TRUE(win::faults::AddRules("ShellExecuteA:*:0"));
    }

    bool PackageGone()
    {
        return !std::filesystem::exists(m_downTemp + "/Patch_7.cab") &&
               !std::filesystem::exists(m_downTemp + "/Patch_7.cab.Folder");
    }

    std::filesystem::path m_cwd;
};

TEST_F(RegisterTest, StartsEachFlaggedComponentFromItsFolder)
{
    Install({{"Plugin.dll", "\\bin\\", 1},
             {"SERVER.EXE", "\\", 7},
             {"skip.dll", "\\", 0},
             {"tool", "\\My.App\\", 1},
             {"helper", "\\bin\\", 1}});
    ASSERT_EQ(m_dlg.RegisterComponents(), 0);

    const std::string target = WinPath(m_target);
    const std::string regsvr32 = WinPath(m_tmp / "System") + "\\regsvr32.exe";
    struct {
        std::string file, parameters, folder;
    } expected[] = {
        {regsvr32, " /s Plugin.dll", target + "\\bin"},
        {"SERVER.EXE", " /Regserver", target},
        {regsvr32, " /s tool", target + "\\My.App"},  // the dot of the folder name counts
        {"helper", " /Regserver", target + "\\bin"},   // no dot at all: an executable
    };
    const auto started = win::faults::StartedPrograms();
    ASSERT_EQ(started.size(), std::size(expected));
    for (size_t i = 0; i < started.size(); ++i) {
        EXPECT_EQ(started[i].file, expected[i].file) << i;
        EXPECT_EQ(started[i].parameters, expected[i].parameters) << i;
        EXPECT_EQ(started[i].currentFolder, expected[i].folder) << i;
        EXPECT_EQ(started[i].directory, "") << i;
        EXPECT_EQ(started[i].showCommand, win::SW_HIDE) << i;
    }
    // The current folder stays at the last flagged entry's folder.
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(m_target + "/bin"));
    EXPECT_TRUE(PackageGone());
    EXPECT_TRUE(m_ui->boxes.empty());
}

TEST_F(RegisterTest, WithoutFlaggedEntriesOnlyRemovesThePackage)
{
    Install({{"a.dll", "\\"}});
    ASSERT_EQ(m_dlg.RegisterComponents(), 0);
    EXPECT_TRUE(win::faults::StartedPrograms().empty());
    EXPECT_TRUE(PackageGone());
    EXPECT_EQ(ReadFile(m_target + "/a.dll"), "new \\a.dll");
}

TEST_F(RegisterTest, FolderThatCannotBeEnteredKeepsThePackage)
{
    Install({{"a.dll", "\\", 1}, {"b.dll", "\\", 1}});
    ASSERT_TRUE(win::faults::AddRules("_chdir:*:2"));
    EXPECT_EQ(m_dlg.RegisterComponents(), -1);
    EXPECT_EQ(win::faults::StartedPrograms().size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(m_downTemp + "/Patch_7.cab"));
    EXPECT_TRUE(std::filesystem::exists(m_extracted));
    EXPECT_TRUE(m_ui->boxes.empty());
}

}  // namespace
