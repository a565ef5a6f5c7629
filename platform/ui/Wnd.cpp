#include "platform/ui/Wnd.h"

#include "platform/codepage.h"

namespace win {

namespace {
// Dialog units to pixels for the 9-point dialog font: 6 x 12 pixel base units.
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 12;
constexpr int kIconSize = 32;
}  // namespace

BOOL CMenu::AppendMenu(UINT flags, UINT_PTR id, const char* text)
{
    ui::DialogView* view = m_pOwner->m_pView.get();
    if (!view)
        return FALSE;
    const bool separator = (flags & MF_SEPARATOR) != 0;
    view->systemMenu.push_back(
        {UINT(id), separator, separator || !text ? std::string() : Cp936ToUtf8(text)});
    return TRUE;
}

CWnd::CWnd() = default;
CWnd::~CWnd() = default;

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return WindowProc(message, wParam, lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    for (const MessageMap* map = GetMessageMap(); map; map = map->base)
        for (const MessageMapEntry& entry : map->entries) {
            if (entry.message != message)
                continue;
            if (message == WM_COMMAND && (entry.code != HIWORD(wParam) || entry.id != LOWORD(wParam)))
                continue;
            return entry.handler(this, wParam, lParam);
        }
    return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM)
{
    if (message != WM_SYSCOMMAND || !m_pView)
        return 0;
    switch (wParam & 0xFFF0) {
    case SC_CLOSE:
        SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED));
        break;
    case SC_MINIMIZE:
    case SC_RESTORE:
        m_pView->minimized = (wParam & 0xFFF0) == SC_MINIMIZE;
        SendMessage(WM_PAINT);
        break;
    }
    return 0;
}

const MessageMap* CWnd::GetMessageMap() const
{
    return nullptr;
}

void CWnd::OnSysCommand(UINT id, LPARAM lParam)
{
    CWnd::DefWindowProc(WM_SYSCOMMAND, id, lParam);
}

void CWnd::OnPaint()
{
    CWnd::DefWindowProc(WM_PAINT, 0, 0);
}

void CWnd::OpenFromTemplate(const ui::DialogTemplate& dialog)
{
    m_pView = std::make_unique<ui::DialogView>();
    ui::DialogView& view = *m_pView;
    view.templateId = dialog.id;
    view.caption = Cp936ToUtf8(dialog.caption);
    view.style = dialog.style;
    view.exStyle = dialog.exStyle;
    view.cx = dialog.cx;
    view.cy = dialog.cy;
    view.fontFace = Cp936ToUtf8(dialog.fontFace);
    view.pointSize = dialog.pointSize;
    m_caption = dialog.caption;
    m_texts.clear();
    m_children.clear();
    for (const ui::DialogItem& item : dialog.items) {
        const ui::IconResource* icon = item.iconId ? ui::FindIconResource(item.iconId) : nullptr;
        view.controls.push_back({item.id, item.windowClass, item.style, item.x, item.y, item.cx,
                                 item.cy, Cp936ToUtf8(item.text), (item.style & WS_VISIBLE) != 0,
                                 icon});
        m_texts.emplace_back(item.text);
        m_children.push_back(std::unique_ptr<CWnd>(new CWnd(this, item.id)));
        m_children.back()->m_hWnd = reinterpret_cast<HWND>(m_children.back().get());
    }
    m_hWnd = reinterpret_cast<HWND>(this);
}

void CWnd::ShowOpened()
{
    m_pView->shown = true;
    ui::CurrentBackend().ShowDialog(*m_pView);
}

ui::Backend* CWnd::Shown() const
{
    const CWnd* top = m_pParent ? m_pParent : this;
    return top->m_pView && top->m_pView->shown ? &ui::CurrentBackend() : nullptr;
}

void CWnd::CloseWindow()
{
    if (!m_pView)
        return;
    if (ui::Backend* backend = Shown())
        backend->CloseDialog(*m_pView);
    m_children.clear();
    m_texts.clear();
    m_pView.reset();
    m_hWnd = nullptr;
}

size_t CWnd::ControlIndex() const
{
    const auto& controls = m_pParent->m_pView->controls;
    for (size_t i = 0; i < controls.size(); ++i)
        if (controls[i].id == m_nControlId)
            return i;
    return controls.size();
}

