// Unpacking the package and finding its top folder.
#include <filesystem>
#include <string>

#include "app/UpdateApp.h"
#include "app/UpdateFiles.h"
#include "platform/faults.h"
#include "platform/win.h"
#include "support/StepFixture.h"

namespace {

namespace fs = std::filesystem;
using namespace win;

class ExtractTest : public StepTest {
protected:
    void UsePackage(const std::string& name)
    {
        g_strPackagePath = WinPath(m_downTemp + "/" + name);
        g_strUnpackDir.clear();
    }
};

TEST_F(ExtractTest, UnpacksBesideThePackageAndFindsTheManifest)
{
    for (const std::string name : {"Patch_7.cab", "a.b.cab"}) {
        UsePackage(name);
        WritePackage(m_downTemp + "/" + name, PackageFiles(name, {{"x.dll", "\\bin\\"}}));
        ASSERT_EQ(m_dlg.ExtractPackage(), 0) << name;
        const std::string unpack = WinPath(m_downTemp) + "\\" + name + ".Folder";
        const std::string manifest = name.substr(0, name.rfind('.')) + ".update";
        EXPECT_EQ(g_strUnpackDir, unpack);
        EXPECT_STREQ(m_dlg.m_szManifestName, manifest.c_str());

        ASSERT_EQ(m_dlg.LocateExtractedFolder(), 0) << name;
        EXPECT_EQ(m_dlg.m_strExtractedDir, unpack + "\\Files");
        EXPECT_EQ(m_dlg.m_strManifestPath, unpack + "\\Files\\" + manifest);
        EXPECT_EQ(ReadFile(m_downTemp + "/" + name + ".Folder/Files/bin/x.dll"), "new \\bin\\x.dll");
    }
    EXPECT_TRUE(m_ui->boxes.empty());
}

TEST_F(ExtractTest, MissingOrMisnamedPackage)
{
    UsePackage("Patch_7.cab");
    EXPECT_EQ(m_dlg.ExtractPackage(), -1);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"待解压的文件" + g_strPackagePath + "不存在!"});
    EXPECT_FALSE(fs::exists(m_downTemp + "/Patch_7.cab.Folder"));

    m_ui->boxes.clear();
    UsePackage("Patch");
    WritePackage(m_downTemp + "/Patch", PackageFiles("Patch", {{"x.dll", "\\"}}));
    EXPECT_EQ(m_dlg.ExtractPackage(), -1);
    EXPECT_TRUE(m_ui->boxes.empty());
    EXPECT_FALSE(fs::exists(m_downTemp + "/Patch.Folder"));
}

TEST_F(ExtractTest, DamagedPackage)
{
    UsePackage("Patch_7.cab");
    PutFile(m_downTemp + "/Patch_7.cab", "this is not a cabinet");
    EXPECT_EQ(m_dlg.ExtractPackage(), -1);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"解压下载的文件失败【" + g_strPackagePath +
                                                   "】,请确认下载的文件是否正确!"});
}

// A failed earlier run may have left the unpack folder with read-only files and a top
// folder that sorts before the new package's one.
TEST_F(ExtractTest, LeftoverUnpackFolderIsReplaced)
{
    UsePackage("Patch_7.cab");
    const std::string unpack = m_downTemp + "/Patch_7.cab.Folder";
    PutFile(unpack + "/Files/bin/x.dll", "stale", FILE_ATTRIBUTE_READONLY);
    PutFile(unpack + "/Early/Patch_7.update", "[VerInfo]\nUpdateFileNum=1\n");
    WritePackage(m_downTemp + "/Patch_7.cab", PackageFiles("Patch_7.cab", {{"x.dll", "\\bin\\"}}));

    ASSERT_EQ(m_dlg.ExtractPackage(), 0);
    ASSERT_EQ(m_dlg.LocateExtractedFolder(), 0);
    EXPECT_EQ(m_dlg.m_strExtractedDir, WinPath(unpack) + "\\Files");
    EXPECT_EQ(ReadFile(unpack + "/Files/bin/x.dll"), "new \\bin\\x.dll");
    EXPECT_FALSE(fs::exists(unpack + "/Early"));
}

TEST_F(ExtractTest, LeftoverThatCannotBeRemovedFailsTheUnpacking)
{
    UsePackage("Patch_7.cab");
    PutFile(m_downTemp + "/Patch_7.cab.Folder/Early/x", "stale");
    WritePackage(m_downTemp + "/Patch_7.cab", PackageFiles("Patch_7.cab", {{"x.dll", "\\"}}));
    ASSERT_TRUE(faults::AddRules("SHFileOperationA:*:0"));
    EXPECT_EQ(m_dlg.ExtractPackage(), -1);
    EXPECT_EQ(BoxTexts().size(), 1u);
}

