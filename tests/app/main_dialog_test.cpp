// CUpdateDlg in process, against a recording backend: initialisation in both modes, the
// system menu, minimised painting, the run's step order, reporting, confirm and cancel.
// The waiting window and the client's mutex are real processes.
#include <gtest/gtest.h>
#include <unistd.h>

#include "app/UpdateApp.h"
#include "app/UpdateDlg.h"
#include "platform/win.h"
#include "platform/faults.h"
#include "support/ForcedSteps.h"
#include "support/ChildProcess.h"
#include "support/RecordingBackend.h"

using namespace win;

namespace {

class TestDlg : public CUpdateDlg {
public:
    using CUpdateDlg::OnConfirm;
};

class MainDialogTest : public ::testing::Test {
protected:
    MainDialogTest()
    {
        UsePrivateRuntimeFolder();
        faults::Reset();
        faults::AddRules(kStepsSucceed);
        g_nWaitWnd = -1;
        g_strTargetDir = "C:\\Client\\";
    }
    ~MainDialogTest() override { faults::Reset(); }

    // Waits until the window of a started waitwnd exists.
    static bool WindowOpens(int number)
    {
        const std::string title = "WaitForUpdateResultWnd" + std::to_string(number);
        for (int i = 0; i < 2000; ++i) {
            if (FindWindowA(nullptr, title.c_str()))
                return true;
            usleep(10000);
        }
        return false;
    }

    CUpdateApp app;  // installs the resources
    ScopedRecordingBackend ui;
};

TEST_F(MainDialogTest, TargetFolderLosesOneTrailingBackslash)
{
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\Client\\Sub\\", "C:\\Client\\Sub"},
        {"C:\\Client\\Sub\\\\", "C:\\Client\\Sub\\"},
        {"C:\\Client\\Sub", "C:\\Client\\Sub"},
        {"", ""},
    };
    for (const auto& [target, expected] : cases) {
        g_strTargetDir = target;
        TestDlg dlg;
        dlg.DoModal();
        EXPECT_STREQ(dlg.m_szTargetDir, expected) << target;
    }
}

TEST_F(MainDialogTest, InteractiveInitialisationAsksToCloseTheClient)
{
    setenv("KORVANE_SYSTEM_DIR", "/opt/sys", 1);
    TestDlg dlg;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);  // no input: the user closed it
    ASSERT_EQ(ui->ShownIds(), std::vector<int>{IDD_UPDATE_DIALOG});
    const ui::DialogView& shown = ui->shown[0];
    EXPECT_EQ(shown.Control(IDC_STATUS)->text, "安装程序需要更新大厅，请您先关闭Korvane");
    EXPECT_TRUE(shown.Control(IDC_CONFIRM)->visible);
    ASSERT_EQ(shown.systemMenu.size(), 2u);  // a separator, then string 101 with command 16
    EXPECT_TRUE(shown.systemMenu[0].separator);
    EXPECT_EQ(shown.systemMenu[1].id, UINT(IDM_ABOUTBOX));
    EXPECT_EQ(shown.systemMenu[1].text, "关于 Update(&A)...");
    ASSERT_NE(shown.icon, nullptr);
    EXPECT_EQ(shown.icon->id, IDR_MAINFRAME);
    EXPECT_TRUE(ui->textChanges.empty());
    EXPECT_EQ(std::string(dlg.m_szClientExe), GetModuleFolder() + "Korvane.exe");
    EXPECT_STREQ(dlg.m_szSystemDir, "\\opt\\sys");
    EXPECT_NE(dlg.m_hIcon, nullptr);
    EXPECT_EQ(faults::Calls("CreateMutexA"), 0u);
    EXPECT_TRUE(faults::StartedPrograms().empty());
}

TEST_F(MainDialogTest, SystemMenuCommandsOpenTheAboutBox)
{
    struct Case {
        UINT command;
        bool about;
    };
    const Case cases[] = {{16, true}, {17, true}, {31, true}, {32, false}, {15, false},
                          {SC_MINIMIZE, false}};
    for (const Case& c : cases) {
        ScopedRecordingBackend local;
        local->SysCommand(c.command);
        TestDlg dlg;
        dlg.DoModal();
        std::vector<int> expected{IDD_UPDATE_DIALOG};
        if (c.about)
            expected.push_back(IDD_ABOUTBOX);
        EXPECT_EQ(local->ShownIds(), expected) << c.command;
    }

}

TEST_F(MainDialogTest, CloseBoxCancelsWithoutRunning)
{
    ui->SysCommand(SC_CLOSE);
    TestDlg dlg;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(faults::Calls("CreateMutexA"), 0u);
    EXPECT_TRUE(faults::StartedPrograms().empty());
    EXPECT_TRUE(ui->textChanges.empty());
}

TEST_F(MainDialogTest, MinimisedDialogDrawsItsIconCentred)
{
    ui->input.push_back({WM_PAINT, 0, 0});  // not minimised: default painting
    ui->SysCommand(SC_MINIMIZE);
    TestDlg dlg;
    dlg.DoModal();
    ASSERT_EQ(ui->drawnIcons.size(), 1u);
    // Client area 201 x 51 dialog units = 301 x 76 pixels; icon 32 x 32.
    EXPECT_EQ(ui->drawnIcons[0].x, (301 - 32 + 1) / 2);
    EXPECT_EQ(ui->drawnIcons[0].y, (76 - 32 + 1) / 2);
    EXPECT_EQ(ui->drawnIcons[0].icon->id, IDR_MAINFRAME);
    EXPECT_EQ(dlg.SendMessage(WM_QUERYDRAGICON), reinterpret_cast<LRESULT>(dlg.m_hIcon));
}