ui::ControlView* CWnd::Control()
{
    return &m_pParent->m_pView->controls[ControlIndex()];
}

const ui::ControlView* CWnd::Control() const
{
    return &m_pParent->m_pView->controls[ControlIndex()];
}

CWnd* CWnd::GetDlgItem(int id)
{
    for (auto& child : m_children)
        if (child->m_nControlId == id)
            return child.get();
    return nullptr;
}

BOOL CWnd::ShowWindow(int showCommand)
{
    const bool visible = showCommand != SW_HIDE;
    if (!m_pParent)
        return m_hWnd != nullptr;
    ui::ControlView* control = Control();
    const BOOL wasVisible = control->visible;
    control->visible = visible;
    if (ui::Backend* backend = Shown())
        backend->ShowControl(*m_pParent->m_pView, m_nControlId);
    return wasVisible;
}

BOOL CWnd::IsWindowVisible() const
{
    return m_pParent ? Control()->visible : m_pView != nullptr;
}

void CWnd::SetWindowText(const char* text)
{
    if (!m_pParent) {
        m_caption = text;
        if (m_pView)
            m_pView->caption = Cp936ToUtf8(text);
        return;
    }
    const size_t index = ControlIndex();
    m_pParent->m_texts[index] = text;
    m_pParent->m_pView->controls[index].text = Cp936ToUtf8(text);
    if (ui::Backend* backend = Shown())
        backend->SetControlText(*m_pParent->m_pView, m_nControlId);
}

std::string CWnd::GetWindowText() const
{
    return m_pParent ? m_pParent->m_texts[ControlIndex()] : m_caption;
}

void CWnd::SetDlgItemText(int id, const char* text)
{
    if (CWnd* control = GetDlgItem(id))
        control->SetWindowText(text);
}

std::string CWnd::GetDlgItemText(int id) const
{
    for (const auto& child : m_children)
        if (child->m_nControlId == id)
            return child->GetWindowText();
    return std::string();
}

CMenu* CWnd::GetSystemMenu(BOOL)
{
    return m_pView && (m_pView->style & WS_SYSMENU) ? &m_systemMenu : nullptr;
}

HICON CWnd::SetIcon(HICON icon, BOOL bigIcon)
{
    HICON& slot = bigIcon ? m_hBigIcon : m_hSmallIcon;
    HICON previous = slot;
    slot = icon;
    if (m_pView && bigIcon)
        m_pView->icon = IconFromHandle(icon);
    return previous;
}

BOOL CWnd::IsIconic() const
{
    return m_pView && m_pView->minimized;
}

void CWnd::GetClientRect(RECT* rect) const
{
    *rect = {0, 0, 0, 0};
    if (m_pView) {
        rect->right = m_pView->cx * kBaseUnitX / 4;
        rect->bottom = m_pView->cy * kBaseUnitY / 8;
    }
}

BOOL CWnd::UpdateData(BOOL saveAndValidate)
{
    CDataExchange exchange(this, saveAndValidate);
    DoDataExchange(&exchange);
    return TRUE;
}

CPaintDC::CPaintDC(CWnd* window) : m_pWindow(window) {}
CPaintDC::~CPaintDC() = default;

HDC CPaintDC::GetSafeHdc() const
{
    return reinterpret_cast<HDC>(m_pWindow);
}

BOOL CPaintDC::DrawIcon(int x, int y, HICON icon)
{
    const ui::IconResource* resource = IconFromHandle(icon);
    if (!resource || !m_pWindow->m_pView)
        return FALSE;
    if (ui::Backend* backend = m_pWindow->Shown())
        backend->DrawIcon(*m_pWindow->m_pView, x, y, *resource);
    return TRUE;
}

HICON LoadIconA(HINSTANCE, LPCSTR name)
{
    const auto id = static_cast<WORD>(reinterpret_cast<UINT_PTR>(name));
    const ui::IconResource* icon = ui::FindIconResource(id);
    return reinterpret_cast<HICON>(const_cast<ui::IconResource*>(icon));
}

const ui::IconResource* IconFromHandle(HICON icon)
{
    return reinterpret_cast<const ui::IconResource*>(icon);
}

int GetSystemMetrics(int index)
{
    return index == SM_CXICON || index == SM_CYICON ? kIconSize : 0;
}

}  // namespace win
