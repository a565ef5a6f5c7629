#include "platform/ui/gtk/DialogWindow.h"

#include <cstdint>
#include <cstdlib>

#include "platform/ui/gtk/Report.h"

namespace win::ui::gtk {

namespace {

constexpr const char* kLanguage = "zh-cn";
constexpr int kIconSize = 32;  // the size Windows shows an SS_ICON control and a big icon at

// Tight buttons, so that a push button keeps its template size with the dialog font.
constexpr const char* kStyle =
    ".korvane-dialog button { padding: 0 2px; min-height: 0; min-width: 0; }";

void InstallStyleOnce()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, kStyle, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
}

int MulDiv(int value, int numerator, int denominator)
{
    return (value * numerator + denominator / 2) / denominator;
}

// A Windows text with '&' access-key markers as a GTK mnemonic text.
std::string Mnemonic(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            const bool doubled = i + 1 < text.size() && text[i + 1] == '&';
            out += doubled ? "&" : "_";
            i += doubled;
        } else {
            out += text[i] == '_' ? "__" : std::string(1, text[i]);
        }
    }
    return out;
}

void SetLabelText(GtkWidget* label, const ControlView& control)
{
    const bool prefix = control.windowClass == "BUTTON" || !(control.style & SS_NOPREFIX);
    if (prefix)
        gtk_label_set_text_with_mnemonic(GTK_LABEL(label), Mnemonic(control.text).c_str());
    else
        gtk_label_set_text(GTK_LABEL(label), control.text.c_str());
}

GdkPixbuf* IconPixbuf(const IconImage& image)
{
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, image.width, image.height);
    guchar* rows = gdk_pixbuf_get_pixels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < image.height; ++y) {
        guchar* p = rows + y * stride;
        for (int x = 0; x < image.width; ++x, p += 4) {
            const std::uint32_t argb = image.pixels[size_t(y) * size_t(image.width) + size_t(x)];
            p[0] = guchar(argb >> 16);
            p[1] = guchar(argb >> 8);
            p[2] = guchar(argb);
            p[3] = guchar(argb >> 24);
        }
    }
    return pixbuf;
}

// The image of `icon` closest to `size` pixels wide.
GdkPixbuf* IconPixbuf(const IconResource& icon, int size)
{
    const IconImage* best = nullptr;
    for (const IconImage& image : icon.images)
        if (!best || std::abs(image.width - size) < std::abs(best->width - size))
            best = &image;
    return best ? IconPixbuf(*best) : nullptr;
}

PangoAttrList* ChineseText(const DialogFont* font)
{
    PangoAttrList* attributes = pango_attr_list_new();
    pango_attr_list_insert(attributes,
                           pango_attr_language_new(pango_language_from_string(kLanguage)));
    if (font) {
        PangoFontDescription* description = pango_font_description_new();
        pango_font_description_set_family(description, font->family.c_str());
        pango_font_description_set_size(description, font->pointSize * PANGO_SCALE);
        pango_attr_list_insert(attributes, pango_attr_font_desc_new(description));
        pango_font_description_free(description);
    }
    return attributes;
}

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
};

Rect WidgetRect(GtkWidget* widget, GtkWidget* window)
{
    Rect rect;
    if (!gtk_widget_get_mapped(widget) ||
        !gtk_widget_translate_coordinates(widget, window, 0, 0, &rect.x, &rect.y))
        return rect;
    rect.w = gtk_widget_get_allocated_width(widget);
    rect.h = gtk_widget_get_allocated_height(widget);
    return rect;
}

std::string Fields(const Rect& r)
{
    return std::to_string(r.x) + " " + std::to_string(r.y) + " " + std::to_string(r.w) + " " +
           std::to_string(r.h);
}

}  // namespace

