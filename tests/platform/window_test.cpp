// Windows found by title and synchronous messages, across real processes.
#include <atomic>
#include <thread>

#include "platform/codepage.h"
#include "platform/system.h"
#include "platform/window.h"
#include "platform_fixture.h"

namespace {

using kvtest::Child;
using kvtest::Eventually;
using kvtest::ExitCode;
using kvtest::PlatformTest;

class WindowTest : public PlatformTest {};

TEST_F(WindowTest, WaitwndReportsTheMessageItReceives) {
    struct Case {
        int window;
        int result;
        std::string line;
        int exitCode;
    };
    const Case cases[] = {
        {3, 0, "message=8071 wParam=0 lParam=0", 0},
        {3, 1, "message=8071 wParam=1 lParam=0", 1},
        {-5, -1, "message=8071 wParam=-1 lParam=0", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        Child waitwnd({kvtest::BinPath("waitwnd"), std::to_string(c.window)});
        std::string title = "WaitForUpdateResultWnd" + std::to_string(c.window);
        win::HWND window = nullptr;
        ASSERT_TRUE(Eventually([&] { return (window = win::FindWindowA(nullptr, title.c_str())) != nullptr; }));
        EXPECT_EQ(win::SendMessageA(window, 8071, static_cast<win::WPARAM>(c.result), 0), 0);
        EXPECT_EQ(waitwnd.ReadLine(), c.line);
        EXPECT_EQ(ExitCode(waitwnd.Wait()), c.exitCode);
    }
}

TEST_F(WindowTest, WaitwndGivesUpAfterItsTimeLimit) {
    Child waitwnd({kvtest::BinPath("waitwnd"), "-t", "1", "7"});
    EXPECT_EQ(ExitCode(waitwnd.Wait()), 2);
    EXPECT_EQ(waitwnd.ReadAll(), "");
    EXPECT_EQ(win::FindWindowA(nullptr, "WaitForUpdateResultWnd7"), nullptr);
}

TEST_F(WindowTest, FindsOnlyTheExactTitleOfALiveWindow) {
    Child waitwnd({kvtest::BinPath("waitwnd"), "4"});
    win::HWND window = nullptr;
    ASSERT_TRUE(Eventually([&] { return (window = win::FindWindowA(nullptr, "WaitForUpdateResultWnd4")) != nullptr; }));
    EXPECT_EQ(win::FindWindowA(nullptr, "WaitForUpdateResultWnd4"), window);
    EXPECT_EQ(win::FindWindowA(nullptr, "WaitForUpdateResultWnd"), nullptr);
    EXPECT_EQ(win::FindWindowA(nullptr, "WaitForUpdateResultWnd44"), nullptr);
    EXPECT_EQ(win::FindWindowA(nullptr, "WaitForUpdateResultWnd-4"), nullptr);

    // A window whose process died is none, and its socket is cleaned up.
    ::kill(waitwnd.pid(), SIGKILL);
    waitwnd.Wait();
    std::string socket = win::RuntimeObjectPath("window", "WaitForUpdateResultWnd4");
    EXPECT_TRUE(Exists(socket));
    EXPECT_EQ(win::FindWindowA(nullptr, "WaitForUpdateResultWnd4"), nullptr);
    EXPECT_FALSE(Exists(socket));
    EXPECT_EQ(win::SendMessageA(window, 8071, 0, 0), 0);
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(WindowTest, SendReturnsTheAnswerAfterTheReceiverHandledIt) {
    std::string title = "\xb0\xfc/window \xd6\xd0";  // code page 936, a slash and a blank
    win::MessageWindow receiver;
    ASSERT_TRUE(receiver.Create(title.c_str()));
    win::MessageWindow duplicate;
    EXPECT_FALSE(duplicate.Create(title.c_str()));
    EXPECT_EQ(win::GetLastError(), win::ERROR_ALREADY_EXISTS);

    std::atomic<bool> handled{false};
    std::thread server([&] {
        receiver.Receive(
            [&](win::UINT message, win::WPARAM wParam, win::LPARAM lParam) -> win::LRESULT {
                EXPECT_EQ(message, 1234u);
                EXPECT_EQ(wParam, 0xFFFFFFFFu);
                EXPECT_EQ(lParam, -7);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                handled = true;
                return -42;
            },
            5000);
    });
    win::HWND window = win::FindWindowA(nullptr, title.c_str());
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window, receiver.Handle());
    EXPECT_EQ(win::SendMessageA(window, 1234, static_cast<win::WPARAM>(-1), -7), -42);
    EXPECT_TRUE(handled);
    server.join();

    auto sent = win::faults::SentMessages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].title, title);
    EXPECT_EQ(sent[0].message, 1234u);

    receiver.Destroy();
    EXPECT_EQ(win::FindWindowA(nullptr, title.c_str()), nullptr);
    EXPECT_EQ(win::SendMessageA(nullptr, 1, 0, 0), 0);
}

TEST_F(WindowTest, ReceiveTimesOutAndIgnoresPresenceProbes) {
    win::MessageWindow receiver;
    ASSERT_TRUE(receiver.Create("probe"));
    ASSERT_NE(win::FindWindowA(nullptr, "probe"), nullptr);  // connects and leaves
    EXPECT_FALSE(receiver.Receive([](win::UINT, win::WPARAM, win::LPARAM) -> win::LRESULT { return 0; }, 200));
}

TEST_F(WindowTest, AProbeDuringCreationDoesNotRemoveTheWindow) {
    // Another process looks for the window between bind and listen.
    static win::HWND seenWhileStarting;
    win::host::Ops probing = win::host::Posix();
    probing.listen = [](int fd, int backlog) {
        seenWhileStarting = win::FindWindowA(nullptr, "starting");
        return win::host::Posix().listen(fd, backlog);
    };
    win::host::Install(&probing);
    win::MessageWindow receiver;
    ASSERT_TRUE(receiver.Create("starting"));
    win::host::Install(nullptr);
    EXPECT_EQ(seenWhileStarting, nullptr);
    EXPECT_NE(win::FindWindowA(nullptr, "starting"), nullptr);
}

}  // namespace
