// The dialog framework against a recording backend: modal results, message routing,
// data exchange in code page 936, system menu, minimised painting, message boxes.
#include <gtest/gtest.h>

#include "platform/ui/afxwin.h"
#include "support/RecordingBackend.h"

using namespace win;

namespace {

constexpr int kDialogId = 7;
constexpr int kPlainDialogId = 8;
constexpr int kTextId = 20;
constexpr int kButtonId = 21;
constexpr int kIconId = 5;
constexpr UINT kMenuCommand = 0x30;

constexpr std::uint32_t kPixels[4] = {1, 2, 3, 4};
constexpr ui::IconImage kImages[] = {{2, 2, 32, kPixels}};
constexpr ui::IconResource kIcons[] = {{kIconId, kImages}};

constexpr ui::DialogItem kItems[] = {
    {kTextId, "STATIC", WS_CHILD | WS_VISIBLE, 10, 10, 100, 8, "\xC4\xE3\xBA\xC3"},  // 你好
    {kButtonId, "BUTTON", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, 10, 30, 50, 14, "Go"},
};
constexpr ui::DialogTemplate kDialogs[] = {
    {kDialogId, WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 0, 200, 40, "Test", "Font", 9, kItems},
    {kPlainDialogId, WS_POPUP | WS_CAPTION, 0, 0, 0, 100, 40, "Plain", "Font", 9, {}},
};
constexpr ui::StringResource kStrings[] = {{9, "\xC4\xE3\xBA\xC3 &B"}};  // 你好 &B
const ui::ResourceModule kModule{kStrings, kDialogs, kIcons};

// A dialog that binds a member to kTextId and counts clicks of kButtonId.
class TestDialog : public CDialog {
public:
    explicit TestDialog(UINT id = kDialogId) : CDialog(id) {}
    std::string m_strText = "\xCA\xC0\xBD\xE7";  // 世界
    int m_nClicks = 0;
    bool m_bCancelled = false;
    std::function<void(TestDialog&)> onInit;
    std::function<void(TestDialog&)> onGo;

    using CWnd::DefWindowProc;

protected:
    void DoDataExchange(CDataExchange* exchange) override { DDX_Text(exchange, kTextId, m_strText); }
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        if (onInit)
            onInit(*this);
        return TRUE;
    }
    void OnCancel() override
    {
        m_bCancelled = true;
        CDialog::OnCancel();
    }
    void OnGo()
    {
        ++m_nClicks;
        if (onGo)
            onGo(*this);
    }
    const MessageMap* GetMessageMap() const override
    {
        static constexpr MessageMapEntry entries[] = {OnBnClicked<kButtonId, &TestDialog::OnGo>()};
        static const MessageMap map{CDialog::GetMessageMap(), entries};
        return &map;
    }
};

class DialogTest : public ::testing::Test {
protected:
    DialogTest() { ui::AfxSetResourceModule(&kModule); }
    ~DialogTest() override { ui::AfxSetResourceModule(nullptr); }
    ScopedRecordingBackend ui;
};

