// The progress window and the watched download on GTK. The transfer runs on
// libcurl's worker thread; the calling thread turns the main loop meanwhile,
// so the window paints and its button works, while the window's modal grab
// keeps input away from the others (as under a message box).
#include "framework/gtk/platform.h"
#include "framework/gtk/text.h"

namespace fw::gtk {

namespace {

class GtkProgress final : public ProgressPeer {
public:
    GtkProgress(GtkPlatform& platform, GtkWindow* owner, const std::string& title,
                const std::string& text, const std::string& button, std::function<void()> onButton)
        : platform_(platform), onButton_(std::move(onButton)) {
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        GtkWindow* w = GTK_WINDOW(window_);
        gtk_window_set_title(w, utf8(title).c_str());
        gtk_window_set_transient_for(w, owner);
        gtk_window_set_modal(w, TRUE);
        gtk_window_set_resizable(w, FALSE);
        gtk_window_set_type_hint(w, GDK_WINDOW_TYPE_HINT_DIALOG);
        gtk_window_set_skip_taskbar_hint(w, TRUE);
        gtk_window_set_position(w, owner ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);

        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
        gtk_container_set_border_width(GTK_CONTAINER(box), 12);
        GtkWidget* label = gtk_label_new(utf8(text).c_str());
        gtk_label_set_xalign(GTK_LABEL(label), 0);
        // The same size whether the bar shows or not.
        gtk_widget_set_size_request(box, 400, 128);
        bar_ = gtk_progress_bar_new();
        figures_ = gtk_label_new("");
        gtk_label_set_xalign(GTK_LABEL(figures_), 0);
        GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
        gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
        GtkWidget* cancel = gtk_button_new_with_label(utf8(button).c_str());
        gtk_container_add(GTK_CONTAINER(buttons), cancel);
        for (GtkWidget* child : {label, bar_, figures_, buttons})
            gtk_box_pack_start(GTK_BOX(box), child, FALSE, FALSE, 0);
        gtk_container_add(GTK_CONTAINER(window_), box);

        g_signal_connect(cancel, "clicked", G_CALLBACK(onClicked), this);
        // Esc and the close box ask the same as the button, as in a dialog;
        // the window stays until the transfer has ended.
        g_signal_connect(window_, "key-press-event", G_CALLBACK(onKey), this);
        g_signal_connect(window_, "delete-event", G_CALLBACK(onDelete), this);
        gtk_widget_show_all(window_);
        gtk_widget_grab_focus(cancel);
    }
    ~GtkProgress() override {
        g_signal_handlers_disconnect_by_data(window_, this);
        gtk_widget_destroy(window_);
    }
    GtkProgress(const GtkProgress&) = delete;
    GtkProgress& operator=(const GtkProgress&) = delete;

    void update(double fraction, const std::string& figures) override {
        // Without a length there is nothing for the bar to show.
        gtk_widget_set_visible(bar_, fraction >= 0);
        if (fraction >= 0) gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar_), fraction);
        gtk_label_set_text(GTK_LABEL(figures_), utf8(figures).c_str());
    }

private:
    static void onClicked(GtkButton*, gpointer self) { static_cast<GtkProgress*>(self)->press(); }
    static gboolean onKey(GtkWidget*, GdkEventKey* event, gpointer self) {
        if (event->keyval != GDK_KEY_Escape) return FALSE;
        static_cast<GtkProgress*>(self)->press();
        return TRUE;
    }
    static gboolean onDelete(GtkWidget*, GdkEvent*, gpointer self) {
        static_cast<GtkProgress*>(self)->press();
        return TRUE;
    }
    void press() {
        platform_.deliver([this] { onButton_(); });
    }

    GtkPlatform& platform_;
    std::function<void()> onButton_;
    GtkWidget* window_ = nullptr;
    GtkWidget* bar_ = nullptr;
    GtkWidget* figures_ = nullptr;
};

} // namespace

std::unique_ptr<ProgressPeer> GtkPlatform::createProgressWindow(WindowPeer* owner,
                                                                const std::string& title,
                                                                const std::string& text,
                                                                const std::string& button,
                                                                std::function<void()> onButton) {
    auto* peer = dynamic_cast<GtkWindowPeer*>(owner);
    return std::make_unique<GtkProgress>(*this, peer ? peer->window() : nullptr, title, text,
                                         button, std::move(onButton));
}

void GtkPlatform::awaitTransfer() {
    // Woken after 100 ms when nothing else happens, so that the progress is
    // read.
    GSource* tick = g_timeout_source_new(100);
    g_source_set_callback(
        tick, [](gpointer) { return gboolean{G_SOURCE_REMOVE}; }, nullptr, nullptr);
    g_source_attach(tick, nullptr);
    g_main_context_iteration(nullptr, TRUE);
    g_source_destroy(tick);
    g_source_unref(tick);
}

} // namespace fw::gtk
