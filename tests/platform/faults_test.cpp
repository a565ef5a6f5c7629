// Fault rules: their text form, which call they hit, process exit, forced step results.
#include <cstdlib>

#include "platform/files.h"
#include "platform/system.h"
#include "platform_fixture.h"

namespace {

using kvtest::Child;
using kvtest::PlatformTest;

class FaultsTest : public PlatformTest {
protected:
    std::string MakeFile(const std::string& relative) {
        WriteFile(Host(relative), "x");
        return Win(relative);
    }
};

TEST_F(FaultsTest, RuleTextIsCheckedWhole) {
    struct Case {
        const char* text;
        bool valid;
    };
    const Case cases[] = {
        {"MoveFileA:*Main.exe:1", true},
        {"any:*:37:exit", true},
        {"_write:*:1:short", true},
        {"CopyFileA:C:\\*:*:fail", true},  // a glob may hold colons
        {" step:ExtractPackage:-1 ; _open:*:0 ;", true},
        {"", true},
        {"MoveFileA:*", false},
        {"MoveFileA:*:x", false},
        {"MoveFileA:*:-1", false},
        {"step:Name", false},
        {"step:Name:one", false},
        {"_open:*:1; bad", false},
    };
    for (const Case& c : cases) EXPECT_EQ(win::faults::AddRules(c.text), c.valid) << c.text;
}

TEST_F(FaultsTest, TheNthMatchingCallFails) {
    std::string main = MakeFile("Main.exe"), other = MakeFile("Other.dll");
    ASSERT_TRUE(win::faults::AddRules("MoveFileA:*Main.exe:2"));
    EXPECT_TRUE(win::MoveFileA(other.c_str(), Win("o1").c_str()));  // does not match, not counted
    EXPECT_TRUE(win::MoveFileA(main.c_str(), Win("m1").c_str()));   // first match
    EXPECT_FALSE(win::MoveFileA(Win("m1").c_str(), main.c_str()));  // second: the destination matches
    EXPECT_EQ(win::GetLastError(), win::ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Exists(Host("m1")));
    EXPECT_TRUE(win::MoveFileA(Win("m1").c_str(), Win("MAIN.EXE").c_str()));  // third; case ignored in globs
    EXPECT_EQ(win::faults::Calls("MoveFileA"), 4u);
}

TEST_F(FaultsTest, EveryCallOrAnyOperation) {
    std::string file = MakeFile("f");
    ASSERT_TRUE(win::faults::AddRules("GetFileAttributesA:*:*"));
    EXPECT_EQ(win::GetFileAttributesA(file.c_str()), win::INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(win::GetFileAttributesA(file.c_str()), win::INVALID_FILE_ATTRIBUTES);

    win::faults::Reset();
    ASSERT_TRUE(win::faults::AddRules("any:*:3"));
    EXPECT_EQ(win::_access(file.c_str(), 0), 0);
    EXPECT_NE(win::GetFileAttributesA(file.c_str()), win::INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(win::_open(file.c_str(), win::_O_RDONLY), -1);  // the third call of any kind
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(win::_access(file.c_str(), 0), 0);
    EXPECT_EQ(win::faults::Calls("any"), 4u);
}

// "short" acts as a full disk: writes store half of what they are asked, anything else fails.
TEST_F(FaultsTest, ShortActsAsAFullDisk) {
    ASSERT_TRUE(win::faults::AddRules("_write:*:2:short;fwrite:*:1:short;CopyFileA:*:1:short"));
    const int fd = win::_open(Win("w").c_str(), win::_O_WRONLY | win::_O_CREAT, win::_S_IWRITE);
    ASSERT_NE(fd, -1);
    EXPECT_EQ(win::_write(fd, "abcd", 4), 4);
    EXPECT_EQ(win::_write(fd, "efgh", 4), 2);
    EXPECT_EQ(win::GetLastError(), win::ERROR_DISK_FULL);
    EXPECT_EQ(win::_write(fd, "ij", 2), 2);  // only the second call was cut short
    win::_close(fd);
    EXPECT_EQ(ReadFile(Host("w")), "abcdefij");

    FILE* stream = win::fopen(Win("s").c_str(), "wb");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(win::fwrite("123456", 1, 6, stream), 3u);
    win::fclose(stream);
    EXPECT_EQ(ReadFile(Host("s")), "123");

    EXPECT_FALSE(win::CopyFileA(Win("w").c_str(), Win("copy").c_str(), win::FALSE));
    EXPECT_EQ(win::GetLastError(), win::ERROR_DISK_FULL);
    EXPECT_EQ(errno, ENOSPC);
}

TEST_F(FaultsTest, RulesReachOtherProcessesThroughTheEnvironment) {
    struct Case {
        const char* rules;
        bool killed;
    };
    const Case cases[] = {
        {"CreateWindowExA:WaitForUpdateResultWnd1:1:exit", true},
        {"any:*:1:exit", true},
        {"CreateWindowExA:Other*:1:exit", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rules);
        Child waitwnd({kvtest::BinPath("waitwnd"), "-t", "0", "1"}, {std::string("KORVANE_FAULTS=") + c.rules});
        int status = waitwnd.Wait();
        EXPECT_EQ(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL, c.killed);
        if (!c.killed) {
            EXPECT_EQ(kvtest::ExitCode(status), 2);
        }
    }
}

TEST_F(FaultsTest, ForcedResultsAndResetReadTheEnvironment) {
    int result = 0;
    EXPECT_FALSE(win::faults::ForcedResult("ReadManifest", &result));
    ::setenv("KORVANE_FAULTS", "step:ReadManifest:-1;step:ReplaceFiles:1", 1);
    win::faults::Reset();
    EXPECT_TRUE(win::faults::ForcedResult("ReadManifest", &result));
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(win::faults::ForcedResult("ReplaceFiles", &result));
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(win::faults::ForcedResult("BackupTargets", &result));

    ::setenv("KORVANE_FAULTS", "step:ReadManifest:-1;nonsense", 1);  // malformed: ignored whole
    win::faults::Reset();
    EXPECT_FALSE(win::faults::ForcedResult("ReadManifest", &result));
    ::unsetenv("KORVANE_FAULTS");

    win::faults::AddRules("step:ExtractPackage:1");
    EXPECT_TRUE(win::faults::ForcedResult("ExtractPackage", &result));
    win::faults::Reset();
    EXPECT_FALSE(win::faults::ForcedResult("ExtractPackage", &result));
}

}  // namespace
