// Window, dialog and message constants of the dialog framework, with their Windows values.
#pragma once

#include "platform/wintypes.h"

namespace win {

// Window and dialog styles.
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_EX_APPWINDOW = 0x00040000;
constexpr DWORD DS_MODALFRAME = 0x80;
constexpr DWORD DS_SETFONT = 0x40;
constexpr DWORD SS_LEFT = 0x0;
constexpr DWORD SS_ICON = 0x3;
constexpr DWORD SS_NOPREFIX = 0x80;
constexpr DWORD BS_PUSHBUTTON = 0x0;
constexpr DWORD BS_DEFPUSHBUTTON = 0x1;

// Messages and notification codes.
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_QUERYDRAGICON = 0x0037;
constexpr UINT WM_ICONERASEBKGND = 0x0027;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT BN_CLICKED = 0;

// System commands.
constexpr UINT SC_MINIMIZE = 0xF020;
constexpr UINT SC_CLOSE = 0xF060;
constexpr UINT SC_RESTORE = 0xF120;

// Dialog results and message-box types.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr UINT MB_OK = 0x0;

// SetIcon, menus, system metrics (ShowWindow's SW_ values come with the platform types).
constexpr int ICON_SMALL = 0;
constexpr int ICON_BIG = 1;
constexpr UINT MF_STRING = 0x0;
constexpr UINT MF_SEPARATOR = 0x800;
constexpr int SM_CXICON = 11;
constexpr int SM_CYICON = 12;

// Device context of a paint operation.
struct HDC__;
using HDC = HDC__*;

constexpr WORD LOWORD(WPARAM v) { return WORD(v & 0xFFFF); }
constexpr WORD HIWORD(WPARAM v) { return WORD((v >> 16) & 0xFFFF); }
constexpr WPARAM MAKEWPARAM(WORD low, WORD high) { return WPARAM(low) | (WPARAM(high) << 16); }

}  // namespace win
