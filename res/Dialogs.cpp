// Dialog templates 100 (About box) and 102 (update dialog); texts in code page 936, given
// in the comments.
#include "platform/ui/WinUser.h"
#include "res/ResourceParts.h"
#include "res/resource.h"

namespace res {

namespace {
using namespace win;
using win::ui::DialogItem;
using win::ui::DialogTemplate;

constexpr const char* kFont = "\xCB\xCE\xCC\xE5";  // 宋体

constexpr DialogItem kUpdateItems[] = {
    // 安装程序需要更新Korvane，请您先关闭Korvane
    {IDC_STATUS, "STATIC", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 17, 12, 175, 8,
     "\xB0\xB2\xD7\xB0\xB3\xCC\xD0\xF2\xD0\xE8\xD2\xAA\xB8\xFC\xD0\xC2Korvane\xA3\xAC\xC7\xEB"
     "\xC4\xFA\xCF\xC8\xB9\xD8\xB1\xD5Korvane"},
    // 确认
    {IDC_CONFIRM, "BUTTON", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 67, 31, 50, 14,
     "\xC8\xB7\xC8\xCF"},
};

constexpr DialogItem kAboutItems[] = {
    {0xFFFF, "STATIC", WS_CHILD | WS_VISIBLE | SS_ICON, 11, 17, 20, 20, "", IDR_MAINFRAME},
    // Update 1.0 版
    {0xFFFF, "STATIC", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT | SS_NOPREFIX, 40, 10, 119, 8,
     "Update 1.0 \xB0\xE6"},
    // 版权所有 (C) 2026
    {0xFFFF, "STATIC", WS_CHILD | WS_VISIBLE | SS_LEFT, 40, 25, 119, 8,
     "\xB0\xE6\xC8\xA8\xCB\xF9\xD3\xD0 (C) 2026"},
    // 确定
    {IDOK, "BUTTON", WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON, 178, 7, 50,
     14, "\xC8\xB7\xB6\xA8"},
};

constexpr DialogTemplate kDialogs[] = {
    // 关于 Update
    {IDD_ABOUTBOX, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT, 0, 0, 0, 235,
     55, "\xB9\xD8\xD3\xDA Update", kFont, 9, kAboutItems},
    // Korvane更新程序
    {IDD_UPDATE_DIALOG,
     WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_MODALFRAME | DS_SETFONT,
     WS_EX_APPWINDOW, 0, 0, 201, 51, "Korvane\xB8\xFC\xD0\xC2\xB3\xCC\xD0\xF2", kFont, 9,
     kUpdateItems},
};
}  // namespace

std::span<const win::ui::DialogTemplate> DialogTemplates()
{
    return kDialogs;
}

}  // namespace res
