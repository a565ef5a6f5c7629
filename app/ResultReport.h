// The result of an automatic update, sent to the client's waiting window.
#pragma once

#include "platform/wintypes.h"

constexpr win::UINT WM_UPDATE_RESULT = 8071;

// Sends WM_UPDATE_RESULT (wParam: the result as 32 bits, lParam 0) to the top-level window
// titled "WaitForUpdateResultWnd<nWaitWnd>" and waits until it is handled; nothing happens
// when there is no such window.
void SendUpdateResult(int nWaitWnd, int result);
