// The updater's windows on a real X display: a private Xvfb, the real Update, holdmutex and
// waitwnd programs, and xdotool clicking and typing as a person would. The window backend
// reports what it shows (KORVANE_UI_REPORT); the tests check the layout from those reports
// (controls at their template positions inside the client area, no overlap, no clipped
// text) and save screenshots under the build folder (artifacts/gui).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/ui/Resources.h"
#include "platform/window.h"
#include "platform/ui/WinUser.h"
#include "res/Resources.h"
#include "res/resource.h"
#include "support/ChildProcess.h"
#include "support/ForcedSteps.h"

namespace {

constexpr const char* kCaption = "Korvane更新程序";
constexpr const char* kPrompt = "安装程序需要更新大厅，请您先关闭Korvane";
constexpr const char* kRefusal = "请先关闭大厅才能进行自动安装！";
constexpr const char* kStarting = "开始升级Korvane，请稍候...";
constexpr const char* kSucceeded = "Korvane升级成功,正在调入...";

std::string Capture(const std::string& command)
{
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

bool Installed(const char* program)
{
    return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) == 0;
}

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    bool Contains(const Rect& r) const
    {
        return r.x >= x && r.y >= y && r.x + r.w <= x + w && r.y + r.h <= y + h;
    }
    bool Overlaps(const Rect& r) const
    {
        return r.x < x + w && x < r.x + r.w && r.y < y + h && y < r.y + r.h;
    }
};

std::ostream& operator<<(std::ostream& out, const Rect& r)
{
    return out << r.w << "x" << r.h << "+" << r.x << "+" << r.y;
}

Rect ReadRect(std::istream& in)
{
    Rect r;
    in >> r.x >> r.y >> r.w >> r.h;
    return r;
}

// One line of the backend's report: its time, kind and the rest.
struct ReportLine {
    long long ms;
    std::string kind;
    std::string rest;
};

struct ControlLayout {
    int id;
    bool shown;
    Rect rect, text;
    int inkW, inkH;
    std::string label;
};

// One repaint of a dialog as reported.
struct DialogLayout {
    int templateId;
    Rect client;
    int baseX, baseY;
    std::string font;
    Rect menu;
    std::vector<ControlLayout> controls;
};

int MulDiv(int value, int numerator, int denominator)
{
    return (value * numerator + denominator / 2) / denominator;
}

const win::ui::DialogTemplate& Template(int id)
{
    for (const auto& dialog : res::UpdaterResources().dialogs)
        if (dialog.id == id)
            return dialog;
    throw std::runtime_error("no template " + std::to_string(id));
}

// Checks one reported layout against its template, as a person would look at it.
void ExpectSoundLayout(const DialogLayout& layout)
{
    SCOPED_TRACE("dialog " + std::to_string(layout.templateId));
    const win::ui::DialogTemplate& dialog = Template(layout.templateId);
    EXPECT_GT(layout.baseX, 0);
    EXPECT_GT(layout.baseY, 0);
    EXPECT_EQ(layout.client.w, MulDiv(dialog.cx, layout.baseX, 4));
    EXPECT_EQ(layout.client.h, MulDiv(dialog.cy, layout.baseY, 8));
    ASSERT_EQ(layout.controls.size(), dialog.items.size());
    std::vector<Rect> shown;
    for (size_t i = 0; i < layout.controls.size(); ++i) {
        const ControlLayout& control = layout.controls[i];
        const win::ui::DialogItem& item = dialog.items[i];
        SCOPED_TRACE("control " + std::to_string(i) + " \"" + control.label + "\"");
        EXPECT_EQ(control.id, item.id);
        if (!control.shown)
            continue;
        // At its template position; an icon control takes its icon's size, others theirs.
        EXPECT_EQ(control.rect.x - layout.client.x, MulDiv(item.x, layout.baseX, 4));
        EXPECT_EQ(control.rect.y - layout.client.y, MulDiv(item.y, layout.baseY, 8));
        if ((item.style & 0xF) == win::SS_ICON && std::string(item.windowClass) == "STATIC") {
            EXPECT_EQ(control.rect.w, 32);
            EXPECT_EQ(control.rect.h, 32);
        } else {
            EXPECT_EQ(control.rect.w, MulDiv(item.cx, layout.baseX, 4));
            EXPECT_EQ(control.rect.h, MulDiv(item.cy, layout.baseY, 8));
        }
        EXPECT_TRUE(layout.client.Contains(control.rect)) << control.rect << " in " << layout.client;
        // What it holds fits: the label (or image) lies inside and its text is not cut.
        EXPECT_TRUE(control.rect.Contains(control.text)) << control.text << " in " << control.rect;
        EXPECT_LE(control.inkW, control.text.w);
        EXPECT_LE(control.inkH, control.text.h);
        EXPECT_GT(control.inkW, 0);
        for (const Rect& other : shown)
            EXPECT_FALSE(other.Overlaps(control.rect)) << other << " and " << control.rect;
        shown.push_back(control.rect);
    }
}

