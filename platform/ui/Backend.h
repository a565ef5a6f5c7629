// The seam between the dialog framework and whatever shows dialogs to a person. A backend
// draws dialogs from what the framework tells it, collects input as window messages and
// shows message boxes. Every text crossing the seam is UTF-8.
//
// Backends: "gtk" (windows on the display named by DISPLAY or WAYLAND_DISPLAY, when built
// with GTK 3 and the display opens), "terminal" (standard input and output are terminals),
// "quiet" (otherwise); KORVANE_UI names one explicitly. Another backend plugs in through
// the table in Backend.cpp without changes above this folder.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Resources.h"
#include "platform/ui/WinUser.h"

namespace win::ui {

struct ControlView {
    int id;
    std::string windowClass;  // "STATIC" or "BUTTON"
    DWORD style;
    int x, y, cx, cy;  // dialog units
    std::string text;
    bool visible;
    const IconResource* icon;  // for SS_ICON statics
};

struct MenuEntry {
    UINT id;
    bool separator;
    std::string text;  // with its '&' access-key marker
};

// An open dialog as the backend sees it; the framework keeps it current before each call.
// A dialog is drawn after its initialisation and only if that did not end it; changes
// before then reach the backend with ShowDialog.
struct DialogView {
    int templateId;
    std::string caption;
    DWORD style;
    DWORD exStyle;
    int cx, cy;  // dialog units
    std::string fontFace;
    int pointSize;
    std::vector<ControlView> controls;
    std::vector<MenuEntry> systemMenu;  // entries the program appended
    const IconResource* icon = nullptr;
    bool shown = false;  // drawn: set once the dialog's initialisation has finished
    bool minimized = false;
    bool ended = false;

    const ControlView* Control(int id) const;
};

struct InputMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class Backend {
public:
    virtual ~Backend() = default;
    virtual void ShowDialog(const DialogView& view) = 0;
    virtual void SetControlText(const DialogView& view, int controlId) = 0;
    virtual void ShowControl(const DialogView& view, int controlId) = 0;
    virtual void CloseDialog(const DialogView& view) = 0;
    // Feeds input to `dispatch` until view.ended, or returns early when no more input can
    // come (the framework then cancels the dialog).
    virtual void RunModalLoop(const DialogView& view,
                              const std::function<void(const InputMessage&)>& dispatch) = 0;
    // A modal box; returns the id of the button that closed it.
    virtual int MessageBox(const std::string& title, const std::string& text, UINT type) = 0;
    virtual void DrawIcon(const DialogView& view, int x, int y, const IconResource& icon) = 0;
};

std::unique_ptr<Backend> MakeQuietBackend(int errorFd);
std::unique_ptr<Backend> MakeTerminalBackend(int inputFd, int outputFd);

// Writes all of `text` to `fd`; output nobody reads is dropped.
void WriteText(int fd, const std::string& text);

// The backend in use: chosen on first use from KORVANE_UI or the terminal test.
Backend& CurrentBackend();
// Replaces the backend in use (tests) and returns the one it replaced; null returns to the
// automatic choice.
std::unique_ptr<Backend> SetBackend(std::unique_ptr<Backend> backend);

}  // namespace win::ui