DialogFont ResolveDialogFont(const std::string& face, int pointSize)
{
    PangoContext* context = gdk_pango_context_get();
    PangoLanguage* language = pango_language_from_string(kLanguage);
    pango_context_set_language(context, language);
    PangoFontDescription* wanted = pango_font_description_new();
    pango_font_description_set_family(wanted, (face + ",sans-serif").c_str());
    pango_font_description_set_size(wanted, pointSize * PANGO_SCALE);

    DialogFont font{face, pointSize, 6, 12};
    if (PangoFont* loaded = pango_context_load_font(context, wanted)) {
        PangoFontDescription* actual = pango_font_describe(loaded);
        font.family = pango_font_description_get_family(actual);
        pango_font_description_free(actual);
        g_object_unref(loaded);
    }
    pango_font_description_set_family(wanted, font.family.c_str());

    PangoFontMetrics* metrics = pango_context_get_metrics(context, wanted, language);
    font.baseY = PANGO_PIXELS_CEIL(pango_font_metrics_get_ascent(metrics) +
                                   pango_font_metrics_get_descent(metrics));
    pango_font_metrics_unref(metrics);

    PangoLayout* layout = pango_layout_new(context);
    pango_layout_set_font_description(layout, wanted);
    pango_layout_set_text(layout, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", -1);
    int width = 0;
    pango_layout_get_pixel_size(layout, &width, nullptr);
    font.baseX = (width / 26 + 1) / 2;  // the average width, rounded as Windows rounds it
    g_object_unref(layout);
    pango_font_description_free(wanted);
    g_object_unref(context);
    return font;
}

void SetChineseText(GtkLabel* label, const DialogFont* font)
{
    PangoAttrList* attributes = ChineseText(font);
    gtk_label_set_attributes(label, attributes);
    pango_attr_list_unref(attributes);
}

DialogWindow::DialogWindow(const DialogView& view, GtkWindow* owner, InputSink input)
    : m_view(view),
      m_input(std::move(input)),
      m_font(ResolveDialogFont(view.fontFace, view.pointSize)),
      m_window(gtk_window_new(GTK_WINDOW_TOPLEVEL)),
      m_client(gtk_fixed_new())
{
    InstallStyleOnce();
    GtkWindow* window = Window();
    gtk_style_context_add_class(gtk_widget_get_style_context(m_window), "korvane-dialog");
    gtk_window_set_title(window, view.caption.c_str());
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
    // A dialog with WS_EX_APPWINDOW has a taskbar entry of its own; others belong to their
    // owner and block it while they are open.
    if (owner && !(view.exStyle & WS_EX_APPWINDOW)) {
        gtk_window_set_transient_for(window, owner);
        gtk_window_set_modal(window, TRUE);
        gtk_window_set_skip_taskbar_hint(window, TRUE);
        gtk_window_set_position(window, GTK_WIN_POS_CENTER_ON_PARENT);
    } else {
        gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    }
    if (view.icon) {
        GList* icons = nullptr;
        for (const IconImage& image : view.icon->images)
            icons = g_list_append(icons, IconPixbuf(image));
        gtk_window_set_icon_list(window, icons);
        g_list_free_full(icons, g_object_unref);
    }

    BuildHeaderBar();
    BuildControls();
    gtk_widget_set_size_request(m_client, MulDiv(view.cx, m_font.baseX, 4),
                                MulDiv(view.cy, m_font.baseY, 8));
    gtk_container_add(GTK_CONTAINER(m_window), m_client);
    gtk_widget_show(m_client);

    g_signal_connect(m_window, "key-press-event", G_CALLBACK(OnKey), this);
    g_signal_connect(m_window, "delete-event", G_CALLBACK(OnDelete), this);
    g_signal_connect(m_window, "window-state-event", G_CALLBACK(OnWindowState), this);
    g_signal_connect_after(m_client, "draw", G_CALLBACK(OnDrawClient), this);
}

DialogWindow::~DialogWindow()
{
    if (m_pendingCommand)
        g_source_remove(m_pendingCommand);
    if (m_paintedIcon)
        g_object_unref(m_paintedIcon);
    gtk_widget_destroy(m_window);
}

void DialogWindow::BuildHeaderBar()
{
    GtkWidget* bar = gtk_header_bar_new();
    gtk_header_bar_set_title(GTK_HEADER_BAR(bar), m_view.caption.c_str());
    gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(bar), (m_view.style & WS_SYSMENU) != 0);

    bool entries = false;
    for (const MenuEntry& entry : m_view.systemMenu)
        entries = entries || !entry.separator;
    if (entries) {
        m_menu = gtk_menu_new();
        for (const MenuEntry& entry : m_view.systemMenu) {
            GtkWidget* item = entry.separator
                                  ? gtk_separator_menu_item_new()
                                  : gtk_menu_item_new_with_mnemonic(Mnemonic(entry.text).c_str());
            if (!entry.separator) {
                g_object_set_data(G_OBJECT(item), "command", GUINT_TO_POINTER(entry.id));
                g_signal_connect(item, "activate", G_CALLBACK(OnMenuItem), this);
            }
            gtk_menu_shell_append(GTK_MENU_SHELL(m_menu), item);
        }
        // Leading separators (the program appends one before its entries) show as nothing.
        GList* items = gtk_container_get_children(GTK_CONTAINER(m_menu));
        for (GList* i = items; i && GTK_IS_SEPARATOR_MENU_ITEM(i->data); i = i->next)
            gtk_widget_set_no_show_all(GTK_WIDGET(i->data), TRUE);
        g_list_free(items);
        gtk_widget_show_all(m_menu);

        m_menuButton = gtk_menu_button_new();
        gtk_widget_set_valign(m_menuButton, GTK_ALIGN_CENTER);
        gtk_widget_set_tooltip_text(m_menuButton, m_view.caption.c_str());
        if (m_view.icon) {
            GdkPixbuf* small = IconPixbuf(*m_view.icon, 16);
            gtk_button_set_image(GTK_BUTTON(m_menuButton), gtk_image_new_from_pixbuf(small));
            g_object_unref(small);
        }
        gtk_menu_button_set_popup(GTK_MENU_BUTTON(m_menuButton), m_menu);
        gtk_header_bar_pack_start(GTK_HEADER_BAR(bar), m_menuButton);
    }
    gtk_widget_show_all(bar);
    gtk_window_set_titlebar(Window(), bar);
}