// A private X display for the whole suite.
class GtkWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
#ifdef KORVANE_UI_GTK
        for (const char* program : {"Xvfb", "xdotool", "xprop"})
            if (!Installed(program)) {
                s_skip = std::string(program) + " is not installed";
                return;
            }
        // -displayfd 1: Xvfb picks a free display and prints its number when it is ready.
        s_server = std::make_unique<ChildProcess>(std::vector<std::string>{
            "/bin/sh", "-c", "exec Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp"});
        for (int waited = 0; waited < 20000 && s_server->Stdout().find('\n') == std::string::npos;
             waited += 20)
            usleep(20000);
        const std::string number = s_server->Stdout();
        if (number.find('\n') == std::string::npos) {
            s_skip = "Xvfb did not start: " + s_server->Stderr();
            s_server.reset();
            return;
        }
        s_display = ":" + number.substr(0, number.find('\n'));
#else
        s_skip = "built without GTK 3";
#endif
    }

    static void TearDownTestSuite() { s_server.reset(); }

    void SetUp() override
    {
        if (!s_skip.empty())
            GTEST_SKIP() << s_skip;
        UsePrivateRuntimeFolder();
        std::filesystem::copy_file(BinPath("Update"), client / "Update");
        // A stand-in for the client that records its start.
        WriteFile(client / "Korvane.exe", "#!/bin/sh\ntouch '" + client / "started" + "'\n", 0755);
        std::filesystem::create_directories(Artifacts());
    }

    std::vector<std::string> Environment(const std::string& ui, const std::string& faults) const
    {
        return {"DISPLAY=" + s_display,
                "WAYLAND_DISPLAY=",
                "KORVANE_UI=" + ui,
                "KORVANE_UI_REPORT=" + Report(),
                "KORVANE_FAULTS=" + std::string(kStepsSucceed) + faults,
                "NO_AT_BRIDGE=1",
                // The toolkit keeps its caches until exit, by design.
                "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"};
    }

    std::unique_ptr<ChildProcess> StartUpdate(const std::string& commandLine, const std::string& ui,
                                              const std::string& faults = "")
    {
        return std::make_unique<ChildProcess>(std::vector<std::string>{client / "Update", commandLine},
                                              Environment(ui, faults), client.path());
    }

    std::string Report() const { return client / "report"; }
    static std::string Artifacts() { return std::string(KORVANE_BIN_DIR) + "/../artifacts/gui"; }

    std::vector<ReportLine> ReportLines() const
    {
        std::vector<ReportLine> lines;
        std::istringstream in(ReadFile(Report()));
        std::string text;
        while (std::getline(in, text)) {
            std::istringstream fields(text);
            ReportLine line;
            fields >> line.ms >> line.kind;
            std::getline(fields >> std::ws, line.rest);
            lines.push_back(line);
        }
        return lines;
    }

    // The first report line of `kind` whose rest begins with `prefix`, within the time.
    bool WaitForReport(const std::string& kind, const std::string& prefix, ReportLine* found = nullptr,
                       int timeoutMs = 20000) const
    {
        for (int waited = 0; waited <= timeoutMs; waited += 20) {
            for (const ReportLine& line : ReportLines())
                if (line.kind == kind && line.rest.rfind(prefix, 0) == 0) {
                    if (found)
                        *found = line;
                    return true;
                }
            usleep(20000);
        }
        return false;
    }

    int Count(const std::string& kind, const std::string& prefix) const
    {
        int n = 0;
        for (const ReportLine& line : ReportLines())
            n += line.kind == kind && line.rest.rfind(prefix, 0) == 0;
        return n;
    }

    // Every reported repaint of dialog `templateId`, in order.
    std::vector<DialogLayout> Layouts(int templateId) const
    {
        std::vector<DialogLayout> layouts;
        for (const ReportLine& line : ReportLines()) {
            std::istringstream in(line.rest);
            int id = 0;
            in >> id;
            if (id != templateId)
                continue;
            if (line.kind == "dialog") {
                DialogLayout layout{};
                std::string word;
                layout.templateId = id;
                in >> word;
                layout.client = ReadRect(in);
                in >> word >> layout.baseX >> layout.baseY >> word;
                std::getline(in >> std::ws, layout.font);
                layouts.push_back(layout);
            } else if (line.kind == "menu" && !layouts.empty()) {
                layouts.back().menu = ReadRect(in);
            } else if (line.kind == "control" && !layouts.empty()) {
                ControlLayout control{};
                int index, shown;
                std::string word;
                in >> index >> control.id >> shown;
                control.shown = shown != 0;
                control.rect = ReadRect(in);
                in >> word;
                control.text = ReadRect(in);
                in >> control.inkW >> control.inkH;
                std::getline(in >> std::ws, control.label);
                layouts.back().controls.push_back(control);
            }
        }
        return layouts;
    }

    std::string X(const std::string& command) const
    {
        return Capture("DISPLAY=" + s_display + " " + command + " 2>/dev/null");
    }

    // The shown window of the updater titled `title` (its _NET_WM_NAME), or "".
    std::string FindWindow(const std::string& title, int timeoutMs = 20000) const
    {
        for (int waited = 0; waited <= timeoutMs; waited += 50) {
            std::istringstream ids(X("xdotool search --onlyvisible --class Update"));
            std::string id;
            while (ids >> id)
                if (X("xprop -id " + id + " _NET_WM_NAME").find("= \"" + title + "\"") !=
                    std::string::npos)
                    return id;
            usleep(50000);
        }
        return "";
    }

    bool MenuOpen() const
    {
        std::istringstream ids(X("xdotool search --onlyvisible --class Update"));
        std::string id;
        while (ids >> id)
            if (X("xprop -id " + id + " _NET_WM_WINDOW_TYPE").find("MENU") != std::string::npos)
                return true;
        return false;
    }

    void Click(const std::string& window, const Rect& r) const
    {
        X("xdotool mousemove --window " + window + " " + std::to_string(r.x + r.w / 2) + " " +
          std::to_string(r.y + r.h / 2) + " click 1");
    }

    void Key(const std::string& window, const std::string& key) const
    {
        X("xdotool windowfocus " + window + " sleep 0.1 key " + key);
    }

    void Screenshot(const std::string& name) const
    {
        if (Installed("import"))
            X("import -window root '" + Artifacts() + "/" + name + ".png'");
    }

    const ControlLayout* Control(const DialogLayout& layout, int id) const
    {
        for (const ControlLayout& control : layout.controls)
            if (control.id == id)
                return &control;
        return nullptr;
    }

    bool ClientStarted(int timeoutMs) const
    {
        for (int waited = 0; waited <= timeoutMs; waited += 20) {
            if (std::filesystem::exists(client / "started"))
                return true;
            usleep(20000);
        }
        return false;
    }

    TempDir client;

    static inline std::unique_ptr<ChildProcess> s_server;
    static inline std::string s_display;
    static inline std::string s_skip;
};

