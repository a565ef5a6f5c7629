#include "support/RecordingBackend.h"

#include <memory>

using namespace win;

void RecordingBackend::ShowDialog(const ui::DialogView& view)
{
    shown.push_back(view);
}

std::vector<int> RecordingBackend::ShownIds() const
{
    std::vector<int> ids;
    for (const ui::DialogView& view : shown)
        ids.push_back(view.templateId);
    return ids;
}

void RecordingBackend::SetControlText(const ui::DialogView& view, int controlId)
{
    textChanges.emplace_back(controlId, view.Control(controlId)->text);
}

void RecordingBackend::RunModalLoop(const ui::DialogView& view,
                                    const std::function<void(const ui::InputMessage&)>& dispatch)
{
    while (!view.ended && !input.empty()) {
        const ui::InputMessage next = input.front();
        input.pop_front();
        dispatch(next);
    }
}

int RecordingBackend::MessageBox(const std::string& title, const std::string& text, UINT)
{
    boxes.push_back({title, text});
    if (onBox)
        onBox(boxes.back());
    return IDOK;
}

void RecordingBackend::DrawIcon(const ui::DialogView&, int x, int y, const ui::IconResource& icon)
{
    drawnIcons.push_back({x, y, &icon});
}

void RecordingBackend::Click(int id)
{
    input.push_back({WM_COMMAND, MAKEWPARAM(WORD(id), BN_CLICKED), 0});
}

void RecordingBackend::SysCommand(UINT id)
{
    input.push_back({WM_SYSCOMMAND, id, 0});
}

ScopedRecordingBackend::ScopedRecordingBackend()
{
    auto backend = std::make_unique<RecordingBackend>();
    m_backend = backend.get();
    m_previous = ui::SetBackend(std::move(backend));
}

ScopedRecordingBackend::~ScopedRecordingBackend()
{
    ui::SetBackend(std::move(m_previous));
}
