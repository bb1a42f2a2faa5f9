#include "framework/gtk/platform.h"

#include "framework/gtk/browser.h"
#include "framework/gtk/text.h"
#include "framework/linux/spawn.h"

#include <gdk/gdkx.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace fw::gtk {

namespace {

// The data of a timer or of posted work: what GLib calls back with.
struct Work {
    GtkPlatform* platform;
    std::function<void()> work;
};

gboolean timerTick(gpointer data) {
    // GLib holds the data for the whole dispatch, so a tick may stop its own
    // timer.
    auto* t = static_cast<Work*>(data);
    t->platform->deliver([t] { t->work(); });
    return G_SOURCE_CONTINUE;
}

gboolean runPosted(gpointer data) {
    auto* posted = static_cast<Work*>(data);
    posted->platform->deliver(posted->work);
    return G_SOURCE_REMOVE;
}

void freeWork(gpointer data) {
    delete static_cast<Work*>(data);
}

void reapChild(GPid pid, gint, gpointer) {
    g_spawn_close_pid(pid);
}

// A window shown for the first time is only given the keyboard by a window
// manager; asking once it is on the screen works with or without one.
gboolean focusWhenMapped(GtkWidget* widget, GdkEvent*, gpointer) {
    gtk_window_present(GTK_WINDOW(widget));
    return FALSE;
}

} // namespace

GtkPlatform::~GtkPlatform() {
    stopTimers();
    if (icon_) g_object_unref(icon_);
}

std::unique_ptr<WindowPeer> GtkPlatform::createWindow(WindowEvents& events,
                                                      const FormLayout& layout, WindowPeer* owner) {
    return std::make_unique<GtkWindowPeer>(*this, events, layout,
                                           dynamic_cast<GtkWindowPeer*>(owner));
}

std::unique_ptr<BrowserPeer> GtkPlatform::createBrowser(WindowPeer& parent, BrowserEvents& events,
                                                        const std::optional<Rect>& frame) {
    return std::make_unique<WebKitBrowser>(*this, dynamic_cast<GtkWindowPeer&>(parent), events,
                                           frame);
}

void GtkPlatform::removed(GtkWindowPeer* peer) {
    peers_.erase(std::remove(peers_.begin(), peers_.end(), peer), peers_.end());
}

std::uintptr_t GtkPlatform::armTimer(TimerId id, int intervalMs) {
    return g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(intervalMs), timerTick,
                              new Work{this, [this, id] { timerDue(id); }}, freeWork);
}

GtkWindow* GtkPlatform::dialogParent() const {
    // The newest visible window: the message comes up over what the user sees.
    for (auto it = peers_.rbegin(); it != peers_.rend(); ++it)
        if ((*it)->visible()) return (*it)->window();
    return nullptr;
}

namespace {

// The monitor a box comes up on: its window's, else the pointer's.
GdkMonitor* boxMonitor(GtkWindow* parent) {
    GdkDisplay* display = gdk_display_get_default();
    if (parent) {
        if (GdkWindow* w = gtk_widget_get_window(GTK_WIDGET(parent)))
            return gdk_display_get_monitor_at_window(display, w);
    }
    GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
    gint x = 0;
    gint y = 0;
    gdk_device_get_position(pointer, nullptr, &x, &y);
    return gdk_display_get_monitor_at_point(display, x, y);
}

// A message wraps, inside a run without blanks too, in lines that keep the
// box within the work area of the monitor it comes up on: however long the
// text, the box and its buttons are on the screen.
void fitToScreen(GtkWidget* dialog, GdkMonitor* monitor) {
    GdkRectangle area{0, 0, 1024, 768};
    if (monitor) gdk_monitor_get_workarea(monitor, &area);
    GtkWidget* message = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog));
    GList* children = gtk_container_get_children(GTK_CONTAINER(message));
    for (GList* l = children; l; l = l->next) {
        if (!GTK_IS_LABEL(l->data)) continue;
        GtkLabel* label = GTK_LABEL(l->data);
        // Characters as GTK counts them for a label's width.
        PangoFontMetrics* metrics = pango_context_get_metrics(
            gtk_widget_get_pango_context(GTK_WIDGET(label)), nullptr, nullptr);
        const int charWidth = std::max(pango_font_metrics_get_approximate_char_width(metrics),
                                       pango_font_metrics_get_approximate_digit_width(metrics)) /
                              PANGO_SCALE;
        pango_font_metrics_unref(metrics);
        // The text takes at most half the work area's width, which leaves
        // room for the picture, the margins and the frame; at most the 60
        // characters GTK gives a message anyway.
        const int fits = charWidth > 0 ? area.width / 2 / charWidth : 60;
        gtk_label_set_line_wrap(label, TRUE);
        gtk_label_set_line_wrap_mode(label, PANGO_WRAP_WORD_CHAR);
        gtk_label_set_max_width_chars(label, std::clamp(fits, 8, 60));
    }
    g_list_free(children);
}

} // namespace

