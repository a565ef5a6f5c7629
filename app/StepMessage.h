// The message boxes of the update steps.
#pragma once

#include "platform/wintypes.h"

// Shows the string-table entry `id` as a modal OK box, its printf fields ("%s") filled
// with the texts given, in order.
void ShowStepMessage(win::UINT id, const char* text1 = "", const char* text2 = "");
