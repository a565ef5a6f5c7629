// Everything the logic uses of the platform, under the Windows names, in namespace win.
#pragma once
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/filetime.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/sync.h"
#include "platform/system.h"
#include "platform/window.h"
#include "platform/wintypes.h"