TEST_F(GtkWindowTest, InteractiveRunRefusedWhileTheClientRunsThenUpdates)
{
    ChildProcess holder({BinPath("holdmutex"), "Korvane.Update"});
    ASSERT_TRUE(holder.WaitForOutput("held", 20000));
    // No KORVANE_UI: the display alone chooses the windows.
    auto update = StartUpdate("^-1^Game^Patch_7.cab^", "");
    ASSERT_TRUE(WaitForReport("dialog", "102")) << update->Stderr();
    const std::string window = FindWindow(kCaption);
    ASSERT_NE(window, "");
    Screenshot("update_dialog");
    // Its own taskbar entry, and the icon in both sizes.
    const std::string properties = X("xprop -id " + window);
    EXPECT_EQ(properties.find("WM_TRANSIENT_FOR"), std::string::npos);
    EXPECT_EQ(properties.find("SKIP_TASKBAR"), std::string::npos);
    EXPECT_NE(properties.find("Icon (32 x 32)"), std::string::npos);
    EXPECT_NE(properties.find("Icon (16 x 16)"), std::string::npos);

    std::vector<DialogLayout> layouts = Layouts(IDD_UPDATE_DIALOG);
    ASSERT_FALSE(layouts.empty());
    const DialogLayout first = layouts.front();
    ExpectSoundLayout(first);
    EXPECT_EQ(first.font, "WenQuanYi Zen Hei");  // no "宋体" here: the CJK font stands in
    const ControlLayout* status = Control(first, IDC_STATUS);
    const ControlLayout* button = Control(first, IDC_CONFIRM);
    ASSERT_TRUE(status && button);
    EXPECT_EQ(status->label, kPrompt);
    EXPECT_EQ(button->label, "确认");
    EXPECT_TRUE(status->shown && button->shown);
    EXPECT_LE(status->rect.y + status->rect.h, button->rect.y);  // the button below the text

    // Confirming while the client runs: the refusal box, owned by the dialog.
    Click(window, button->rect);
    ASSERT_TRUE(WaitForReport("box", std::string("Update\t") + kRefusal));
    const std::string box = FindWindow("Update");
    ASSERT_NE(box, "");
    EXPECT_NE(X("xprop -id " + box + " WM_TRANSIENT_FOR").find("window id"), std::string::npos);
    Screenshot("refusal_box");
    Key(box, "Escape");
    ASSERT_TRUE(WaitForReport("box-closed", ""));
    EXPECT_EQ(Count("text", ""), 0);
    EXPECT_EQ(Count("visible", ""), 0);
    EXPECT_FALSE(std::filesystem::exists(client / "started"));

    // Once the client has ended, the same button (now with the keyboard) runs the update.
    holder.Terminate();
    Key(window, "Return");
    ReportLine success;
    ASSERT_TRUE(WaitForReport("text", "102 1001 " + std::string(kSucceeded), &success));
    Screenshot("update_succeeded");
    EXPECT_EQ(update->Wait(20000), 0);
    ASSERT_TRUE(ClientStarted(20000));
    ReportLine closed, hidden, starting;
    ASSERT_TRUE(WaitForReport("closed", "102", &closed));
    ASSERT_TRUE(WaitForReport("visible", "102 3 0", &hidden));
    ASSERT_TRUE(WaitForReport("text", "102 1001 " + std::string(kStarting), &starting));
    EXPECT_LE(hidden.ms, starting.ms);
    EXPECT_LE(starting.ms, success.ms);
    EXPECT_GE(closed.ms - success.ms, 500);  // the success text stays up before the client starts
    EXPECT_EQ(Count("box", ""), 1);

    layouts = Layouts(IDD_UPDATE_DIALOG);
    ASSERT_GE(layouts.size(), 3u);  // drawn, then repainted after each change
    for (const DialogLayout& layout : layouts)
        ExpectSoundLayout(layout);
    const ControlLayout* last = Control(layouts.back(), IDC_STATUS);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->label, kSucceeded);
    EXPECT_FALSE(Control(layouts.back(), IDC_CONFIRM)->shown);
}

