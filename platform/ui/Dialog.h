// CDialog: a modal dialog made from a dialog template. DoModal opens it, runs
// OnInitDialog and then the backend's modal loop until EndDialog; IDOK clicks go to OnOK,
// IDCANCEL (Esc, the close box) to OnCancel. DDX_Text binds a string member to a control.
#pragma once

#include <string>

#include "platform/ui/Wnd.h"

namespace win {

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);

    // The value given to EndDialog; -1 when the template does not exist.
    virtual INT_PTR DoModal();
    void EndDialog(int result);

protected:
    // Puts the members into the controls; TRUE lets the system set the focus.
    virtual BOOL OnInitDialog();
    // Takes the controls back into the members and ends with IDOK.
    virtual void OnOK();
    virtual void OnCancel();

    const MessageMap* GetMessageMap() const override;

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    INT_PTR m_nModalResult = -1;
};

// Transfers `value` (code page 936) to control `id`, or back when saving.
void DDX_Text(CDataExchange* exchange, int id, std::string& value);

}  // namespace win