int GtkPlatform::messageBox(const std::string& text, const std::string& title, int style) {
    const bool okCancel = (style & 0x0F) == kOkCancel;
    const bool error = (style & kCritical) != 0;
    GtkWidget* dialog = gtk_message_dialog_new(
        dialogParent(), GTK_DIALOG_MODAL, error ? GTK_MESSAGE_ERROR : GTK_MESSAGE_OTHER,
        okCancel ? GTK_BUTTONS_OK_CANCEL : GTK_BUTTONS_OK, "%s", utf8(text).c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), utf8(title).c_str());
    if (error) {
        // GTK 3 message dialogs show no picture of their own; an error gets one.
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        GtkWidget* image = gtk_image_new_from_icon_name("dialog-error", GTK_ICON_SIZE_DIALOG);
        gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(dialog), image);
        G_GNUC_END_IGNORE_DEPRECATIONS
        gtk_widget_show(image);
    }
    // Centred on the monitor of the window it belongs to (the face's, the
    // game's; the newest one shown for a box of no window, the upgrade
    // offer), whichever monitor the pointer is on.
    GtkWindow* parent = dialogParent();
    GdkMonitor* monitor = boxMonitor(parent);
    fitToScreen(dialog, monitor);
    if (monitor) {
        GdkRectangle area;
        gdk_monitor_get_workarea(monitor, &area);
        GtkRequisition size;
        gtk_widget_get_preferred_size(dialog, nullptr, &size);
        gtk_window_move(GTK_WINDOW(dialog), area.x + std::max(0, (area.width - size.width) / 2),
                        area.y + std::max(0, (area.height - size.height) / 2));
    } else {
        gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    }
    // Return answers OK: the default response, with the focus on its button.
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    gtk_widget_grab_focus(gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK));
    g_signal_connect(dialog, "map-event", G_CALLBACK(focusWhenMapped), nullptr);
    const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    // Cancel, Esc and the close box (GTK_RESPONSE_DELETE_EVENT) all cancel.
    return response == GTK_RESPONSE_OK ? kIdOk : kIdCancel;
}

void GtkPlatform::teardown(int status) noexcept {
    // Every window goes, and no handler may run: ours are disconnected, and
    // the windows are destroyed on the X server directly rather than through
    // GTK, whose widget destruction would emit signals to whatever else is
    // connected (child controls, browser views). The process ends before
    // GDK could see a single event about it.
    for (GtkWindowPeer* peer : peers_) peer->detach();
    GdkDisplay* display = gdk_display_get_default();
    if (display && GDK_IS_X11_DISPLAY(display)) {
        Display* x = GDK_DISPLAY_XDISPLAY(display);
        GList* toplevels = gtk_window_list_toplevels();
        for (GList* l = toplevels; l; l = l->next)
            if (GdkWindow* w = gtk_widget_get_window(GTK_WIDGET(l->data)))
                XDestroyWindow(x, GDK_WINDOW_XID(w));
        g_list_free(toplevels);
        XSync(x, False);
    }
    _exit(status);
}

