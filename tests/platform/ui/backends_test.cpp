// The quiet and terminal backends over pipes: what they print and which input becomes
// which window message.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/ui/Backend.h"

using namespace win;
using namespace win::ui;

namespace {

struct Pipe {
    int fd[2];
    Pipe() { EXPECT_EQ(pipe(fd), 0); }
    ~Pipe()
    {
        CloseWrite();
        close(fd[0]);
    }
    void CloseWrite()
    {
        if (fd[1] >= 0)
            close(fd[1]);
        fd[1] = -1;
    }
    void Put(const std::string& text) { ASSERT_EQ(write(fd[1], text.data(), text.size()), ssize_t(text.size())); }
    std::string Drain()
    {
        CloseWrite();
        std::string all;
        char buffer[256];
        ssize_t n;
        while ((n = read(fd[0], buffer, sizeof buffer)) > 0)
            all.append(buffer, size_t(n));
        return all;
    }
};

DialogView SampleDialog()
{
    DialogView view;
    view.templateId = 1;
    view.caption = "标题";
    view.style = WS_SYSMENU;
    view.controls = {
        {11, "STATIC", 0, 0, 0, 10, 8, "状态", true, nullptr},
        {12, "BUTTON", BS_DEFPUSHBUTTON, 0, 0, 10, 8, "确认", true, nullptr},
        {13, "BUTTON", BS_PUSHBUTTON, 0, 0, 10, 8, "Other", true, nullptr},
    };
    view.systemMenu = {{0, true, ""}, {0x10, false, "关于 Update(&A)..."}};
    return view;
}

// Feeds `keys` to a terminal backend's modal loop and returns the messages dispatched.
std::vector<InputMessage> Dispatched(DialogView& view, const std::string& keys, int stopAfter = 99)
{
    Pipe in, out;
    in.Put(keys);
    in.CloseWrite();
    auto backend = MakeTerminalBackend(in.fd[0], out.fd[1]);
    std::vector<InputMessage> messages;
    backend->RunModalLoop(view, [&](const InputMessage& m) {
        messages.push_back(m);
        if (int(messages.size()) == stopAfter)
            view.ended = true;
    });
    return messages;
}

TEST(TerminalBackendTest, KeysBecomeMessages)
{
    struct Case {
        const char* keys;
        std::vector<InputMessage> expected;
    };
    const InputMessage confirm{WM_COMMAND, MAKEWPARAM(12, BN_CLICKED), 0};
    const InputMessage cancel{WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0};
    const InputMessage about{WM_SYSCOMMAND, 0x10, 0};
    const Case cases[] = {
        {"\n", {confirm}},
        {"\r", {confirm}},
        {"\x1b", {cancel}},
        {"a", {about}},
        {"A", {about}},
        {"xyz", {}},  // other keys do nothing; the end of input ends the loop
        {"a\n\x1b", {about, confirm, cancel}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        DialogView view = SampleDialog();
        const auto got = Dispatched(view, c.keys);
        ASSERT_EQ(got.size(), c.expected.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].message, c.expected[i].message);
            EXPECT_EQ(got[i].wParam, c.expected[i].wParam);
        }
    }
}

TEST(TerminalBackendTest, LoopStopsWhenTheDialogEnds)
{
    DialogView view = SampleDialog();
    EXPECT_EQ(Dispatched(view, "\n\n\n", 1).size(), 1u);
}

TEST(TerminalBackendTest, EnterDoesNothingWhileTheDefaultButtonIsHidden)
{
    DialogView view = SampleDialog();
    view.controls[1].visible = false;
    EXPECT_TRUE(Dispatched(view, "\n").empty());
}

TEST(TerminalBackendTest, DrawsDialogAndChanges)
{
    Pipe in, out;
    auto backend = MakeTerminalBackend(in.fd[0], out.fd[1]);
    DialogView view = SampleDialog();
    backend->ShowDialog(view);
    view.controls[0].text = "新状态";
    backend->SetControlText(view, 11);
    out.CloseWrite();
    const std::string shown = out.Drain();
    for (const char* part : {"标题", "状态", "[确认]", "Enter: 确认", "Esc: cancel", "A: 关于 Update(A)...",
                             "新状态"})
        EXPECT_NE(shown.find(part), std::string::npos) << part << " in:\n" << shown;
}

TEST(TerminalBackendTest, MessageBoxWaitsForEnter)
{
    Pipe in, out;
    in.Put("xy\nrest");
    auto backend = MakeTerminalBackend(in.fd[0], out.fd[1]);
    EXPECT_EQ(backend->MessageBox("Update", "文本", MB_OK), IDOK);
    // The box consumed its line and no more.
    char next[4] = {};
    ASSERT_EQ(read(in.fd[0], next, 4), 4);
    EXPECT_EQ(std::string(next, 4), "rest");
    EXPECT_NE(out.Drain().find("Update: 文本"), std::string::npos);
}

TEST(QuietBackendTest, BoxesGoToErrorsAndDialogsCancel)
{
    Pipe err;
    auto backend = MakeQuietBackend(err.fd[1]);
    EXPECT_EQ(backend->MessageBox("Update", "请先关闭大厅才能进行自动安装！", MB_OK), IDOK);
    DialogView view = SampleDialog();
    std::vector<InputMessage> got;
    backend->RunModalLoop(view, [&](const InputMessage& m) { got.push_back(m); });
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].wParam, MAKEWPARAM(IDCANCEL, BN_CLICKED));
    const std::string text = err.Drain();
    EXPECT_EQ(text.substr(0, text.find('\n') + 1), "Update: 请先关闭大厅才能进行自动安装！\n");
    EXPECT_NE(text.find("标题: no terminal"), std::string::npos);
}

}  // namespace
