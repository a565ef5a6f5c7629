#include "app/ResultReport.h"

#include <cstdint>
#include <cstdio>

#include "platform/window.h"

void SendUpdateResult(int nWaitWnd, int result)
{
    char title[64];
    std::snprintf(title, sizeof title, "WaitForUpdateResultWnd%d", nWaitWnd);
    if (win::HWND window = win::FindWindowA(nullptr, title))
        win::SendMessageA(window, WM_UPDATE_RESULT, win::WPARAM(std::uint32_t(result)), 0);
}