void DialogWindow::BuildControls()
{
    for (const ControlView& control : m_view.controls) {
        GtkWidget* widget;
        GtkWidget* text;
        int width = MulDiv(control.cx, m_font.baseX, 4);
        int height = MulDiv(control.cy, m_font.baseY, 8);
        if (control.windowClass == "BUTTON") {
            widget = gtk_button_new();
            text = gtk_label_new(nullptr);
            SetChineseText(GTK_LABEL(text), &m_font);
            gtk_container_add(GTK_CONTAINER(widget), text);
            gtk_widget_show(text);
            g_object_set_data(G_OBJECT(widget), "control", GINT_TO_POINTER(control.id));
            g_signal_connect(widget, "clicked", G_CALLBACK(OnClicked), this);
            if ((control.style & 0xF) == BS_DEFPUSHBUTTON) {
                gtk_widget_set_can_default(widget, TRUE);
                gtk_window_set_default(Window(), widget);
            }
        } else if ((control.style & 0xF) == SS_ICON) {
            // An icon control takes the size of its icon, as on Windows.
            GdkPixbuf* pixbuf = control.icon ? IconPixbuf(*control.icon, kIconSize) : nullptr;
            widget = pixbuf ? gtk_image_new_from_pixbuf(pixbuf) : gtk_image_new();
            if (pixbuf) {
                width = gdk_pixbuf_get_width(pixbuf);
                height = gdk_pixbuf_get_height(pixbuf);
                g_object_unref(pixbuf);
            }
            text = widget;
        } else {
            widget = text = gtk_label_new(nullptr);
            gtk_label_set_xalign(GTK_LABEL(text), 0);
            gtk_label_set_yalign(GTK_LABEL(text), 0);
            SetChineseText(GTK_LABEL(text), &m_font);
        }
        if (GTK_IS_LABEL(text))
            SetLabelText(text, control);
        gtk_widget_set_size_request(widget, width, height);
        gtk_fixed_put(GTK_FIXED(m_client), widget, MulDiv(control.x, m_font.baseX, 4),
                      MulDiv(control.y, m_font.baseY, 8));
        gtk_widget_set_visible(widget, control.visible);
        m_controls.push_back({control.id, widget, text});
    }
}