TEST_F(MainDialogTest, RunStopsAtTheFirstFailingStep)
{
    struct Case {
        const char* rules;
        int result;
        bool faultyPackageBox;
    };
    const Case cases[] = {
        {"", 0, false},
        {"step:ExtractPackage:-1", -1, false},
        {"step:LocateExtractedFolder:1", 1, true},
        {"step:ReadManifest:1", 1, false},
        {"step:BackupTargets:-1", -1, false},
        {"step:ReplaceFiles:-1", -1, false},
        {"step:RegisterComponents:-1", -1, false},
        {"step:ReadManifest:-1;step:ExtractPackage:1", 1, false},
        {"step:RegisterComponents:-1;step:LocateExtractedFolder:1", 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rules);
        faults::Reset();
        ASSERT_TRUE(faults::AddRules((std::string(kStepsSucceed) + c.rules).c_str()));
        ScopedRecordingBackend local;
        TestDlg dlg;
        EXPECT_EQ(dlg.RunUpdate(), c.result);
        ASSERT_EQ(local->boxes.size(), c.faultyPackageBox ? 1u : 0u);
        if (c.faultyPackageBox) {
            EXPECT_EQ(local->boxes[0].text, "下载的文件有误!");
        }
    }
}

TEST_F(MainDialogTest, AutomaticModeReportsToTheWaitingWindow)
{
    struct Case {
        int number;
        const char* rules;
        const char* wParam;
    };
    const int base = int(getpid() % 100000) * 10;
    const Case cases[] = {
        {base + 1, "", "0"},
        {base + 2, "step:ReadManifest:1", "1"},
        {base + 3, "step:ReplaceFiles:-1", "-1"},
        {-5, "", "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.number);
        faults::Reset();
        ASSERT_TRUE(faults::AddRules((std::string(kStepsSucceed) + c.rules).c_str()));
        ChildProcess waitwnd({BinPath("waitwnd"), "-t", "60", std::to_string(c.number)});
        ASSERT_TRUE(WindowOpens(c.number));
        ScopedRecordingBackend local;
        g_nWaitWnd = c.number;
        TestDlg dlg;
        EXPECT_EQ(dlg.DoModal(), IDOK);
        EXPECT_EQ(waitwnd.Wait(20000), std::string(c.wParam) == "0" ? 0 : 1);
        EXPECT_EQ(waitwnd.Stdout(), "message=8071 wParam=" + std::string(c.wParam) + " lParam=0\n");
        // The run happened inside the initialisation: the dialog was never drawn and no
        // client was started.
        EXPECT_TRUE(local->shown.empty());
        EXPECT_TRUE(faults::StartedPrograms().empty());
        EXPECT_EQ(faults::Calls("CreateMutexA"), 0u);
    }
}

TEST_F(MainDialogTest, AutomaticModeWithoutWindowEndsQuietly)
{
    g_nWaitWnd = int(getpid() % 100000) * 10 + 9;
    TestDlg dlg;
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(ui->boxes.empty());
    EXPECT_TRUE(faults::SentMessages().empty());
    EXPECT_TRUE(faults::StartedPrograms().empty());
}

TEST_F(MainDialogTest, ConfirmIsRefusedWhileTheClientHoldsTheMutex)
{
    ChildProcess holder({BinPath("holdmutex"), "Korvane.Update"});
    ASSERT_TRUE(holder.WaitForOutput("held", 20000));
    ASSERT_TRUE(faults::AddRules("step:ReplaceFiles:-1"));  // a failing run starts nothing
    std::vector<bool> buttonVisibleAtBox;
    TestDlg dlg;
    ui->onBox = [&](const RecordingBackend::Box&) {
        buttonVisibleAtBox.push_back(dlg.View()->Control(IDC_CONFIRM)->visible);
        if (buttonVisibleAtBox.size() == 2)
            holder.Terminate();
    };
    ui->Click(IDC_CONFIRM);
    ui->Click(IDC_CONFIRM);
    ui->Click(IDC_CONFIRM);
    EXPECT_EQ(dlg.DoModal(), IDOK);

    ASSERT_EQ(ui->boxes.size(), 2u);
    for (const auto& box : ui->boxes) {
        EXPECT_EQ(box.title, "main_dialog_test");
        EXPECT_EQ(box.text, "请先关闭大厅才能进行自动安装！");
    }
    EXPECT_EQ(buttonVisibleAtBox, (std::vector<bool>{true, true}));
    std::vector<std::string> statuses;
    for (const auto& change : ui->textChanges)
        statuses.push_back(change.second);
    EXPECT_EQ(statuses, (std::vector<std::string>{"开始升级Korvane，请稍候...", "Korvane升级失败！"}));
    EXPECT_TRUE(faults::StartedPrograms().empty());
}

}  // namespace
