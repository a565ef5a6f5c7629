// Start-up in process: the socket-layer failure and InitInstance running the dialog from
// the command line.
#include <gtest/gtest.h>

#include "app/UpdateApp.h"
#include "platform/faults.h"
#include "res/resource.h"
#include "support/RecordingBackend.h"

using namespace win;

namespace {

class StartupTest : public ::testing::Test {
protected:
    StartupTest() { faults::Reset(); }
    ~StartupTest() override { faults::Reset(); }
    CUpdateApp app;
    ScopedRecordingBackend ui;
};

TEST_F(StartupTest, SocketFailureShowsString103AndEndsWithoutUpdate)
{
    ASSERT_TRUE(faults::AddRules("AfxSocketInit:*:1"));
    faults::OverrideCommandLine("Update ^3^Game^pkg.cab^Sub^");
    EXPECT_EQ(app.InitInstance(), FALSE);
    ASSERT_EQ(ui->boxes.size(), 1u);
    EXPECT_EQ(ui->boxes[0].text, "Windows 通信端口初始化失败。");
    EXPECT_TRUE(ui->shown.empty());
    EXPECT_EQ(faults::Calls("GetCommandLineA"), 0u);
    EXPECT_EQ(faults::Calls("FindWindowA"), 0u);
    EXPECT_TRUE(faults::SentMessages().empty());
}

TEST_F(StartupTest, InitInstanceRunsTheDialogFromTheCommandLine)
{
    faults::OverrideModuleFileName("C:\\Client\\Update.exe");
    faults::OverrideCommandLine("C:\\Client\\Update.exe ^-1^Game^pkg.cab^");
    EXPECT_EQ(app.InitInstance(), FALSE);
    EXPECT_EQ(ui->ShownIds(), std::vector<int>{IDD_UPDATE_DIALOG});
    EXPECT_EQ(g_strTargetDir, "C:\\Client\\");
    EXPECT_EQ(app.m_pMainWnd, nullptr);  // the dialog is gone with InitInstance
    EXPECT_TRUE(faults::StartedPrograms().empty());  // cancelled: nothing ran
}

TEST_F(StartupTest, RefusedCommandLineShowsNoDialog)
{
    faults::OverrideCommandLine("Update ^-1^Game^");
    EXPECT_EQ(app.InitInstance(), FALSE);
    EXPECT_TRUE(ui->shown.empty());
    ASSERT_EQ(ui->boxes.size(), 1u);
}

}  // namespace