void GtkPlatform::showUntrapped(const std::string& text) {
    messageBox(text, "launcher", kCritical);
}

GdkPixbuf* GtkPlatform::programIcon() {
    if (iconTried_) return icon_;
    iconTried_ = true;
    std::vector<std::uint8_t> bytes;
    try {
        bytes = resource(1, "ICON");
    } catch (const std::runtime_error&) {
        return nullptr;
    }
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    const bool written = gdk_pixbuf_loader_write(loader, bytes.data(), bytes.size(), nullptr);
    const bool closed = gdk_pixbuf_loader_close(loader, nullptr);
    if (written && closed) {
        icon_ = gdk_pixbuf_loader_get_pixbuf(loader);
        if (icon_) g_object_ref(icon_);
    }
    g_object_unref(loader);
    return icon_;
}

namespace {
// No zombie while we run.
int spawn(const char* file, char* const argv[], int keep) {
    pid_t pid = 0;
    const int failed = spawnProgram(file, argv, keep, nullptr, pid);
    if (failed == 0) g_child_watch_add(pid, reapChild, nullptr);
    return failed;
}
} // namespace

bool GtkPlatform::startProcess(const std::string& commandLine) {
    gchar** argv = nullptr;
    GError* error = nullptr;
    // A whole command line that is one quoted program path is that path as it
    // stands: the shell's quoting rules would mangle a '\\' or a '"' in a
    // Linux folder name. Anything else is split by the shell's rules.
    const std::string inner =
        commandLine.size() >= 2 && commandLine.front() == '"' && commandLine.back() == '"'
            ? commandLine.substr(1, commandLine.size() - 2)
            : std::string();
    if (!inner.empty() && g_file_test(inner.c_str(), G_FILE_TEST_IS_REGULAR)) {
        argv = g_new0(gchar*, 2);
        argv[0] = g_strdup(inner.c_str());
    } else if (!g_shell_parse_argv(commandLine.c_str(), nullptr, &argv, &error)) {
        diagnostic("cannot start " + commandLine + ": " + error->message);
        g_error_free(error);
        return false;
    }
    const int failed = spawn(argv[0], argv, -1);
    if (failed) diagnostic("cannot start " + commandLine + ": " + g_strerror(failed));
    g_strfreev(argv);
    return failed == 0;
}

} // namespace fw::gtk

namespace fw {

bool startHeldProgram(int fd, const std::string& path) {
    std::string name = path;
    char* argv[] = {name.data(), nullptr};
    char head[4] = {};
    int failed = 0;
    if (::pread(fd, head, sizeof head, 0) == 4 && std::memcmp(head, "\177ELF", 4) == 0) {
        // A program is executed through the open descriptor, so what starts
        // is the held file whatever its name now leads to; it still sees its
        // own path (/proc/self/exe). Kept above 3, so that the child's dup2
        // clears its close-on-exec flag.
        const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
        if (high < 0) return false;
        failed = gtk::spawn("/proc/self/fd/3", argv, high);
        ::close(high);
    } else {
        // A script's interpreter reads it by its name, and the script may
        // rely on that name ($0): started by its path, which was checked to
        // lead to the held file when it was moved.
        failed = gtk::spawn(argv[0], argv, -1);
    }
    if (failed) Platform::get().diagnostic("cannot start " + path + ": " + g_strerror(failed));
    return failed == 0;
}

} // namespace fw

namespace fw::gtk {

void GtkPlatform::openUrl(const std::string& address) {
    // Whatever the address (an empty one included) goes to the desktop as it
    // is; a failure shows nothing.
    GError* error = nullptr;
    if (!g_app_info_launch_default_for_uri(address.c_str(), nullptr, &error)) g_clear_error(&error);
}

void GtkPlatform::post(std::function<void()> work) {
    g_idle_add_full(G_PRIORITY_DEFAULT, runPosted, new Work{this, std::move(work)}, freeWork);
}

int GtkPlatform::run() {
    gtk_main();
    return 0;
}

} // namespace fw::gtk
