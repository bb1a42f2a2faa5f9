/* The engine's floor: one window holding one web view on the page given as
 * the only argument, nothing else. The window has the size of the login
 * window's page frame, and the view draws as the login view does: in software,
 * with GDK's GL off where there is no GPU (no DRM render node), as the
 * launcher starts there. tools/bench_start.py builds and times it beside the
 * launcher. */
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

static gboolean has_render_node(void) {
    GDir* dir = g_dir_open("/dev/dri", 0, NULL);
    gboolean found = FALSE;
    const gchar* name;
    if (!dir) return FALSE;
    while ((name = g_dir_read_name(dir)))
        if (g_str_has_prefix(name, "renderD")) found = TRUE;
    g_dir_close(dir);
    return found;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        g_printerr("usage: floor URL\n");
        return 2;
    }
    const gboolean gl_off = !g_getenv("GDK_GL") && !has_render_node();
    if (gl_off) g_setenv("GDK_GL", "disable", TRUE);
    gtk_init(&argc, &argv);
    if (gl_off) g_unsetenv("GDK_GL");
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 697, 406);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    WebKitSettings* settings = webkit_settings_new();
    webkit_settings_set_hardware_acceleration_policy(settings,
                                                     WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    GtkWidget* view = webkit_web_view_new_with_settings(settings);
    gtk_container_add(GTK_CONTAINER(window), view);
    gtk_widget_show_all(window);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
    gtk_main();
    return 0;
}