void DialogWindow::Show()
{
    gtk_widget_show(m_window);
    for (const Control& control : m_controls)
        if (GTK_IS_BUTTON(control.widget) && gtk_widget_get_visible(control.widget)) {
            gtk_widget_grab_focus(control.widget);  // the first push button, as on Windows
            break;
        }
    gtk_window_present(Window());
}

const DialogWindow::Control* DialogWindow::Find(int controlId) const
{
    for (const Control& control : m_controls)
        if (control.id == controlId)
            return &control;
    return nullptr;
}

void DialogWindow::UpdateText(int controlId)
{
    const Control* control = Find(controlId);
    const ControlView* view = m_view.Control(controlId);
    if (control && view && GTK_IS_LABEL(control->text))
        SetLabelText(control->text, *view);
}

void DialogWindow::UpdateVisible(int controlId)
{
    const Control* control = Find(controlId);
    const ControlView* view = m_view.Control(controlId);
    if (control && view)
        gtk_widget_set_visible(control->widget, view->visible);
}

void DialogWindow::PaintIcon(int x, int y, const IconResource& icon)
{
    if (m_paintedIcon)
        g_object_unref(m_paintedIcon);
    m_paintedIcon = IconPixbuf(icon, kIconSize);
    m_iconX = x;
    m_iconY = y;
    gtk_widget_queue_draw(m_client);
}

void DialogWindow::Repaint()
{
    GdkWindow* window = gtk_widget_get_window(m_window);
    if (!window || !gtk_widget_get_mapped(m_window))
        return;
    GdkFrameClock* clock = gdk_window_get_frame_clock(window);
    const gint64 frame = gdk_frame_clock_get_frame_counter(clock);
    gtk_widget_queue_draw(m_window);
    // A frame is painted within one main-loop dispatch; the timeout only bounds the wait
    // where no frame comes (a window the display does not show).
    bool late = false;
    const guint timeout = g_timeout_add(
        250, [](gpointer flag) -> gboolean { *static_cast<bool*>(flag) = true; return FALSE; },
        &late);
    while (!late && gdk_frame_clock_get_frame_counter(clock) == frame)
        g_main_context_iteration(nullptr, TRUE);
    if (!late)
        g_source_remove(timeout);
    gdk_display_flush(gdk_window_get_display(window));
}

void DialogWindow::ReportLayout() const
{
    if (!Reporting())
        return;
    const std::string dialog = std::to_string(m_view.templateId);
    Report("dialog " + dialog + " client " + Fields(WidgetRect(m_client, m_window)) +
           " units " + std::to_string(m_font.baseX) + " " + std::to_string(m_font.baseY) +
           " font " + m_font.family);
    if (m_menuButton)
        Report("menu " + dialog + " " + Fields(WidgetRect(m_menuButton, m_window)));
    for (size_t i = 0; i < m_controls.size(); ++i) {
        const Control& control = m_controls[i];
        Rect ink;
        std::string shown;
        if (GTK_IS_LABEL(control.text)) {
            shown = gtk_label_get_text(GTK_LABEL(control.text));
            PangoRectangle logical;
            pango_layout_get_pixel_extents(gtk_label_get_layout(GTK_LABEL(control.text)), nullptr,
                                           &logical);
            ink.w = logical.width;
            ink.h = logical.height;
        } else if (GdkPixbuf* pixbuf = gtk_image_get_pixbuf(GTK_IMAGE(control.text))) {
            ink.w = gdk_pixbuf_get_width(pixbuf);
            ink.h = gdk_pixbuf_get_height(pixbuf);
        }
        Report("control " + dialog + " " + std::to_string(i) + " " + std::to_string(control.id) +
               " " + std::to_string(gtk_widget_get_mapped(control.widget) ? 1 : 0) + " " +
               Fields(WidgetRect(control.widget, m_window)) + " text " +
               Fields(WidgetRect(control.text, m_window)) + " " + std::to_string(ink.w) + " " +
               std::to_string(ink.h) + " " + shown);
    }
}

