// CWnd: a window of the dialog framework with its message routing. A window's message map
// lists the messages its class handles; what no map in the class chain handles goes to
// default processing. Child controls are CWnd objects owned by their dialog.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/ui/Backend.h"
#include "platform/ui/WinUser.h"

namespace win {

class CWnd;

// The direction and window of one data exchange between controls and members.
class CDataExchange {
public:
    CDataExchange(CWnd* dialog, BOOL saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog)
    {
    }
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

struct RECT {
    LONG left, top, right, bottom;
};

// One handled message: WM_COMMAND entries also match the notification code and control id.
struct MessageMapEntry {
    UINT message;
    UINT code;
    UINT id;
    LRESULT (*handler)(CWnd* window, WPARAM wParam, LPARAM lParam);
};

struct MessageMap {
    const MessageMap* base;
    std::span<const MessageMapEntry> entries;
};

namespace detail {
template <class F>
struct MemberOf;
template <class C, class R, class... A>
struct MemberOf<R (C::*)(A...)> {
    using type = C;
};
template <auto F>
using ClassOf = typename MemberOf<decltype(F)>::type;
}  // namespace detail

// Message-map entries for the handler signatures the framework knows.
template <auto F>  // void OnSysCommand(UINT id, LPARAM lParam)
constexpr MessageMapEntry OnWmSysCommand()
{
    return {WM_SYSCOMMAND, 0, 0, [](CWnd* w, WPARAM wp, LPARAM lp) -> LRESULT {
                (static_cast<detail::ClassOf<F>*>(w)->*F)(UINT(wp), lp);
                return 0;
            }};
}
template <auto F>  // void OnPaint()
constexpr MessageMapEntry OnWmPaint()
{
    return {WM_PAINT, 0, 0, [](CWnd* w, WPARAM, LPARAM) -> LRESULT {
                (static_cast<detail::ClassOf<F>*>(w)->*F)();
                return 0;
            }};
}
template <auto F>  // HICON OnQueryDragIcon()
constexpr MessageMapEntry OnWmQueryDragIcon()
{
    return {WM_QUERYDRAGICON, 0, 0, [](CWnd* w, WPARAM, LPARAM) -> LRESULT {
                return reinterpret_cast<LRESULT>((static_cast<detail::ClassOf<F>*>(w)->*F)());
            }};
}
template <UINT Id, auto F>  // void OnClicked()
constexpr MessageMapEntry OnBnClicked()
{
    return {WM_COMMAND, BN_CLICKED, Id, [](CWnd* w, WPARAM, LPARAM) -> LRESULT {
                (static_cast<detail::ClassOf<F>*>(w)->*F)();
                return 0;
            }};
}

class CMenu {
public:
    BOOL AppendMenu(UINT flags, UINT_PTR id = 0, const char* text = nullptr);

private:
    friend class CWnd;
    explicit CMenu(CWnd* owner) : m_pOwner(owner) {}
    CWnd* m_pOwner;
};

class CWnd {
public:
    CWnd();
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }

    // Routes a message through the message maps to its handler, else default processing.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    CWnd* GetDlgItem(int id);
    BOOL ShowWindow(int showCommand);
    BOOL IsWindowVisible() const;
    void SetWindowText(const char* text);
    std::string GetWindowText() const;
    void SetDlgItemText(int id, const char* text);
    std::string GetDlgItemText(int id) const;

    // The window's system menu, or null when its style has none.
    CMenu* GetSystemMenu(BOOL revert);
    HICON SetIcon(HICON icon, BOOL bigIcon);
    BOOL IsIconic() const;
    void GetClientRect(RECT* rect) const;

    // Moves control values into members (TRUE) or members into controls (FALSE).
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    // What a backend sees of this window; null unless it is an open dialog.
    const ui::DialogView* View() const { return m_pView.get(); }

protected:
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual const MessageMap* GetMessageMap() const;
    virtual void DoDataExchange(CDataExchange*) {}

    // Default processing of these messages, for handlers that pass them on.
    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();

    // Opens this window as a dialog from its template; ShowOpened then draws it.
    void OpenFromTemplate(const ui::DialogTemplate& dialog);
    void ShowOpened();
    void CloseWindow();
    ui::DialogView& MutableView() { return *m_pView; }

private:
    friend class CMenu;
    friend class CPaintDC;

    CWnd(CWnd* parent, int controlId) : m_pParent(parent), m_nControlId(controlId) {}
    // The backend, when this window's dialog is drawn.
    ui::Backend* Shown() const;
    ui::ControlView* Control();
    const ui::ControlView* Control() const;
    size_t ControlIndex() const;

    CWnd* m_pParent = nullptr;
    int m_nControlId = 0;
    std::unique_ptr<ui::DialogView> m_pView;
    std::vector<std::string> m_texts;  // code page 936 text of each control, as in the view
    std::vector<std::unique_ptr<CWnd>> m_children;
    std::string m_caption;  // code page 936
    CMenu m_systemMenu{this};
    HICON m_hBigIcon = nullptr;
    HICON m_hSmallIcon = nullptr;
};

// Painting a window: begins on construction, ends on destruction.
class CPaintDC {
public:
    explicit CPaintDC(CWnd* window);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    HDC GetSafeHdc() const;
    BOOL DrawIcon(int x, int y, HICON icon);

private:
    CWnd* m_pWindow;
};

// Icons and metrics.
HICON LoadIconA(HINSTANCE instance, LPCSTR name);
inline LPCSTR MAKEINTRESOURCEA(WORD id)
{
    return reinterpret_cast<LPCSTR>(static_cast<UINT_PTR>(id));
}
int GetSystemMetrics(int index);
// The icon resource behind a handle from LoadIconA (null for none).
const ui::IconResource* IconFromHandle(HICON icon);

}  // namespace win
