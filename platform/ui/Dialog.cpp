#include "platform/ui/Dialog.h"

namespace win {

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nIDTemplate(templateId), m_pParentWnd(parent)
{
}

INT_PTR CDialog::DoModal()
{
    const ui::DialogTemplate* dialog = ui::FindDialogTemplate(int(m_nIDTemplate));
    if (!dialog)
        return -1;
    m_nModalResult = -1;
    OpenFromTemplate(*dialog);
    SendMessage(WM_INITDIALOG);
    if (!View()->ended) {
        ShowOpened();
        ui::CurrentBackend().RunModalLoop(*View(), [this](const ui::InputMessage& input) {
            SendMessage(input.message, input.wParam, input.lParam);
        });
    }
    // Input that ended without closing the dialog cancels it.
    if (!View()->ended)
        EndDialog(IDCANCEL);
    CloseWindow();
    return m_nModalResult;
}

void CDialog::EndDialog(int result)
{
    m_nModalResult = result;
    if (View())
        MutableView().ended = true;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

const MessageMap* CDialog::GetMessageMap() const
{
    static constexpr MessageMapEntry entries[] = {
        OnBnClicked<IDOK, &CDialog::OnOK>(),
        OnBnClicked<IDCANCEL, &CDialog::OnCancel>(),
    };
    static const MessageMap map{CWnd::GetMessageMap(), entries};
    return &map;
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
        return OnInitDialog();
    return CWnd::WindowProc(message, wParam, lParam);
}

void DDX_Text(CDataExchange* exchange, int id, std::string& value)
{
    if (exchange->m_bSaveAndValidate)
        value = exchange->m_pDlgWnd->GetDlgItemText(id);
    else
        exchange->m_pDlgWnd->SetDlgItemText(id, value.c_str());
}

}  // namespace win