TEST_F(GtkWindowTest, AboutBoxFromTheHeaderBarMenu)
{
    auto update = StartUpdate("^-1^Game^Patch_7.cab^", "gtk");
    ASSERT_TRUE(WaitForReport("dialog", "102")) << update->Stderr();
    const std::string window = FindWindow(kCaption);
    ASSERT_NE(window, "");
    const DialogLayout layout = Layouts(IDD_UPDATE_DIALOG).front();
    ASSERT_GT(layout.menu.w, 0);
    EXPECT_LE(layout.menu.y + layout.menu.h, layout.client.y);  // in the header bar

    Click(window, layout.menu);
    for (int i = 0; i < 200 && !MenuOpen(); ++i)
        usleep(50000);
    ASSERT_TRUE(MenuOpen());
    Screenshot("system_menu");
    X("xdotool key a");  // the entry's access key: 关于 Update(&A)...
    ASSERT_TRUE(WaitForReport("dialog", "100"));
    const std::string about = FindWindow("关于 Update");
    ASSERT_NE(about, "");
    EXPECT_NE(X("xprop -id " + about + " WM_TRANSIENT_FOR").find("window id"), std::string::npos);
    Screenshot("about_box");
    const std::vector<DialogLayout> aboutLayouts = Layouts(IDD_ABOUTBOX);
    ASSERT_FALSE(aboutLayouts.empty());
    ExpectSoundLayout(aboutLayouts.front());
    std::vector<std::string> labels;
    for (const ControlLayout& control : aboutLayouts.front().controls)
        labels.push_back(control.label);
    EXPECT_EQ(labels, (std::vector<std::string>{"", "Update 1.0 版", "版权所有 (C) 2026", "确定"}));
    EXPECT_EQ(aboutLayouts.front().controls[0].inkW, 32);  // the icon

    Key(about, "Return");  // its OK button
    ASSERT_TRUE(WaitForReport("closed", "100"));
    Key(window, "Escape");  // then cancel the update
    EXPECT_EQ(update->Wait(20000), 0);
    EXPECT_EQ(Count("text", ""), 0);
    EXPECT_FALSE(ClientStarted(200));
}

