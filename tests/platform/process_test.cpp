// Starting programs: argument splitting, current folder, detachment, .exe handling.
#include "platform/files.h"
#include "platform/process.h"
#include "platform/system.h"
#include "platform_fixture.h"

namespace {

using kvtest::Eventually;
using kvtest::PlatformTest;

// Writes its folder, arguments, standard input and output targets, session and pid.
constexpr const char* kRecorder =
    "#!/bin/sh\n"
    "in=$(readlink /proc/$$/fd/0); out=$(readlink /proc/$$/fd/1)\n"
    "{ pwd; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done; echo \"$in\"; echo \"$out\";\n"
    "  cut -d' ' -f6 /proc/$$/stat; echo $$; } > \"$KV_RECORD.part\" && mv \"$KV_RECORD.part\" \"$KV_RECORD\"\n";

class ProcessTest : public PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        ::setenv("KV_RECORD", Host("record").c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("KV_RECORD");
        PlatformTest::TearDown();
    }
    void MakeRecorder(const std::string& relative, mode_t mode = 0755) {
        WriteFile(Host(relative), kRecorder);
        ::chmod(Host(relative).c_str(), mode);
    }
    // The recorder's lines, once it has written them.
    std::vector<std::string> Record() {
        std::vector<std::string> lines;
        if (!Eventually([&] { return Exists(Host("record")); })) return lines;
        std::stringstream text(ReadFile(Host("record")));
        for (std::string line; std::getline(text, line);) lines.push_back(line);
        std::filesystem::remove(Host("record"));
        return lines;
    }
    static bool Started(win::HINSTANCE result) { return reinterpret_cast<intptr_t>(result) > 32; }
};

TEST_F(ProcessTest, ParametersAreSplitAsAWindowsCommandLine) {
    MakeRecorder("rec");
    struct Case {
        const char* parameters;
        std::vector<std::string> arguments;
    };
    const Case cases[] = {
        {" /s Plugin.dll", {"[/s]", "[Plugin.dll]"}},
        {" /Regserver", {"[/Regserver]"}},
        {"", {}},
        {"\"a b\"  c\t", {"[a b]", "[c]"}},
        {"a\\\"b", {"[a\"b]"}},              // escaped quote
        {"a\\\\\"b c\"", {"[a\\b c]"}},      // even backslashes before a quote: halved, quote groups
        {"a\\b\\\\c", {"[a\\b\\\\c]"}},      // backslashes elsewhere stay
        {"\"x\"\"y\" \"\"", {"[x\"y]", "[]"}},
        {"\xb0\xfc.cab", {"[\xe5\x8c\x85.cab]"}},  // converted to UTF-8
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parameters);
        ASSERT_TRUE(Started(win::ShellExecuteA(nullptr, nullptr, Win("rec").c_str(), c.parameters, nullptr, win::SW_HIDE)));
        std::vector<std::string> lines = Record();
        ASSERT_GE(lines.size(), 5u);
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end() - 4), c.arguments);
    }
}

TEST_F(ProcessTest, StartsDetachedInTheCurrentFolder) {
    MakeRecorder("bin/rec");
    std::filesystem::create_directory(Host("work"));
    ASSERT_EQ(win::_chdir(Win("work").c_str()), 0);
    win::SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = win::SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = "..\\bin\\rec";  // relative to the current folder
    info.lpParameters = "";
    info.nShow = win::SW_SHOW;
    ASSERT_TRUE(win::ShellExecuteExA(&info));
    EXPECT_NE(info.hProcess, nullptr);
    EXPECT_TRUE(win::CloseHandle(info.hProcess));
    std::vector<std::string> lines = Record();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], Host("work"));
    EXPECT_EQ(lines[1], "/dev/null");
    EXPECT_EQ(lines[2], "/dev/null");
    EXPECT_NE(std::stoi(lines[3]), ::getsid(0));  // a session of its own

    auto started = win::faults::StartedPrograms();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].file, "..\\bin\\rec");
    EXPECT_EQ(started[0].currentFolder, Win("work"));
    EXPECT_EQ(started[0].showCommand, win::SW_SHOW);

    ASSERT_TRUE(Started(win::ShellExecuteA(nullptr, "open", Win("bin/rec").c_str(), nullptr, Win("bin").c_str(), 0)));
    lines = Record();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], Host("bin"));  // the folder given wins
}

TEST_F(ProcessTest, ExeFilesRunWithoutTheirExecuteBit) {
    MakeRecorder("Server.EXE", 0644);
    ASSERT_TRUE(Started(win::ShellExecuteA(nullptr, nullptr, Win("server.exe").c_str(), " /Regserver", nullptr, 0)));
    std::vector<std::string> lines = Record();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], "[/Regserver]");
    EXPECT_NE(Mode(Host("Server.EXE")) & S_IXUSR, 0u);

    MakeRecorder("plain", 0644);  // any other name needs its execute bit
    EXPECT_FALSE(Started(win::ShellExecuteA(nullptr, nullptr, Win("plain").c_str(), "", nullptr, 0)));
}

TEST_F(ProcessTest, MissingProgramsFailQuietly) {
    ASSERT_EQ(win::_chdir(Win().c_str()), 0);
    for (const char* file : {"Korvane.exe", "sh", "no\\such\\tool.exe"}) {  // never the search path
        SCOPED_TRACE(file);
        EXPECT_EQ(reinterpret_cast<intptr_t>(win::ShellExecuteA(nullptr, nullptr, file, "", nullptr, win::SW_SHOW)),
                  static_cast<intptr_t>(win::ERROR_FILE_NOT_FOUND));
    }
    win::SHELLEXECUTEINFOA info{};
    info.lpFile = "Korvane.exe";
    info.fMask = win::SEE_MASK_NOCLOSEPROCESS;
    EXPECT_FALSE(win::ShellExecuteExA(&info));
    EXPECT_EQ(info.hProcess, nullptr);
    EXPECT_EQ(win::faults::StartedPrograms().size(), 4u);  // attempts are recorded too
}

}  // namespace
