#include "app/StepMessage.h"

#include <cstdio>
#include <string>

#include "platform/ui/Resources.h"
#include "platform/ui/WinApp.h"

void ShowStepMessage(win::UINT id, const char* text1, const char* text2) {
    const std::string format = win::ui::AfxLoadString(id);
    const int length = std::snprintf(nullptr, 0, format.c_str(), text1, text2);
    std::string text(length > 0 ? length : 0, '\0');
    std::snprintf(text.data(), text.size() + 1, format.c_str(), text1, text2);
    win::AfxMessageBox(text.c_str(), win::MB_OK);
}
