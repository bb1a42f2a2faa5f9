// The Linux launcher: GTK on Wayland where the session is Wayland, else on
// X11. It takes no arguments and reads nothing of
// its environment itself (GTK still finds the display the usual way), except
// to leave a GDK_GL the user set alone.
#include "app/Application.h"
#include "framework/gtk/browser.h"
#include "framework/gtk/platform.h"
#include "launcher_identity.h"

namespace {

// With GDK's GL off (below, on a machine without a GPU), the engine warns as
// each view is realised that it cannot use GL for accelerated drawing, which
// no view uses there (browser.cpp). That one warning is dropped.
constexpr const char* kEngineGlWarning =
    "Disabled hardware acceleration because GTK failed to initialize GL";

void dropEngineGlWarning(const gchar* domain, GLogLevelFlags level, const gchar* message,
                         gpointer) {
    if (!g_str_has_prefix(message, kEngineGlWarning))
        g_log_default_handler(domain, level, message, nullptr);
}

} // namespace

int main() {
    // On Wayland the compositor places the windows (the face is one window,
    // so nothing can pull it apart); everything else works on both.
    gdk_set_allowed_backends("wayland,x11");
    // The game's id names the windows' class (WM_CLASS) and the application
    // (a Wayland app id), which the menu entry's StartupWMClass matches, so
    // the desktop shows the game's name and icon; the browser keeps its data
    // in a folder of that name.
    g_set_prgname(LAUNCHER_BRAND_ID_TEXT);
    // GDK sets up GLX as it opens the display: some 50 ms of the start,
    // before the first window can show. The engine needs it only to show a
    // view it draws on the GPU (the game view, where there is a GPU); without
    // a GPU nothing draws through GDK's GL. The switch is read once, at the
    // opening, and taken back at once so that the programs we start do not
    // inherit it.
    const bool glSwitch = g_getenv("GDK_GL") == nullptr && !fw::gtk::hasRenderNode();
    if (glSwitch) g_setenv("GDK_GL", "disable", TRUE);
    const bool opened = gtk_init_check(nullptr, nullptr);
    if (glSwitch) {
        g_unsetenv("GDK_GL");
        g_log_set_handler(nullptr, G_LOG_LEVEL_WARNING, dropEngineGlWarning, nullptr);
    }
    if (!opened) {
        g_printerr("launcher: cannot open a Wayland or X11 display\n");
        return 1;
    }
    // GTK's start sets the class from the name, capitalised: ours is the id as it is.
    gdk_set_program_class(LAUNCHER_BRAND_ID_TEXT);
    fw::gtk::GtkPlatform platform;
    platform.deliver([] { app::Main(); });
    return platform.run();
}
