// Windows paths on the host: code page, separators, name rules, case-insensitive lookup.
#include "platform/codepage.h"
#include "platform/names.h"
#include "platform/paths.h"
#include "platform_fixture.h"

namespace {

using kvtest::PlatformTest;

class PathsTest : public PlatformTest {};

TEST_F(PathsTest, MapsWindowsPathsToHostPaths) {
    WriteFile(Host("Game/Main.exe"), "x");
    struct Case {
        std::string winRelative;  // appended to the scratch folder's Windows path
        std::string expected;     // relative to the scratch folder; empty: refused
        win::DWORD error;
    };
    const Case cases[] = {
        {"\\Game\\Main.exe", "Game/Main.exe", 0},
        {"\\game\\MAIN.EXE", "Game/Main.exe", 0},       // existing spelling wins
        {"/Game/main.exe", "Game/Main.exe", 0},         // '/' is a separator too
        {"\\GAME\\New.txt", "Game/New.txt", 0},         // a new name keeps its spelling
        {"\\Game\\Main.exe.", "Game/Main.exe", 0},      // trailing dots and blanks dropped
        {"\\Game\\Main.exe . ", "Game/Main.exe", 0},
        {"\\Game\\\\Main.exe", "Game/Main.exe", 0},     // doubled separators
        {"\\Game\\", "Game", 0},
        {"\\\x81\x5c.txt", "\xe4\xb9\x97.txt", 0},      // trail byte 0x5C is not a separator
        {"\\\xd6\xd0\xce\xc4\\a", "\xe4\xb8\xad\xe6\x96\x87/a", 0},
        {"\\a<b", "", win::ERROR_INVALID_NAME},
        {"\\a>b", "", win::ERROR_INVALID_NAME},
        {"\\a:b", "", win::ERROR_INVALID_NAME},
        {"\\a\"b", "", win::ERROR_INVALID_NAME},
        {"\\a|b", "", win::ERROR_INVALID_NAME},
        {"\\a?b", "", win::ERROR_INVALID_NAME},
        {"\\a*b\\c", "", win::ERROR_INVALID_NAME},
        {"\\a\x01" "b", "", win::ERROR_INVALID_NAME},
        {"\\a\xff", "", win::ERROR_INVALID_NAME},       // does not convert exactly
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.winRelative);
        std::string host;
        win::DWORD error = win::ToHostPath((Win() + c.winRelative).c_str(), &host);
        EXPECT_EQ(error, c.error);
        if (c.error == 0) {
            EXPECT_EQ(host, Host(c.expected));
        }
    }
}

TEST_F(PathsTest, LengthDriveAndWildcards) {
    std::string host;
    std::string longest = Win() + "\\" + std::string(259 - Win().size() - 1, 'a');
    EXPECT_EQ(win::ToHostPath(longest.c_str(), &host), 0u);
    EXPECT_EQ(win::ToHostPath((longest + "a").c_str(), &host), win::ERROR_FILENAME_EXCED_RANGE);
    EXPECT_EQ(win::ToHostPath("", &host), win::ERROR_PATH_NOT_FOUND);

    ASSERT_EQ(win::ToHostPath(("C:" + Win() + "\\x").c_str(), &host), 0u);
    EXPECT_EQ(host, Host("x"));

    EXPECT_EQ(win::ToHostPath((Win() + "\\*.txt").c_str(), &host), win::ERROR_INVALID_NAME);
    ASSERT_EQ(win::ToHostPath((Win() + "\\*.txt").c_str(), &host, true), 0u);
    EXPECT_EQ(host, Host("*.txt"));
    EXPECT_EQ(win::ToHostPath((Win() + "\\*\\a").c_str(), &host, true), win::ERROR_INVALID_NAME);
}

