// CAboutDlg: the About box (dialog template 100), opened from the system menu.
#pragma once

#include "platform/ui/Dialog.h"

class CAboutDlg : public win::CDialog {
public:
    CAboutDlg();
};
