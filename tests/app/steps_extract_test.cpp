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