TEST_F(GtkWindowTest, FailingAutomaticRunReportsOnlyAfterItsBoxIsDismissed)
{
    const int number = int(getpid() % 100000) * 10 + 7;
    ChildProcess waitwnd({BinPath("waitwnd"), "-t", "60", std::to_string(number)});
    for (int i = 0; i < 2000 && !win::FindWindowA(nullptr, ("WaitForUpdateResultWnd" +
                                                             std::to_string(number)).c_str());
         ++i)
        usleep(10000);
    auto update = StartUpdate("^" + std::to_string(number) + "^Game^Patch_7.cab^Sub^", "gtk",
                              "step:LocateExtractedFolder:1");
    ASSERT_TRUE(WaitForReport("box", "Update\t下载的文件有误!")) << update->Stderr();
    const std::string box = FindWindow("Update");
    ASSERT_NE(box, "");
    Screenshot("automatic_failure_box");

    usleep(300000);
    EXPECT_EQ(waitwnd.Stdout(), "");  // the box blocks the report
    EXPECT_EQ(update->Wait(0), -1);
    EXPECT_EQ(Count("dialog", ""), 0);  // automatic mode shows no dialog

    Key(box, "Return");
    EXPECT_EQ(update->Wait(20000), 0);
    EXPECT_EQ(waitwnd.Wait(20000), 1);
    EXPECT_EQ(waitwnd.Stdout(), "message=8071 wParam=1 lParam=0\n");
}

}  // namespace
