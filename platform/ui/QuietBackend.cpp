// The backend for runs without a person at a terminal: nothing waits for input. Message
// boxes go to standard error as "title: text"; a dialog that still waits for input after
// its initialisation is cancelled, with a line saying so.
#include <string>

#include "platform/ui/Backend.h"

namespace win::ui {

namespace {

class QuietBackend final : public Backend {
public:
    explicit QuietBackend(int errorFd) : m_fd(errorFd) {}

    void ShowDialog(const DialogView&) override {}
    void SetControlText(const DialogView&, int) override {}
    void ShowControl(const DialogView&, int) override {}
    void CloseDialog(const DialogView&) override {}
    void DrawIcon(const DialogView&, int, int, const IconResource&) override {}

    void RunModalLoop(const DialogView& view,
                      const std::function<void(const InputMessage&)>& dispatch) override
    {
        Write(view.caption + ": no terminal to answer this dialog; it is cancelled\n");
        dispatch({WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0});
    }

    int MessageBox(const std::string& title, const std::string& text, UINT) override
    {
        Write(title + ": " + text + "\n");
        return IDOK;
    }

private:
    void Write(const std::string& line) { WriteText(m_fd, line); }

    int m_fd;
};

}  // namespace

std::unique_ptr<Backend> MakeQuietBackend(int errorFd)
{
    return std::make_unique<QuietBackend>(errorFd);
}

}  // namespace win::ui
