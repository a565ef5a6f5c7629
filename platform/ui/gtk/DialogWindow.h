// A dialog drawn as a GTK window. Its controls sit at their template positions, converted
// from dialog units with the base units of the dialog font as this machine resolves it; its
// caption is in a header bar whose menu button (the small icon, where a Windows caption has
// its system menu) holds the entries the program appended to the system menu.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Before the toolkit: its TRUE and FALSE macros would rewrite the platform's constants.
#include "platform/ui/Backend.h"

#include <gtk/gtk.h>

namespace win::ui::gtk {

// The dialog font as found on this machine (the template's face when installed, else the
// machine's font for simplified Chinese) and its base units in pixels: the average width of
// the Latin letters and the font's height.
struct DialogFont {
    std::string family;
    int pointSize;
    int baseX;
    int baseY;
};

DialogFont ResolveDialogFont(const std::string& face, int pointSize);

// Shows the label's text as simplified Chinese, in `font` or, when null, the toolkit's font.
void SetChineseText(GtkLabel* label, const DialogFont* font);

class DialogWindow {
public:
    using InputSink = std::function<void(const InputMessage&)>;

    // Builds the window (hidden) for `view`; `owner` is the dialog below it, or null.
    DialogWindow(const DialogView& view, GtkWindow* owner, InputSink input);
    ~DialogWindow();
    DialogWindow(const DialogWindow&) = delete;
    DialogWindow& operator=(const DialogWindow&) = delete;

    const DialogView& View() const { return m_view; }
    GtkWindow* Window() const { return GTK_WINDOW(m_window); }

    void Show();
    // Brings a control in line with the view after the framework changed it.
    void UpdateText(int controlId);
    void UpdateVisible(int controlId);
    // Paints `icon` at (x, y) of the client area while the dialog is minimised.
    void PaintIcon(int x, int y, const IconResource& icon);
    // Returns once the display shows the window's current state (the program may block
    // right after a change, as it does while updating).
    void Repaint();
    // The window's layout, in pixels relative to the window, for Report.h.
    void ReportLayout() const;

private:
    struct Control {
        int id;
        GtkWidget* widget;
        GtkWidget* text;  // the label (or image) inside, whose extents must fit
    };

    void BuildHeaderBar();
    void BuildControls();
    void Send(UINT message, WPARAM wParam);
    void PressDefaultButton();
    const Control* Find(int controlId) const;

    static gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer self);
    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer self);
    static void OnClicked(GtkButton* button, gpointer self);
    static void OnMenuItem(GtkMenuItem* item, gpointer self);
    static gboolean OnDrawClient(GtkWidget*, cairo_t* cr, gpointer self);

    const DialogView& m_view;
    InputSink m_input;
    DialogFont m_font;
    GtkWidget* m_window;
    GtkWidget* m_client;  // GtkFixed: the client area
    GtkWidget* m_menuButton = nullptr;
    GtkWidget* m_menu = nullptr;
    std::vector<Control> m_controls;  // in the view's order
    guint m_pendingCommand = 0;       // idle source sending a menu command
    UINT m_commandId = 0;
    GdkPixbuf* m_paintedIcon = nullptr;
    int m_iconX = 0, m_iconY = 0;
};

}  // namespace win::ui::gtk
