// The minimal dialog framework: application object, windows and dialogs, message boxes,
// resources and the UI backend seam.
#pragma once

#include "platform/ui/Backend.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/Resources.h"
#include "platform/ui/WinApp.h"
#include "platform/ui/Wnd.h"
#include "platform/ui/WinUser.h"