void DialogWindow::Send(UINT message, WPARAM wParam)
{
    m_input({message, wParam, 0});
}

void DialogWindow::PressDefaultButton()
{
    for (size_t i = 0; i < m_controls.size(); ++i) {
        const ControlView& control = m_view.controls[i];
        if (control.windowClass == "BUTTON" && (control.style & 0xF) == BS_DEFPUSHBUTTON &&
            gtk_widget_is_visible(m_controls[i].widget)) {
            Send(WM_COMMAND, MAKEWPARAM(WORD(control.id), BN_CLICKED));
            return;
        }
    }
}

gboolean DialogWindow::OnKey(GtkWidget*, GdkEventKey* event, gpointer self)
{
    auto* dialog = static_cast<DialogWindow*>(self);
    const guint modifiers = event->state & gtk_accelerator_get_default_mod_mask();
    switch (event->keyval) {
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
        // A focused push button takes Enter itself; elsewhere it presses the default one.
        if (modifiers || GTK_IS_BUTTON(gtk_window_get_focus(dialog->Window())))
            return FALSE;
        dialog->PressDefaultButton();
        return TRUE;
    case GDK_KEY_Escape:
        if (modifiers)
            return FALSE;
        dialog->Send(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED));
        return TRUE;
    case GDK_KEY_space:
        // Alt+Space opens the system menu on Windows; here, the header bar's menu.
        if (modifiers != GDK_MOD1_MASK || !dialog->m_menu)
            return FALSE;
        gtk_menu_popup_at_widget(GTK_MENU(dialog->m_menu), dialog->m_menuButton,
                                 GDK_GRAVITY_SOUTH_WEST, GDK_GRAVITY_NORTH_WEST,
                                 reinterpret_cast<GdkEvent*>(event));
        return TRUE;
    default:
        return FALSE;
    }
}

gboolean DialogWindow::OnDelete(GtkWidget*, GdkEvent*, gpointer self)
{
    static_cast<DialogWindow*>(self)->Send(WM_SYSCOMMAND, SC_CLOSE);
    return TRUE;  // the framework closes the window when the dialog ends
}

gboolean DialogWindow::OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer self)
{
    if (event->changed_mask & GDK_WINDOW_STATE_ICONIFIED) {
        const bool iconified = (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
        static_cast<DialogWindow*>(self)->Send(WM_SYSCOMMAND, iconified ? SC_MINIMIZE : SC_RESTORE);
    }
    return FALSE;
}

void DialogWindow::OnClicked(GtkButton* button, gpointer self)
{
    const int id = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "control"));
    static_cast<DialogWindow*>(self)->Send(WM_COMMAND, MAKEWPARAM(WORD(id), BN_CLICKED));
}

void DialogWindow::OnMenuItem(GtkMenuItem* item, gpointer self)
{
    // Sent once the menu has closed and released its grab: the command may open a dialog.
    auto* dialog = static_cast<DialogWindow*>(self);
    dialog->m_commandId = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), "command"));
    if (dialog->m_pendingCommand)
        return;
    dialog->m_pendingCommand = g_idle_add(
        [](gpointer data) -> gboolean {
            auto* target = static_cast<DialogWindow*>(data);
            target->m_pendingCommand = 0;
            target->Send(WM_SYSCOMMAND, target->m_commandId);
            return FALSE;
        },
        dialog);
}

gboolean DialogWindow::OnDrawClient(GtkWidget*, cairo_t* cr, gpointer self)
{
    auto* dialog = static_cast<DialogWindow*>(self);
    if (dialog->m_paintedIcon && dialog->m_view.minimized) {
        gdk_cairo_set_source_pixbuf(cr, dialog->m_paintedIcon, dialog->m_iconX, dialog->m_iconY);
        cairo_paint(cr);
    }
    return FALSE;
}

}  // namespace win::ui::gtk
