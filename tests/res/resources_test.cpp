// The updater's resources: every text is the exact code page 936 form of what the user
// must see, the dialog templates carry their layout, and the icon has both sizes.
#include <gtest/gtest.h>

#include <set>

#include "platform/codepage.h"
#include "platform/ui/WinUser.h"
#include "res/Resources.h"

using namespace win;
using namespace win::ui;

namespace {

class ResourcesTest : public ::testing::Test {
protected:
    ResourcesTest() { AfxSetResourceModule(&res::UpdaterResources()); }
    ~ResourcesTest() override { AfxSetResourceModule(nullptr); }

    // The text as shown, after checking that it is exact code page 936.
    static std::string Shown(const char* cp936)
    {
        std::string utf8;
        EXPECT_TRUE(Cp936ToUtf8Exact(cp936, &utf8)) << cp936;
        return utf8;
    }
};

TEST_F(ResourcesTest, StringTableHoldsTheExactTexts)
{
    const std::pair<unsigned, const char*> cases[] = {
        {IDS_ABOUTBOX, "关于 Update(&A)..."},
        {IDP_SOCKETS_INIT_FAILED, "Windows 通信端口初始化失败。"},
        {IDS_CLOSE_CLIENT_PROMPT, "安装程序需要更新大厅，请您先关闭Korvane"},
        {IDS_CLIENT_RUNNING, "请先关闭大厅才能进行自动安装！"},
        {IDS_UPDATE_STARTING, "开始升级Korvane，请稍候..."},
        {IDS_UPDATE_SUCCEEDED, "Korvane升级成功,正在调入..."},
        {IDS_UPDATE_FAILED, "Korvane升级失败！"},
        {IDS_PACKAGE_FAULTY, "下载的文件有误!"},
        {IDS_PACKAGE_MISSING, "待解压的文件%s不存在!"},
        {IDS_EXTRACT_FAILED, "解压下载的文件失败【%s】,请确认下载的文件是否正确!"},
        {IDS_LISTED_FILE_MISSING, "下载文件有误:文件%s不存在!"},
        {IDS_TARGET_IN_USE, "文件%s无法更新,如果%s正在运行,请先关闭!"},
        {IDS_REPLACE_FAILED, "更新文件失败:文件【%s】覆盖【%s】失败!"},
        {IDS_RESTORE_FAILED, "自动更新时发生了错误,原来的程序已经不能使用，请下载完整的安装文件！"},
        {IDS_ARGS_INCOMPLETE, "升级参数不完整,无法进行升级!"},
        {IDS_ARGS_TOO_LONG, "升级参数过长,无法进行升级!"},
        {IDS_ARGS_INVALID, "升级参数有误,无法进行升级!"},
    };
    for (const auto& [id, text] : cases)
        EXPECT_EQ(Shown(AfxLoadString(id).c_str()), text) << id;
    EXPECT_EQ(AfxLoadString(102), "");
}

TEST_F(ResourcesTest, UpdateDialogTemplate)
{
    const DialogTemplate* dialog = FindDialogTemplate(IDD_UPDATE_DIALOG);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Shown(dialog->caption), "Korvane更新程序");
    EXPECT_EQ(Shown(dialog->fontFace), "宋体");
    EXPECT_EQ(dialog->pointSize, 9);
    EXPECT_EQ(dialog->cx, 201);
    EXPECT_EQ(dialog->cy, 51);
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE;
    EXPECT_EQ(dialog->style & style, style);
    EXPECT_EQ(dialog->exStyle, WS_EX_APPWINDOW);
    ASSERT_EQ(dialog->items.size(), 2u);

    const DialogItem& status = dialog->items[0];
    EXPECT_EQ(status.id, IDC_STATUS);
    EXPECT_STREQ(status.windowClass, "STATIC");
    EXPECT_EQ(status.style & (WS_GROUP | 0xF), WS_GROUP | SS_LEFT);
    EXPECT_EQ((std::vector<int>{status.x, status.y, status.cx, status.cy}),
              (std::vector<int>{17, 12, 175, 8}));
    EXPECT_EQ(Shown(status.text), "安装程序需要更新Korvane，请您先关闭Korvane");

    const DialogItem& confirm = dialog->items[1];
    EXPECT_EQ(confirm.id, IDC_CONFIRM);
    EXPECT_STREQ(confirm.windowClass, "BUTTON");
    EXPECT_EQ(confirm.style & (WS_TABSTOP | 0xF), WS_TABSTOP | BS_DEFPUSHBUTTON);
    EXPECT_EQ((std::vector<int>{confirm.x, confirm.y, confirm.cx, confirm.cy}),
              (std::vector<int>{67, 31, 50, 14}));
    EXPECT_EQ(Shown(confirm.text), "确认");
}

TEST_F(ResourcesTest, AboutBoxTemplate)
{
    const DialogTemplate* dialog = FindDialogTemplate(IDD_ABOUTBOX);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Shown(dialog->caption), "关于 Update");
    EXPECT_EQ(Shown(dialog->fontFace), "宋体");
    EXPECT_EQ(dialog->cx, 235);
    EXPECT_EQ(dialog->cy, 55);
    EXPECT_EQ(dialog->style & WS_VISIBLE, 0u);
    ASSERT_EQ(dialog->items.size(), 4u);
    EXPECT_EQ(dialog->items[0].style & 0xF, SS_ICON);
    EXPECT_EQ(dialog->items[0].iconId, IDR_MAINFRAME);
    EXPECT_EQ((std::vector<int>{dialog->items[0].x, dialog->items[0].y}), (std::vector<int>{11, 17}));
    EXPECT_EQ(Shown(dialog->items[1].text), "Update 1.0 版");
    EXPECT_NE(dialog->items[1].style & SS_NOPREFIX, 0u);
    EXPECT_EQ((std::vector<int>{dialog->items[2].x, dialog->items[2].y}), (std::vector<int>{40, 25}));
    EXPECT_EQ(dialog->items[3].id, IDOK);
    EXPECT_EQ(Shown(dialog->items[3].text), "确定");
    EXPECT_EQ((std::vector<int>{dialog->items[3].x, dialog->items[3].y}), (std::vector<int>{178, 7}));
}

TEST_F(ResourcesTest, IconHasBothSizesWithAlpha)
{
    const IconResource* icon = FindIconResource(IDR_MAINFRAME);
    ASSERT_NE(icon, nullptr);
    ASSERT_EQ(icon->images.size(), 2u);
    for (const IconImage& image : icon->images) {
        SCOPED_TRACE(image.width);
        EXPECT_EQ(image.height, image.width);
        EXPECT_EQ(image.bitsPerPixel, 32);
        ASSERT_EQ(image.pixels.size(), size_t(image.width * image.height));
        // Transparent corners, an opaque centre, and a drawing of several colours.
        EXPECT_EQ(image.pixels.front() >> 24, 0u);
        EXPECT_EQ(image.pixels[image.pixels.size() / 2 + image.width / 2] >> 24, 0xFFu);
        EXPECT_GE(std::set<std::uint32_t>(image.pixels.begin(), image.pixels.end()).size(), 4u);
    }
    EXPECT_EQ(icon->images[0].width, 32);
    EXPECT_EQ(icon->images[1].width, 16);
}

}  // namespace
