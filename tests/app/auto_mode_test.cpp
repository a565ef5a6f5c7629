// The updater as a real process in automatic mode, reporting to a real waitwnd; and the
// promise that without terminal, display or waiting window it ends by itself in every mode.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/window.h"
#include "support/ForcedSteps.h"
#include "support/ChildProcess.h"

namespace {

int WindowNumber(int i)
{
    return int(getpid() % 100000) * 10 + i;
}

bool WindowOpens(int number)
{
    const std::string title = "WaitForUpdateResultWnd" + std::to_string(number);
    for (int i = 0; i < 2000; ++i) {
        if (win::FindWindowA(nullptr, title.c_str()))
            return true;
        usleep(10000);
    }
    return false;
}

class AutoModeTest : public ::testing::Test {
protected:
    AutoModeTest() { UsePrivateRuntimeFolder(); }
};

TEST_F(AutoModeTest, WaitingWindowReceivesTheResult)
{
    const std::string tooLong(260, 'p');
    struct Case {
        const char* name;
        int number;
        std::string fieldsAfterNumber;
        const char* faults;
        const char* wParam;
        const char* box;  // expected on standard error, "" for none
    };
    const Case cases[] = {
        {"success", WindowNumber(1), "^Game^Patch_7.cab^Sub^", "", "0", ""},
        {"no package folder", WindowNumber(2), "^Game^Patch_7.cab^Sub^",
         "step:LocateExtractedFolder:1", "1", "Update: 下载的文件有误!\n"},
        {"extraction fails", WindowNumber(3), "^Game^Patch_7.cab^Sub^", "step:ExtractPackage:-1",
         "-1", ""},
        {"negative window number", -5, "^Game^Patch_7.cab^Sub^", "", "0", ""},
        {"fields missing", WindowNumber(4), "^Game^", "", "-1",
         "Update: 升级参数不完整,无法进行升级!\n"},
        {"field too long", WindowNumber(5), "^Game^" + tooLong + "^Sub^", "", "-1",
         "Update: 升级参数过长,无法进行升级!\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChildProcess waitwnd({BinPath("waitwnd"), "-t", "60", std::to_string(c.number)});
        ASSERT_TRUE(WindowOpens(c.number));
        ChildProcess update({BinPath("Update"), "^" + std::to_string(c.number) + c.fieldsAfterNumber},
                            {"KORVANE_UI=quiet", std::string("KORVANE_FAULTS=") + kStepsSucceed + c.faults});
        EXPECT_EQ(update.Wait(20000), 0);
        EXPECT_EQ(waitwnd.Wait(20000), std::string(c.wParam) == "0" ? 0 : 1);
        EXPECT_EQ(waitwnd.Stdout(), "message=8071 wParam=" + std::string(c.wParam) + " lParam=0\n");
        EXPECT_EQ(update.Stderr(), c.box);
        EXPECT_EQ(update.Stdout(), "");
    }
}

TEST_F(AutoModeTest, EndsByItselfWithoutTerminalDisplayOrWindow)
{
    const char* commandLines[] = {
        "^" "7001" "^Game^Patch_7.cab^Sub^",  // automatic mode, nobody waiting
        "^-1^Game^Patch_7.cab^",             // interactive mode, nobody to confirm
        "^7002^Game^",                       // too few fields
        "no fields at all",
    };
    for (const char* ui : {"KORVANE_UI=quiet", "KORVANE_UI="}) {  // named, and chosen
        for (const char* line : commandLines) {
            SCOPED_TRACE(std::string(ui) + " " + line);
            ChildProcess update({BinPath("Update"), line}, {ui, "DISPLAY=", "WAYLAND_DISPLAY="});
            EXPECT_EQ(update.Wait(20000), 0);
        }
    }
}

TEST_F(AutoModeTest, InteractiveRunWithoutTerminalSaysWhyItEnds)
{
    ChildProcess update({BinPath("Update"), "^-1^Game^Patch_7.cab^"}, {"KORVANE_UI=quiet"});
    EXPECT_EQ(update.Wait(20000), 0);
    EXPECT_EQ(update.Stderr(), "Korvane更新程序: no terminal to answer this dialog; it is cancelled\n");
}

}  // namespace