TEST_F(PathsTest, HostPathsMapBack) {
    EXPECT_EQ(win::FromHostPath("/opt/korvane/Update"), "\\opt\\korvane\\Update");
    EXPECT_EQ(win::FromHostPath("/\xe4\xb8\xad\xe6\x96\x87/a"), "\\\xd6\xd0\xce\xc4\\a");
    EXPECT_EQ(win::FromHostPath("rel/x"), "rel\\x");
}

TEST(CodePage, ConvertsBothWays) {
    struct Case {
        std::string cp936, utf8;
        bool exact;
    };
    const Case toUtf8[] = {
        {"plain ASCII", "plain ASCII", true},
        {"\xc9\xfd\xbc\xb6 ok", "\xe5\x8d\x87\xe7\xba\xa7 ok", true},
        {"a\xff" "b", "a\xef\xbf\xbd" "b", false},  // not a character: replaced, not dropped
        {"end\xd6", "end\xef\xbf\xbd", false},       // lead byte cut off
    };
    for (const Case& c : toUtf8) {
        SCOPED_TRACE(c.cp936);
        EXPECT_EQ(win::Cp936ToUtf8(c.cp936), c.utf8);
        std::string out;
        EXPECT_EQ(win::Cp936ToUtf8Exact(c.cp936, &out), c.exact);
    }
    const Case toCp936[] = {
        {"\xd6\xd0\xce\xc4", "\xe4\xb8\xad\xe6\x96\x87", true},
        {"a?b", "a\xf0\x9f\x98\x80" "b", false},  // no such character in code page 936
    };
    for (const Case& c : toCp936) {
        SCOPED_TRACE(c.cp936);
        EXPECT_EQ(win::Utf8ToCp936(c.utf8), c.cp936);
        std::string out;
        EXPECT_EQ(win::Utf8ToCp936Exact(c.utf8, &out), c.exact);
    }
    EXPECT_TRUE(win::IsDBCSLeadByte(0x81));
    EXPECT_TRUE(win::IsDBCSLeadByte(0xFE));
    EXPECT_FALSE(win::IsDBCSLeadByte(0x80));
    EXPECT_FALSE(win::IsDBCSLeadByte(0xFF));
}

TEST(Names, WildcardsMatchAsOnWindows) {
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    };
    const Case cases[] = {
        {"*.*", "Main.exe", true},   {"*.*", "README", true},  {"*", "a.b.c", true},
        {"*.exe", "MAIN.EXE", true}, {"*.exe", "main.ex", false}, {"Main.*", "main", true},
        {"?ain.exe", "Main.exe", true}, {"?.txt", "\xe4\xb8\xad.txt", true},  // '?' is one character
        {"a*b*c", "axxbyyc", true},  {"a*b*c", "axxbyy", false}, {"Main.exe", "main.EXE", true},
        {"Main.exe", "Main.exe1", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(win::WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " vs " << c.name;
}

TEST(Names, KeysCompareWithoutCase) {
    EXPECT_EQ(win::NameKey("main.exe"), win::NameKey("MAIN.EXE"));
    EXPECT_EQ(win::NameKey("\xc3\xa9t\xc3\xa9"), win::NameKey("\xc3\x89T\xc3\x89"));  // beyond ASCII
    EXPECT_NE(win::NameKey("a"), win::NameKey("b"));
}

TEST_F(PathsTest, RuntimeFolderIsPrivate) {
    std::string folder = win::RuntimeFolder();
    EXPECT_EQ(folder, Host("run/korvane"));
    EXPECT_EQ(Mode(folder), 0700u);
    EXPECT_EQ(win::RuntimeObjectPath("mutex", "Korvane.Update"), folder + "/mutex.Korvane.Update");
    EXPECT_EQ(win::RuntimeObjectPath("window", "a/b c%"), folder + "/window.a%2Fb%20c%25");

    ::unsetenv("XDG_RUNTIME_DIR");
    std::string fallback = "/tmp/korvane-" + std::to_string(::getuid());
    EXPECT_EQ(win::RuntimeFolder(), fallback);
    EXPECT_EQ(Mode(fallback) & 077, 0u);
}

}  // namespace
