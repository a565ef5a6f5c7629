// Reading the update manifest into the file tables.
#include <algorithm>
#include <filesystem>
#include <string>

#include "app/UpdateFiles.h"
#include "platform/win.h"
#include "support/StepFixture.h"

namespace {

using ManifestTest = StepTest;

TEST_F(ManifestTest, FillsBothTablesInSectionOrder)
{
    Unpacked({{"Main.exe", "\\"}, {"Plugin.dll", "\\bin\\"}, {"Tool.exe", "\\"}});
    // Sections out of order and a missing RegFlag; entry i belongs to File(i+1).
    WriteManifest("[File2]\nFileName=Plugin.dll\nFilePath=\\bin\\\nRegFlag=7\n"
                  "[VerInfo]\nUpdateFileNum=3\n"
                  "[File3]\nFilePath=\\\nFileName=Tool.exe\n"
                  "[File1]\nFileName=Main.exe\nFilePath=\\\nRegFlag=0\n");

    ASSERT_EQ(m_dlg.ReadManifest(), 0);
    EXPECT_TRUE(m_ui->boxes.empty());
    ASSERT_EQ(m_dlg.m_nFileCount, 3);

    const std::string source = WinPath(m_extracted);
    const std::string target = WinPath(m_target);
    const std::string stamp = std::to_string(static_cast<unsigned>(m_dlg.m_tStart));
    struct {
        const char* name;
        const char* path;
        int regFlag;
    } expected[] = {{"Main.exe", "\\", 0}, {"Plugin.dll", "\\bin\\", 7}, {"Tool.exe", "\\", 0}};
    for (int i = 0; i < 3; ++i) {
        const UpdateFileEntry& s = g_SourceFiles[i];
        const UpdateFileEntry& t = g_TargetFiles[i];
        const std::string relative = std::string(expected[i].path) + expected[i].name;
        EXPECT_STREQ(s.FileName, expected[i].name);
        EXPECT_STREQ(s.FilePath, expected[i].path);
        EXPECT_EQ(s.RegFlag, expected[i].regFlag);
        EXPECT_EQ(t.RegFlag, expected[i].regFlag);
        EXPECT_EQ(s.FullPath, source + relative);
        EXPECT_EQ(t.FullPath, target + relative);
        EXPECT_EQ(t.BackupPath, target + relative + stamp);
    }
}

TEST_F(ManifestTest, UnreadableManifestGivesOneWithoutMessage)
{
    Unpacked({{"a.dll", "\\"}});
    m_dlg.m_strManifestPath += "x";
    EXPECT_EQ(m_dlg.ReadManifest(), 1);
    EXPECT_TRUE(m_ui->boxes.empty());
}

// A manifest far larger than the format needs counts as unreadable, whatever it holds; up
// to 4 MB it is read.
TEST_F(ManifestTest, OversizedManifestCountsAsUnreadable)
{
    Unpacked({{"a.dll", "\\"}});
    const std::string text = ManifestText({{"a.dll", "\\"}}) + "[Notes]\r\n";
    const std::string filler = "; " + std::string(1022, '.') + "\r\n";
    std::string large = text;
    while (large.size() + filler.size() <= (4u << 20))
        large += filler;
    WriteManifest(large);
    EXPECT_EQ(m_dlg.ReadManifest(), 0);
    WriteManifest(large + filler);
    EXPECT_EQ(m_dlg.ReadManifest(), 1);
    EXPECT_TRUE(m_ui->boxes.empty());
}

TEST_F(ManifestTest, RefusesBadCountWithoutMessage)
{
    Unpacked({{"a.dll", "\\"}});
    for (const char* count : {"0", "abc", "-2", "1025", static_cast<const char*>(nullptr)}) {
        std::string text = "[File1]\nFileName=a.dll\nFilePath=\\\n[VerInfo]\n";
        if (count)
            text += std::string("UpdateFileNum=") + count + "\n";
        WriteManifest(text);
        g_SourceFiles[0].FileName[0] = 0;
        EXPECT_EQ(m_dlg.ReadManifest(), -1) << (count ? count : "missing");
        EXPECT_STREQ(g_SourceFiles[0].FileName, "") << "tables written for a refused count";
    }
    EXPECT_TRUE(m_ui->boxes.empty());
}

TEST_F(ManifestTest, MissingNewFileNamesItsFullPath)
{
    Unpacked({{"a.dll", "\\"}, {"b.dll", "\\bin\\"}, {"c.dll", "\\"}});
    std::filesystem::remove(m_extracted + "/bin/b.dll");
    std::filesystem::remove(m_extracted + "/c.dll");
    EXPECT_EQ(m_dlg.ReadManifest(), -1);
    const std::string missing = WinPath(m_extracted) + "\\bin\\b.dll";
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"下载文件有误:文件" + missing + "不存在!"});
}

