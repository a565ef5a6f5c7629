// The backend for a person at a terminal: a dialog is printed as its caption, texts and
// buttons, and each change as a new line. Keys: Enter presses the default button, Esc or
// the end of input cancels, the access key of an appended system-menu entry (the letter
// after '&') sends its command. A message box prints its title and text and waits for Enter.
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <string>

#include "platform/ui/Backend.h"

namespace win::ui {

namespace {

// Puts a terminal into single-key mode for the lifetime of the object; other inputs
// (pipes, files) are read as they are.
class SingleKeyMode {
public:
    explicit SingleKeyMode(int fd) : m_fd(fd), m_active(isatty(fd) && tcgetattr(fd, &m_saved) == 0)
    {
        if (!m_active)
            return;
        termios raw = m_saved;
        raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        tcsetattr(m_fd, TCSANOW, &raw);
    }
    ~SingleKeyMode()
    {
        if (m_active)
            tcsetattr(m_fd, TCSANOW, &m_saved);
    }
    SingleKeyMode(const SingleKeyMode&) = delete;
    SingleKeyMode& operator=(const SingleKeyMode&) = delete;

private:
    int m_fd;
    termios m_saved{};
    bool m_active;
};

bool IsDefaultButton(const ControlView& control)
{
    return control.windowClass == "BUTTON" && (control.style & 0xF) == BS_DEFPUSHBUTTON;
}

// The letter after '&' in a menu text, lower-cased; 0 when there is none.
char AccessKey(const std::string& text)
{
    const size_t amp = text.find('&');
    if (amp == std::string::npos || amp + 1 >= text.size())
        return 0;
    return char(std::tolower(static_cast<unsigned char>(text[amp + 1])));
}

std::string WithoutAccessMarker(std::string text)
{
    if (const size_t amp = text.find('&'); amp != std::string::npos)
        text.erase(amp, 1);
    return text;
}

class TerminalBackend final : public Backend {
public:
    TerminalBackend(int inputFd, int outputFd) : m_in(inputFd), m_out(outputFd) {}

    void ShowDialog(const DialogView& view) override
    {
        std::string text = "\n== " + view.caption + " ==\n";
        std::string keys = "Esc: cancel";
        for (const ControlView& control : view.controls) {
            if (!control.visible || control.icon)
                continue;
            if (control.windowClass == "BUTTON") {
                text += "  [" + control.text + "]\n";
                if (IsDefaultButton(control))
                    keys = "Enter: " + control.text + "  " + keys;
            } else {
                text += "  " + control.text + "\n";
            }
        }
        for (const MenuEntry& entry : view.systemMenu)
            if (AccessKey(entry.text))
                keys += std::string("  ") + char(std::toupper(AccessKey(entry.text))) + ": " +
                        WithoutAccessMarker(entry.text);
        WriteText(m_out, text + "(" + keys + ")\n");
    }

    void SetControlText(const DialogView& view, int controlId) override
    {
        const ControlView* control = view.Control(controlId);
        if (control && control->visible)
            WriteText(m_out, "  " + control->text + "\n");
    }

    void ShowControl(const DialogView&, int) override {}
    void CloseDialog(const DialogView&) override {}
    void DrawIcon(const DialogView&, int, int, const IconResource&) override {}

    void RunModalLoop(const DialogView& view,
                      const std::function<void(const InputMessage&)>& dispatch) override
    {
        SingleKeyMode keys(m_in);
        while (!view.ended) {
            char key;
            if (read(m_in, &key, 1) != 1)
                return;
            if (key == '\r' || key == '\n') {
                for (const ControlView& control : view.controls)
                    if (control.visible && IsDefaultButton(control)) {
                        dispatch({WM_COMMAND, MAKEWPARAM(WORD(control.id), BN_CLICKED), 0});
                        break;
                    }
            } else if (key == 0x1B) {
                dispatch({WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0});
            } else {
                const char lower = char(std::tolower(static_cast<unsigned char>(key)));
                for (const MenuEntry& entry : view.systemMenu)
                    if (!entry.separator && lower != 0 && AccessKey(entry.text) == lower) {
                        dispatch({WM_SYSCOMMAND, entry.id, 0});
                        break;
                    }
            }
        }
    }

    int MessageBox(const std::string& title, const std::string& text, UINT) override
    {
        WriteText(m_out, "\n" + title + ": " + text + "\n(Enter)\n");
        SingleKeyMode keys(m_in);
        char key;
        while (read(m_in, &key, 1) == 1 && key != '\r' && key != '\n') {
        }
        return IDOK;
    }

private:
    int m_in;
    int m_out;
};

}  // namespace

std::unique_ptr<Backend> MakeTerminalBackend(int inputFd, int outputFd)
{
    return std::make_unique<TerminalBackend>(inputFd, outputFd);
}

}  // namespace win::ui