// A package name that Windows would refuse, shorten or take for a device, or that climbs
// out of the download folder, is refused before anything beside it is looked at or removed.
TEST_F(ExtractTest, InvalidPackageNameIsRefusedBeforeAnyChange)
{
    PutFile(m_client + "/Patch_7.cab.Folder/kept", "kept");
    WritePackage(m_client + "/Patch_7.cab", PackageFiles("Patch_7.cab", {{"x.dll", "\\"}}));
    for (const std::string name : {"..\\Patch_7.cab", "Patch_7.cab.", "Patch_7.cab ", "CON.cab",
                                   "Pa|tch.cab", "Pa<tch.cab", "Patch\x01.cab"}) {
        m_ui->boxes.clear();
        g_strPackagePath = WinPath(m_downTemp) + "\\" + name;
        EXPECT_EQ(m_dlg.ExtractPackage(), -1) << name;
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{"解压下载的文件失败【" + g_strPackagePath +
                                                       "】,请确认下载的文件是否正确!"})
            << name;
    }
    EXPECT_EQ(ReadFile(m_client + "/Patch_7.cab.Folder/kept"), "kept");
    EXPECT_FALSE(fs::exists(m_client + "/Patch_7.cab.Folder/Files"));
}

// A disk that fills up while the package is unpacked fails the step with its message; the
// client's folder is not touched.
TEST_F(ExtractTest, FullDiskFailsTheUnpacking)
{
    UsePackage("Patch_7.cab");
    PutFile(m_target + "/x.dll", "old");
    WritePackage(m_downTemp + "/Patch_7.cab",
                 PackageFiles("Patch_7.cab", {{"x.dll", "\\"}, {"y.dll", "\\bin\\"}}));
    ASSERT_TRUE(faults::AddRules("_write:*:0:short"));
    EXPECT_EQ(m_dlg.ExtractPackage(), -1);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"解压下载的文件失败【" + g_strPackagePath +
                                                   "】,请确认下载的文件是否正确!"});
    EXPECT_EQ(ReadFile(m_target + "/x.dll"), "old");
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(m_target), {}), 1);
}

// The same as a whole run: the updater says why it stops, tells the waiting client, and
// leaves the client's folder as it was.
TEST(FullDiskRun, ReportsTheFailureAndLeavesTheClientAlone)
{
    UsePrivateRuntimeFolder();
    TempDir tmp;
    const std::string client = tmp / "Client";
    fs::create_directories(client + "/DownTemp");
    fs::copy_file(BinPath("Update"), client + "/Update");
    PutFile(client + "/Sub/Main.exe", "old main");
    WritePackage(client + "/DownTemp/Patch_7.cab",
                 PackageFiles("Patch_7.cab", {{"Main.exe", "\\"}, {"Plugin.dll", "\\bin\\"}}));

    ChildProcess window({BinPath("waitwnd"), "-t", "60", "3"});
    const std::string socket = RuntimeObjectPath("window", "WaitForUpdateResultWnd3");
    for (int waited = 0; waited < 10000 && !fs::exists(socket); waited += 10)
        Sleep(10);
    Sleep(100);  // from bound to listening
    ChildProcess update({client + "/Update", "^3^Game^Patch_7.cab^Sub^"},
                        {"KORVANE_UI=quiet", "KORVANE_FAULTS=_write:*:0:short"});
    EXPECT_EQ(update.Wait(60000), 0);
    EXPECT_EQ(window.Wait(10000), 1);
    EXPECT_EQ(window.Stdout(), "message=8071 wParam=-1 lParam=0\n");
    EXPECT_EQ(update.Stderr(), "Update: 解压下载的文件失败【" +
                                   Cp936ToUtf8(WinPath(client + "/DownTemp/Patch_7.cab")) +
                                   "】,请确认下载的文件是否正确!\n");
    EXPECT_EQ(ReadFile(client + "/Sub/Main.exe"), "old main");
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(client + "/Sub"), {}), 1);
    EXPECT_TRUE(fs::exists(client + "/DownTemp/Patch_7.cab"));
}

// The top folder is the first listed entry that does not begin with '.' and whose
// attributes are not exactly archive, or archive and read-only.
TEST_F(ExtractTest, ListingRules)
{
    struct Entry {
        const char* name;
        DWORD attributes;  // 0: a folder
    };
    struct Case {
        const char* why;
        std::vector<Entry> entries;
        const char* taken;  // null: none
    } cases[] = {
        {"archive files only", {{"a.txt", 32}, {"b.txt", 33}}, nullptr},
        {"hidden file listed first", {{"A.txt", 34}, {"Files", 0}}, "A.txt"},
        {"dot folder never", {{".git", 0}, {".x", 0}}, nullptr},
        {"dot folder before", {{".a", 0}, {"Files", 0}}, "Files"},
        {"first of two folders", {{"Files", 0}, {"Old", 0}}, "Files"},
        {"empty", {}, nullptr},
    };
    const std::string unpack = m_downTemp + "/Listing";
    g_strUnpackDir = WinPath(unpack);
    for (const Case& c : cases) {
        fs::remove_all(unpack);
        fs::create_directories(unpack);
        for (const Entry& e : c.entries) {
            if (e.attributes == 0)
                fs::create_directories(unpack + "/" + e.name);
            else
                PutFile(unpack + "/" + e.name, "x", e.attributes);
        }
        m_dlg.m_strExtractedDir.clear();
        EXPECT_EQ(m_dlg.LocateExtractedFolder(), c.taken ? 0 : 1) << c.why;
        if (c.taken) {
            EXPECT_EQ(m_dlg.m_strExtractedDir, g_strUnpackDir + "\\" + c.taken) << c.why;
        }
    }
    fs::remove_all(unpack);
    EXPECT_EQ(m_dlg.LocateExtractedFolder(), 1) << "no unpack folder";
}

}  // namespace
