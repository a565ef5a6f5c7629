// The '^' fields of the command line, field 0 as a number, the module-wide values derived
// from them, and the refusal of command lines that cannot drive an update.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/UpdateApp.h"
#include "platform/faults.h"
#include "support/RecordingBackend.h"

namespace {

std::vector<std::string> Fields(const std::string& commandLine)
{
    const CommandFields fields = CutCommandFields(commandLine.c_str());
    return std::vector<std::string>(fields.szField, fields.szField + fields.nCount);
}

using V = std::vector<std::string>;

TEST(CommandLineTest, CutsFieldsBetweenCarets)
{
    const std::pair<const char*, V> cases[] = {
        {"C:\\Client\\Update.exe ^5^Game^pkg.cab^Sub^", {"5", "Game", "pkg.cab", "Sub"}},
        {"Update ^-1^Game^pkg.cab^", {"-1", "Game", "pkg.cab"}},
        {"Update ^1^2^3^4^5^6^", {"1", "2", "3", "4"}},        // a fifth field is ignored
        {"Update ^1^2^ trailing words", {"1", "2"}},          // so is an unterminated rest
        {"Update words ^a b^c^", {"a b", "c"}},                // text before the first '^' too
        {"Update ^^abc^", {"^abc", "abc"}},                    // an empty field absorbs the next
        {"Update ^5^Game^^Sub^", {"5", "Game", "^Sub", "Sub"}},
        {"Update", {}},
        {"Update ^", {}},
        {"Update ^x", {}},
        {"", {}},
    };
    for (const auto& [line, expected] : cases)
        EXPECT_EQ(Fields(line), expected) << line;
}

TEST(CommandLineTest, FieldsOfMoreThan259CharactersAreFlagged)
{
    const std::string fit(259, 'a'), over(260, 'b');
    const CommandFields fields = CutCommandFields(("x ^" + fit + "^" + over + "^c^").c_str());
    ASSERT_EQ(fields.nCount, 3);
    EXPECT_FALSE(fields.bTooLong[0]);
    EXPECT_EQ(std::string(fields.szField[0]), fit);
    EXPECT_TRUE(fields.bTooLong[1]);
    EXPECT_EQ(std::string(fields.szField[1]), over.substr(0, 259));
    EXPECT_FALSE(fields.bTooLong[2]);
}

TEST(CommandLineTest, FieldZeroReadsAsAtoiReadsIt)
{
    const std::pair<const char*, int> cases[] = {
        {"7", 7},     {"+7", 7},   {" 7x", 7},  {"\t-1", -1}, {"x7", 0},
        {"", 0},      {"-", 0},    {"- 1", 0},  {"-5", -5},   {"0012", 12},
        {"99999999999", 2147483647}, {"-99999999999", -2147483647 - 1},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(ReadFieldNumber(text), value) << '"' << text << '"';
}

class ApplyFieldsTest : public ::testing::Test {
protected:
    ApplyFieldsTest()
    {
        win::faults::Reset();
        win::faults::OverrideModuleFileName("C:\\Client\\Update.exe");
        g_nWaitWnd = 12345;
        g_strAppName = g_strPackagePath = g_strTargetDir = "unset";
    }
    ~ApplyFieldsTest() override { win::faults::Reset(); }

    bool Apply(const std::string& commandLine)
    {
        return ApplyCommandFields(CutCommandFields(commandLine.c_str()));
    }

    CUpdateApp app;
    ScopedRecordingBackend ui;
};

TEST_F(ApplyFieldsTest, AutomaticModeUpdatesTheNamedSubfolder)
{
    ASSERT_TRUE(Apply("C:\\Client\\Update.exe ^5^Game^pkg.cab^Sub^"));
    EXPECT_EQ(g_nWaitWnd, 5);
    EXPECT_EQ(g_strAppName, "Game");
    EXPECT_EQ(g_strPackagePath, "C:\\Client\\DownTemp\\pkg.cab");
    EXPECT_EQ(g_strTargetDir, "C:\\Client\\Sub\\");
    EXPECT_TRUE(ui->boxes.empty());

    ASSERT_TRUE(Apply("C:\\Client\\Update.exe ^5^Game^pkg.cab^Games\\Main^"));
    EXPECT_EQ(g_strTargetDir, "C:\\Client\\Games\\Main\\");
}

TEST_F(ApplyFieldsTest, InteractiveModeUpdatesTheModuleFolder)
{
    const std::string longIgnored(300, 'z');  // field 3 is not used in this mode
    for (const std::string& tail : V{"", "Sub^", longIgnored + "^"}) {
        ASSERT_TRUE(Apply("Update ^-1^Game^pkg.cab^" + tail));
        EXPECT_EQ(g_nWaitWnd, -1);
        EXPECT_EQ(g_strPackagePath, "C:\\Client\\DownTemp\\pkg.cab");
        EXPECT_EQ(g_strTargetDir, "C:\\Client\\");
    }
    EXPECT_TRUE(ui->boxes.empty());
}

TEST_F(ApplyFieldsTest, NonNumericFieldZeroSelectsWindowZero)
{
    ASSERT_TRUE(Apply("Update ^x7^Game^pkg.cab^Sub^"));
    EXPECT_EQ(g_nWaitWnd, 0);
}

TEST_F(ApplyFieldsTest, UnusableCommandLinesAreRefusedWithAReason)
{
    const std::string over(260, 'p');
    const std::pair<std::string, const char*> cases[] = {
        {"Update", "升级参数不完整,无法进行升级!"},
        {"Update ^5^Game^pkg.cab^", "升级参数不完整,无法进行升级!"},
        {"Update ^-1^Game^", "升级参数不完整,无法进行升级!"},
        {"Update ^5^Game^" + over + "^Sub^", "升级参数过长,无法进行升级!"},
        {"Update ^-1^" + over + "^pkg.cab^", "升级参数过长,无法进行升级!"},
        {"Update ^5^Game^pkg.cab^" + over + "^", "升级参数过长,无法进行升级!"},
        {"Update ^5^Game^pkg.cab^..^", "升级参数有误,无法进行升级!"},
        {"Update ^5^Game^pkg.cab^Sub\\..\\..\\Other^", "升级参数有误,无法进行升级!"},
        {"Update ^5^Game^pkg.cab^\\Windows^", "升级参数有误,无法进行升级!"},
        {"Update ^5^Game^pkg.cab^D:Games^", "升级参数有误,无法进行升级!"},
    };
    for (const auto& [line, text] : cases) {
        SCOPED_TRACE(line.substr(0, 40));
        ui->boxes.clear();
        EXPECT_FALSE(Apply(line));
        ASSERT_EQ(ui->boxes.size(), 1u);
        EXPECT_EQ(ui->boxes[0].text, text);
        EXPECT_EQ(ui->boxes[0].title, "Update");
        EXPECT_EQ(g_strTargetDir, "unset");  // nothing is half set
        EXPECT_EQ(g_nWaitWnd, 12345);
    }
}

}  // namespace