// Entries that would write outside the target folder, name a folder, overflow the path
// fields or replace the same file twice are refused before anything is touched.
TEST_F(ManifestTest, RefusesUnsafeEntries)
{
    const std::string longName(250, 'x');
    struct Case {
        const char* why;
        std::vector<ManifestEntry> entries;
        std::string shown;  // the entry as the message shows it
    } cases[] = {
        {"empty file name", {{"", "\\bin\\"}}, "\\bin\\"},
        {"empty folder", {{"x.dll", ""}}, "x.dll"},
        {"folder without leading separator", {{"x.dll", "bin\\"}}, "bin\\x.dll"},
        {"parent folder", {{"x.dll", "\\..\\"}}, "\\..\\x.dll"},
        {"parent folder in name", {{"..\\x.dll", "\\"}}, "\\..\\x.dll"},
        {"dots that Windows shortens", {{"x.dll", "\\bin\\.. \\"}}, "\\bin\\.. \\x.dll"},
        {"drive", {{"x.dll", "\\C:\\"}}, "\\C:\\x.dll"},
        {"name ending in a separator", {{"sub\\", "\\"}}, "\\sub\\"},
        {"too long", {{longName + ".dll", "\\bin\\"}}, "\\bin\\" + longName + ".dll"},
        {"same target", {{"a.dll", "\\bin\\"}, {"A.DLL", "\\Bin\\"}}, "\\Bin\\A.DLL"},
        {"same target after trailing dot", {{"a.dll", "\\"}, {"a.dll.", "/"}}, "/a.dll."},
        {"control character", {{"x\x01.dll", "\\"}}, "\\x\x01.dll"},
        {"character Windows refuses", {{"x|y.dll", "\\bin\\"}}, "\\bin\\x|y.dll"},
        {"wildcard", {{"x*.dll", "\\"}}, "\\x*.dll"},
        {"trailing dot", {{"x.dll.", "\\"}}, "\\x.dll."},
        {"trailing blank in folder", {{"x.dll", "\\bin \\"}}, "\\bin \\x.dll"},
        {"device name", {{"nul.dll", "\\"}}, "\\nul.dll"},
        {"device folder", {{"x.dll", "\\COM1\\"}}, "\\COM1\\x.dll"},
    };
    for (const Case& c : cases) {
        m_ui->boxes.clear();
        Unpacked(c.entries);
        EXPECT_EQ(m_dlg.ReadManifest(), -1) << c.why;
        const std::string section = "File" + std::to_string(c.entries.size());
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{"下载文件有误:" + section + "中的文件" +
                                                       c.shown + "无效!"})
            << c.why;
    }
}

TEST_F(ManifestTest, AcceptsNameWithSubFoldersBelowTarget)
{
    Unpacked({{"data\\x.dat", "\\bin\\"}, {"x.dat", "\\bin\\"}});
    ASSERT_EQ(m_dlg.ReadManifest(), 0);
    EXPECT_EQ(std::string(g_TargetFiles[0].FullPath), WinPath(m_target) + "\\bin\\data\\x.dat");
}

// Chinese names in code page 936, one with a trail byte 0x7C ('|' on its own).
TEST_F(ManifestTest, AcceptsChineseNames)
{
    const std::vector<ManifestEntry> entries{{"\xB8\xFC\xD0\xC2.dll", "\\\xCE\xC4\xBC\xFE\\"},
                                             {"\x81\x7C.dat", "\\"}};
    Unpacked(entries);
    for (const ManifestEntry& e : entries) {
        std::string host = win::Cp936ToUtf8(e.filePath + e.fileName);
        std::replace(host.begin(), host.end(), '\\', '/');
        PutFile(m_extracted + host, "new");
    }
    ASSERT_EQ(m_dlg.ReadManifest(), 0);
    EXPECT_TRUE(m_ui->boxes.empty());
    EXPECT_EQ(std::string(g_TargetFiles[0].FullPath),
              WinPath(m_target) + "\\\xCE\xC4\xBC\xFE\\\xB8\xFC\xD0\xC2.dll");
}

}  // namespace
