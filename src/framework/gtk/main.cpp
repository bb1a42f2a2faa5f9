// The Linux launcher: GTK on X11. It takes no arguments and reads nothing of
// its environment itself (GTK still finds the display the usual way).
#include "app/Application.h"
#include "framework/gtk/gtk_platform.h"

int main() {
    // The launcher places its windows itself, which Wayland does not allow.
    gdk_set_allowed_backends("x11");
    // Names the windows' class (the browser keeps its data in a folder of its own).
    g_set_prgname("launcher");
    if (!gtk_init_check(nullptr, nullptr)) {
        g_printerr("launcher: cannot open an X11 display\n");
        return 1;
    }
    fw::gtk::GtkPlatform platform;
    platform.deliver([] { app::Main(); });
    return platform.run();
}
