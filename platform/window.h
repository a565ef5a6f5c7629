// Top-level windows found by title and synchronous messages between processes. A window
// is a Unix socket in the runtime folder named after its title; see the README for the
// wire format.
#pragma once
#include <functional>
#include <string>

#include "platform/wintypes.h"

namespace win {

// The window with exactly this title (code page 936), or null. The class is not
// considered. A window whose process has died counts as none and is cleaned up.
HWND FindWindowA(LPCSTR className, LPCSTR windowName);
// Delivers the message and returns the receiver's answer once it has handled it.
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HWND GetDesktopWindow();

// The receiving side: a window with a title that answers messages one at a time.
class MessageWindow {
public:
    using Handler = std::function<LRESULT(UINT message, WPARAM wParam, LPARAM lParam)>;

    MessageWindow() = default;
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;
    ~MessageWindow();

    // False when a live window already has this title, or on a host failure.
    bool Create(const char* title);
    // Waits for one message (timeoutMs < 0: without limit), runs the handler and sends its
    // answer. False on timeout or failure.
    bool Receive(const Handler& handler, int timeoutMs);
    void Destroy();
    HWND Handle() const { return handle_; }

private:
    int listenFd_ = -1;
    std::string socketPath_;
    HWND handle_ = nullptr;
};

}  // namespace win
