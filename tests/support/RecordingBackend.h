// A UI backend for in-process tests: records what the framework shows and feeds each modal
// loop from a queue of scripted input. Installed for the lifetime of a ScopedRecordingBackend.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Backend.h"

class RecordingBackend : public win::ui::Backend {
public:
    struct Box {
        std::string title;
        std::string text;
    };
    struct Icon {
        int x, y;
        const win::ui::IconResource* icon;
    };

    std::vector<win::ui::DialogView> shown;                // each dialog as first drawn
    std::vector<std::pair<int, std::string>> textChanges;  // control id, UTF-8 text, once drawn
    std::vector<Box> boxes;
    std::vector<Icon> drawnIcons;
    // Input for the modal loops; an empty queue ends the loop (the dialog is cancelled).
    std::deque<win::ui::InputMessage> input;
    // Runs before each message box returns (e.g. to release a lock the box reports).
    std::function<void(const Box&)> onBox;

    void ShowDialog(const win::ui::DialogView& view) override;
    void SetControlText(const win::ui::DialogView& view, int controlId) override;
    void ShowControl(const win::ui::DialogView&, int) override {}
    void CloseDialog(const win::ui::DialogView&) override {}
    void RunModalLoop(const win::ui::DialogView& view,
                      const std::function<void(const win::ui::InputMessage&)>& dispatch) override;
    int MessageBox(const std::string& title, const std::string& text, win::UINT type) override;
    void DrawIcon(const win::ui::DialogView&, int x, int y,
                  const win::ui::IconResource& icon) override;

    std::vector<int> ShownIds() const;

    // Convenience inputs.
    void Click(int id);
    void SysCommand(win::UINT id);
};

// Installs a RecordingBackend; the backend it replaced comes back at the end of the scope.
class ScopedRecordingBackend {
public:
    ScopedRecordingBackend();
    ~ScopedRecordingBackend();
    RecordingBackend* operator->() { return m_backend; }
    RecordingBackend& operator*() { return *m_backend; }

private:
    RecordingBackend* m_backend;
    std::unique_ptr<win::ui::Backend> m_previous;
};
