// The updater as a real process in interactive mode, driven through the terminal backend
// over a pipe: refusal while a real holdmutex holds "Korvane.Update", the run after it
// ends, the restart of the client (a recording stand-in), failure, cancel, About box.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/ForcedSteps.h"
#include "support/ChildProcess.h"

namespace {

class InteractiveModeTest : public ::testing::Test {
protected:
    InteractiveModeTest()
    {
        UsePrivateRuntimeFolder();
        // The client folder: the updater and a stand-in for the client that records how
        // it was started.
        std::filesystem::copy_file(BinPath("Update"), client / "Update");
        WriteFile(client / "Korvane.exe",
                  "#!/bin/sh\necho \"args=$#:$*\" > '" + client / "started.tmp" + "'\n"
                  "pwd >> '" + client / "started.tmp" + "'\n"
                  "mv '" + client / "started.tmp" + "' '" + client / "started" + "'\n",
                  0755);
    }

    ChildProcess StartUpdate(const std::string& faults = "")
    {
        return ChildProcess({client / "Update", "^-1^Game^Patch_7.cab^"},
                            {"KORVANE_UI=terminal", "KORVANE_FAULTS=" + std::string(kStepsSucceed) + faults}, client.path(),
                            true);
    }

    bool ClientStarted(int timeoutMs)
    {
        for (int waited = 0; waited < timeoutMs; waited += 10) {
            if (std::filesystem::exists(client / "started"))
                return true;
            usleep(10000);
        }
        return false;
    }

    TempDir client;
};

constexpr const char* kPrompt = "安装程序需要更新大厅，请您先关闭Korvane";
constexpr const char* kRefusal = "Update: 请先关闭大厅才能进行自动安装！";
constexpr const char* kStarting = "开始升级Korvane，请稍候...";
constexpr const char* kSucceeded = "Korvane升级成功,正在调入...";
constexpr const char* kFailed = "Korvane升级失败！";

TEST_F(InteractiveModeTest, RefusedWhileTheClientRunsThenUpdatesAndRestartsIt)
{
    ChildProcess holder({BinPath("holdmutex"), "Korvane.Update"});
    ASSERT_TRUE(holder.WaitForOutput("held", 20000));
    ChildProcess update = StartUpdate();
    ASSERT_TRUE(update.WaitForOutput(kPrompt, 20000));

    update.Write("\n");  // confirm: refused
    ASSERT_TRUE(update.WaitForOutput(kRefusal, 20000));
    update.Write("\n");  // dismiss the box
    usleep(100000);
    EXPECT_EQ(update.Stdout().find(kStarting), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(client / "started"));

    holder.Terminate();
    update.Write("\n");  // confirm again: the run
    EXPECT_EQ(update.Wait(20000), 0);
    ASSERT_TRUE(ClientStarted(20000));
    EXPECT_EQ(ReadFile(client / "started"), "args=0:\n" + client.path() + "\n");

    const std::string shown = update.Stdout();
    const size_t starting = shown.find(kStarting);
    const size_t succeeded = shown.find(kSucceeded);
    ASSERT_NE(starting, std::string::npos);
    ASSERT_NE(succeeded, std::string::npos);
    EXPECT_LT(shown.find(kRefusal), starting);
    EXPECT_LT(starting, succeeded);
    EXPECT_EQ(shown.find(kRefusal, shown.find(kRefusal) + 1), std::string::npos);  // once
}

TEST_F(InteractiveModeTest, FailedRunShowsFailureAndStartsNothing)
{
    ChildProcess update = StartUpdate("step:BackupTargets:-1");
    ASSERT_TRUE(update.WaitForOutput(kPrompt, 20000));
    update.Write("\n");
    EXPECT_EQ(update.Wait(20000), 0);
    EXPECT_NE(update.Stdout().find(kFailed), std::string::npos);
    EXPECT_EQ(update.Stdout().find(kSucceeded), std::string::npos);
    EXPECT_FALSE(ClientStarted(300));
}

TEST_F(InteractiveModeTest, CancellingRunsNothing)
{
    for (const char* input : {"\x1b", ""}) {  // Esc, or the end of input
        SCOPED_TRACE(int(*input));
        ChildProcess update = StartUpdate();
        ASSERT_TRUE(update.WaitForOutput(kPrompt, 20000));
        update.Write(input);
        update.CloseInput();
        EXPECT_EQ(update.Wait(20000), 0);
        EXPECT_EQ(update.Stdout().find(kStarting), std::string::npos);
        EXPECT_FALSE(ClientStarted(300));
    }
}

TEST_F(InteractiveModeTest, AboutBoxFromTheSystemMenuKey)
{
    ChildProcess update = StartUpdate();
    ASSERT_TRUE(update.WaitForOutput(kPrompt, 20000));
    update.Write("a");
    ASSERT_TRUE(update.WaitForOutput("Update 1.0 版", 20000));
    EXPECT_NE(update.Stdout().find("== 关于 Update =="), std::string::npos);
    update.Write("\n");    // its OK button
    update.Write("\x1b");  // then cancel the update dialog
    EXPECT_EQ(update.Wait(20000), 0);
    EXPECT_EQ(update.Stdout().find(kStarting), std::string::npos);
}

}  // namespace