TEST_F(DialogTest, ModalResultFollowsTheInput)
{
    struct Case {
        const char* name;
        std::vector<ui::InputMessage> input;
        INT_PTR result;
        int clicks;
        bool cancelled;
    };
    const WPARAM go = MAKEWPARAM(kButtonId, BN_CLICKED);
    const Case cases[] = {
        {"ok button", {{WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0}}, IDOK, 0, false},
        {"cancel", {{WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0}}, IDCANCEL, 0, true},
        {"close box", {{WM_SYSCOMMAND, SC_CLOSE, 0}}, IDCANCEL, 0, true},
        {"input ends", {}, IDCANCEL, 0, false},
        {"own handler, then ok",
         {{WM_COMMAND, go, 0}, {WM_COMMAND, go, 0}, {WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0}},
         IDOK, 2, false},
        {"other notification code is not a click", {{WM_COMMAND, MAKEWPARAM(kButtonId, 5), 0}},
         IDCANCEL, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui->input.assign(c.input.begin(), c.input.end());
        TestDialog dialog;
        EXPECT_EQ(dialog.DoModal(), c.result);
        EXPECT_EQ(dialog.m_nClicks, c.clicks);
        EXPECT_EQ(dialog.m_bCancelled, c.cancelled);
        EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
    }
}

TEST_F(DialogTest, MissingTemplateGivesMinusOneAndShowsNothing)
{
    TestDialog dialog(999);
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_TRUE(ui->shown.empty());
}

TEST_F(DialogTest, DataExchangeKeepsCodePageBytesAndShowsUtf8)
{
    TestDialog dialog;
    std::string shownAtInit;
    dialog.onInit = [&](TestDialog& d) {
        shownAtInit = d.View()->Control(kTextId)->text;
        d.SetDlgItemText(kTextId, "\xB8\xFC\xD0\xC2");  // 更新
    };
    ui->Click(IDOK);
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(shownAtInit, "世界");
    EXPECT_EQ(dialog.m_strText, "\xB8\xFC\xD0\xC2");  // taken back by OnOK
    // Changes made during the initialisation are drawn with the dialog.
    EXPECT_TRUE(ui->textChanges.empty());
    ASSERT_EQ(ui->shown.size(), 1u);
    EXPECT_EQ(ui->shown[0].Control(kTextId)->text, "更新");
}

TEST_F(DialogTest, SystemMenuExistsOnlyWithItsStyle)
{
    TestDialog withMenu, plain(kPlainDialogId);
    std::vector<ui::MenuEntry> entries;
    bool plainHasMenu = true;
    withMenu.onInit = [&](TestDialog& d) {
        CMenu* menu = d.GetSystemMenu(FALSE);
        ASSERT_NE(menu, nullptr);
        menu->AppendMenu(MF_SEPARATOR);
        menu->AppendMenu(MF_STRING, kMenuCommand, ui::AfxLoadString(9).c_str());
        entries = d.View()->systemMenu;
    };
    plain.onInit = [&](TestDialog& d) { plainHasMenu = d.GetSystemMenu(FALSE) != nullptr; };
    withMenu.DoModal();
    plain.DoModal();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(entries[0].separator);
    EXPECT_EQ(entries[1].id, kMenuCommand);
    EXPECT_EQ(entries[1].text, "你好 &B");
    EXPECT_FALSE(plainHasMenu);
}

TEST_F(DialogTest, ControlsHideAndUnknownControlsAreNull)
{
    TestDialog dialog;
    bool before = false, after = true;
    dialog.onInit = [&](TestDialog& d) {
        EXPECT_EQ(d.GetDlgItem(12345), nullptr);
        before = d.GetDlgItem(kButtonId)->IsWindowVisible();
        d.GetDlgItem(kButtonId)->ShowWindow(SW_HIDE);
        after = d.View()->Control(kButtonId)->visible;
    };
    dialog.DoModal();
    EXPECT_TRUE(before);
    EXPECT_FALSE(after);
}

TEST_F(DialogTest, MinimiseAndRestoreRepaint)
{
    TestDialog dialog;
    bool iconicAfterMinimise = false, iconicAfterRestore = true;
    dialog.onInit = [&](TestDialog& d) {
        d.DefWindowProc(WM_SYSCOMMAND, SC_MINIMIZE, 0);
        iconicAfterMinimise = d.IsIconic();
        d.DefWindowProc(WM_SYSCOMMAND, SC_RESTORE | 0x2, 0);  // low bits are the system's
        iconicAfterRestore = d.IsIconic();
    };
    dialog.DoModal();
    EXPECT_TRUE(iconicAfterMinimise);
    EXPECT_FALSE(iconicAfterRestore);
}

TEST_F(DialogTest, IconsLoadByIdAndDraw)
{
    const HICON icon = LoadIconA(nullptr, MAKEINTRESOURCEA(kIconId));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(IconFromHandle(icon), &kIcons[0]);
    EXPECT_EQ(LoadIconA(nullptr, MAKEINTRESOURCEA(kIconId + 1)), nullptr);
    EXPECT_EQ(GetSystemMetrics(SM_CXICON), 32);

    TestDialog dialog;
    dialog.onInit = [&](TestDialog& d) { d.SetIcon(icon, TRUE); };
    dialog.onGo = [&](TestDialog& d) {
        CPaintDC dc(&d);
        EXPECT_TRUE(dc.DrawIcon(3, 4, icon));
        EXPECT_FALSE(dc.DrawIcon(3, 4, nullptr));
    };
    ui->Click(kButtonId);
    dialog.DoModal();
    EXPECT_EQ(ui->shown[0].icon, &kIcons[0]);
    ASSERT_EQ(ui->drawnIcons.size(), 1u);
    EXPECT_EQ(ui->drawnIcons[0].x, 3);
    EXPECT_EQ(ui->drawnIcons[0].icon, &kIcons[0]);
}

TEST_F(DialogTest, MessageBoxIsTitledWithTheProgramName)
{
    EXPECT_EQ(AfxMessageBox("\xC4\xE3\xBA\xC3"), IDOK);
    EXPECT_EQ(AfxMessageBox(9u), IDOK);
    ASSERT_EQ(ui->boxes.size(), 2u);
    EXPECT_EQ(ui->boxes[0].title, "dialog_test");
    EXPECT_EQ(ui->boxes[0].text, "你好");
    EXPECT_EQ(ui->boxes[1].text, "你好 &B");
}

TEST(WinAppTest, EntryRunsTheApplicationObject)
{
    struct App : CWinApp {
        int runs = 0;
        BOOL InitInstance() override
        {
            ++runs;
            return FALSE;
        }
    };
    EXPECT_EQ(AfxWinMain(), 1);  // no application object
    App app;
    EXPECT_EQ(AfxGetApp(), &app);
    EXPECT_EQ(AfxWinMain(), 0);
    EXPECT_EQ(app.runs, 1);
}

}  // namespace
