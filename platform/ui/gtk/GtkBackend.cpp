#include "platform/ui/gtk/GtkBackend.h"

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/ui/gtk/DialogWindow.h"
#include "platform/ui/gtk/Report.h"

namespace win::ui {

namespace {

using gtk::DialogWindow;
using gtk::Report;

// An open dialog and the modal loop feeding it.
struct OpenDialog {
    std::unique_ptr<DialogWindow> window;
    const std::function<void(const InputMessage&)>* dispatch = nullptr;
    GMainLoop* loop = nullptr;
    // Input that arrives while the framework handles earlier input of the same dialog (it
    // may pause, as for the 500 ms of the success text) is dropped rather than nested.
    bool busy = false;
};

class GtkBackend final : public Backend {
public:
    void ShowDialog(const DialogView& view) override
    {
        if (Find(view))
            return;
        GtkWindow* owner = Topmost();
        auto open = std::make_unique<OpenDialog>();
        OpenDialog* target = open.get();
        open->window = std::make_unique<DialogWindow>(
            view, owner, [this, target](const InputMessage& input) { Deliver(*target, input); });
        m_open.push_back(std::move(open));
        target->window->Show();
        Repainted(*target->window);
    }

    void SetControlText(const DialogView& view, int controlId) override
    {
        OpenDialog* open = Find(view);
        if (!open)
            return;
        open->window->UpdateText(controlId);
        if (const ControlView* control = view.Control(controlId))
            Report("text " + std::to_string(view.templateId) + " " + std::to_string(controlId) +
                   " " + control->text);
        Repainted(*open->window);
    }

    void ShowControl(const DialogView& view, int controlId) override
    {
        OpenDialog* open = Find(view);
        const ControlView* control = view.Control(controlId);
        if (!open || !control)
            return;
        open->window->UpdateVisible(controlId);
        Report("visible " + std::to_string(view.templateId) + " " + std::to_string(controlId) +
               " " + std::to_string(control->visible ? 1 : 0));
        Repainted(*open->window);
    }

    void CloseDialog(const DialogView& view) override
    {
        for (auto i = m_open.begin(); i != m_open.end(); ++i)
            if (&(*i)->window->View() == &view) {
                m_open.erase(i);
                Report("closed " + std::to_string(view.templateId));
                Flush();
                return;
            }
    }

    void RunModalLoop(const DialogView& view,
                      const std::function<void(const InputMessage&)>& dispatch) override
    {
        OpenDialog* open = Find(view);
        if (!open)
            return;  // never drawn: no input can come
        open->dispatch = &dispatch;
        open->loop = g_main_loop_new(nullptr, FALSE);
        if (!view.ended)
            g_main_loop_run(open->loop);
        g_main_loop_unref(open->loop);
        open->loop = nullptr;
        open->dispatch = nullptr;
    }

    int MessageBox(const std::string& title, const std::string& text, UINT) override
    {
        GtkWindow* owner = Topmost();
        GtkWidget* box = gtk_dialog_new();
        gtk_window_set_title(GTK_WINDOW(box), title.c_str());
        // A header bar like the dialogs': the title shows even where no window manager
        // decorates windows.
        GtkWidget* bar = gtk_header_bar_new();
        gtk_header_bar_set_title(GTK_HEADER_BAR(bar), title.c_str());
        gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(bar), TRUE);
        gtk_widget_show(bar);
        gtk_window_set_titlebar(GTK_WINDOW(box), bar);
        gtk_window_set_resizable(GTK_WINDOW(box), FALSE);
        gtk_window_set_modal(GTK_WINDOW(box), TRUE);
        if (owner) {
            gtk_window_set_transient_for(GTK_WINDOW(box), owner);
            gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER_ON_PARENT);
        } else {
            gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER);
        }

        GtkWidget* label = gtk_label_new(text.c_str());
        gtk::SetChineseText(GTK_LABEL(label), nullptr);
        gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
        gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
        gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
        gtk_label_set_xalign(GTK_LABEL(label), 0);
        g_object_set(label, "margin", 18, nullptr);
        gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(box))), label);
        gtk_widget_show(label);

        // "确定": the OK button of a Chinese system's message boxes. Enter presses it; Esc
        // and the close box dismiss the box the same way.
        GtkWidget* ok = gtk_dialog_add_button(GTK_DIALOG(box), "确定", GTK_RESPONSE_OK);
        g_object_set(ok, "margin", 8, nullptr);
        gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
        gtk_widget_grab_focus(ok);

        Report("box " + title + "\t" + text);
        gtk_dialog_run(GTK_DIALOG(box));
        gtk_widget_destroy(box);
        Report("box-closed");
        Flush();
        return IDOK;
    }

    void DrawIcon(const DialogView& view, int x, int y, const IconResource& icon) override
    {
        if (OpenDialog* open = Find(view))
            open->window->PaintIcon(x, y, icon);
    }

private:
    // The window of the dialog opened last, which owns what opens next; null when none.
    GtkWindow* Topmost() const { return m_open.empty() ? nullptr : m_open.back()->window->Window(); }

    OpenDialog* Find(const DialogView& view)
    {
        for (auto& open : m_open)
            if (&open->window->View() == &view)
                return open.get();
        return nullptr;
    }

    void Deliver(OpenDialog& open, const InputMessage& input)
    {
        if (!open.dispatch || open.busy)
            return;
        open.busy = true;
        (*open.dispatch)(input);
        open.busy = false;
        if (open.window->View().ended && open.loop)
            g_main_loop_quit(open.loop);
    }

    static void Repainted(DialogWindow& window)
    {
        window.Repaint();
        window.ReportLayout();
    }

    // Lets the display catch up with windows that closed, before the program goes on.
    static void Flush()
    {
        for (int i = 0; i < 100 && g_main_context_iteration(nullptr, FALSE); ++i) {
        }
        gdk_display_flush(gdk_display_get_default());
    }

    std::vector<std::unique_ptr<OpenDialog>> m_open;  // the topmost last
};

}  // namespace

std::unique_ptr<Backend> MakeGtkBackend()
{
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (!(x11 && *x11) && !(wayland && *wayland))
        return nullptr;
    // The program's texts and file names keep the C locale's rules; GTK works in UTF-8.
    gtk_disable_setlocale();
    g_set_prgname(program_invocation_short_name);
    if (!gtk_init_check(nullptr, nullptr))
        return nullptr;
    return std::make_unique<GtkBackend>();
}

}  // namespace win::ui
