// Command line, own location, system folder, environment, clock and socket start-up.
#include <cstdlib>
#include <cstring>

#include "platform/system.h"
#include "platform_fixture.h"

namespace {

using kvtest::Child;
using kvtest::PlatformTest;

// Run as a child with this variable set, the test program prints its command line.
const bool kPrintsCommandLine = [] {
    if (std::getenv("KV_PRINT_COMMAND_LINE")) {
        std::fputs(win::GetCommandLineA(), stdout);
        std::fflush(stdout);
        std::_Exit(0);
    }
    return false;
}();

std::string SelfPath() {
    char path[4096];
    ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return std::string(path, length > 0 ? length : 0);
}

class SystemTest : public PlatformTest {};

TEST_F(SystemTest, CommandLineIsArgvJoinedInCodePage936) {
    Child self({SelfPath(), "^3^Game^\xe5\x8c\x85.cab^Sub^", "two  blanks", "\"q\""}, {"KV_PRINT_COMMAND_LINE=1"});
    EXPECT_EQ(self.ReadAll(), SelfPath() +
                                  " ^3^Game^\xb0\xfc.cab^Sub^ two  blanks \"q\"");
    EXPECT_EQ(kvtest::ExitCode(self.Wait()), 0);

    win::faults::OverrideCommandLine("Update ^-1^Game^p.cab^");
    EXPECT_STREQ(win::GetCommandLineA(), "Update ^-1^Game^p.cab^");
}

TEST_F(SystemTest, ModuleFileNameIsTheExecutableInWindowsForm) {
    char buffer[win::MAX_PATH];
    std::string expected = win::FromHostPath(SelfPath());
    ASSERT_EQ(win::GetModuleFileNameA(nullptr, buffer, sizeof buffer), expected.size());
    EXPECT_EQ(buffer, expected);
    EXPECT_EQ(buffer[0], '\\');

    EXPECT_EQ(win::GetModuleFileNameA(nullptr, buffer, 5), 5u);  // cut short, terminated
    EXPECT_EQ(std::string(buffer), expected.substr(0, 4));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);

    win::faults::OverrideModuleFileName("\\opt\\korvane\\Update");
    unsigned long before = win::faults::Calls("GetModuleFileNameA");
    EXPECT_EQ(win::GetModuleFileNameA(nullptr, buffer, sizeof buffer), 19u);
    EXPECT_STREQ(buffer, "\\opt\\korvane\\Update");
    EXPECT_EQ(win::faults::Calls("GetModuleFileNameA"), before + 1);
}

TEST_F(SystemTest, SystemFolderComesFromTheEnvironment) {
    char buffer[win::MAX_PATH];
    ::setenv("KORVANE_SYSTEM_DIR", (Host("sys") + "/").c_str(), 1);
    EXPECT_EQ(win::GetSystemDirectoryA(buffer, sizeof buffer), Win("sys").size());
    EXPECT_EQ(buffer, Win("sys"));
    EXPECT_EQ(win::GetSystemDirectoryA(buffer, 3), Win("sys").size() + 1);
    ::unsetenv("KORVANE_SYSTEM_DIR");
    win::GetSystemDirectoryA(buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "\\usr\\lib\\korvane\\system");
}

TEST_F(SystemTest, EnvironmentClockAndSockets) {
    char buffer[16];
    ::setenv("KV_VALUE", "\xe4\xb8\xad", 1);
    EXPECT_EQ(win::GetEnvironmentVariableA("KV_VALUE", buffer, sizeof buffer), 2u);
    EXPECT_STREQ(buffer, "\xd6\xd0");
    EXPECT_EQ(win::GetEnvironmentVariableA("KV_VALUE", buffer, 2), 3u);
    EXPECT_EQ(win::GetEnvironmentVariableA("KV_UNSET_VALUE", buffer, sizeof buffer), 0u);

    std::time_t now = std::time(nullptr);
    std::time_t reported = 0;
    EXPECT_GE(win::time(&reported), now);
    EXPECT_LE(reported - now, 2);

    static unsigned slept = 0;
    win::host::Ops recording = win::host::Posix();
    recording.sleepMs = [](unsigned milliseconds) { slept += milliseconds; };
    win::host::Install(&recording);
    win::Sleep(500);
    EXPECT_EQ(slept, 500u);

    EXPECT_TRUE(win::AfxSocketInit());
    ASSERT_TRUE(win::faults::AddRules("AfxSocketInit:*:1"));
    EXPECT_FALSE(win::AfxSocketInit());
    EXPECT_TRUE(win::AfxSocketInit());
}

}  // namespace
