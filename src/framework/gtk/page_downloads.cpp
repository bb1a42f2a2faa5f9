#include "framework/gtk/browser.h"

#include <algorithm>
#include <deque>
#include <utility>

namespace fw::gtk {

namespace {

// A download waiting for the player's answer. The engine holds its data
// until a destination is set and writes nothing for one that is cancelled
// (decide-destination answered later, allowed since 2.40).
struct Waiting {
    WebKitDownload* download; // a reference of ours
    gchar* suggested;
};

std::deque<Waiting> waiting;     // in the order the engine asked
WebKitDownload* asked = nullptr; // whose dialog is up, a reference of ours
GtkWidget* dialog = nullptr;

void askNext();

void drop(Waiting& w) {
    g_object_unref(w.download);
    g_free(w.suggested);
}

// The dialog is made when its turn comes, modal to the window of the view
// that started the download, if that is still on the screen.
GtkWindow* ownerOf(WebKitDownload* download) {
    WebKitWebView* view = webkit_download_get_web_view(download);
    GtkWidget* top = view ? gtk_widget_get_toplevel(GTK_WIDGET(view)) : nullptr;
    return top && GTK_IS_WINDOW(top) && gtk_widget_get_visible(top) ? GTK_WINDOW(top) : nullptr;
}

gboolean destroyLater(gpointer widget) {
    gtk_widget_destroy(static_cast<GtkWidget*>(widget));
    g_object_unref(widget);
    return G_SOURCE_REMOVE;
}

// The chooser answers changes to its name field on a timer of its own
// (200 ms) that its destruction does not stop: destroyed sooner, it is
// called back on widgets that are gone. So an answered chooser is hidden
// at once and destroyed when that timer has long run.
void putAway() {
    GtkWidget* done = std::exchange(dialog, nullptr);
    gtk_widget_hide(done);
    g_timeout_add_seconds(2, destroyLater, g_object_ref(done));
}

void answered(GtkDialog*, gint response, gpointer) {
    WebKitDownload* download = std::exchange(asked, nullptr);
    gchar* file = response == GTK_RESPONSE_ACCEPT
                      ? gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog))
                      : nullptr;
    putAway();
    // The engine may report the end of the download from inside the calls
    // below; it is no longer ours to answer by then.
    gchar* uri = file ? g_filename_to_uri(file, nullptr, nullptr) : nullptr;
    if (uri) {
        // The chooser has asked before replacing a file.
        webkit_download_set_allow_overwrite(download, TRUE);
        webkit_download_set_destination(download, uri);
    } else {
        // Cancel, Esc and the close box.
        webkit_download_cancel(download);
    }
    g_free(uri);
    g_free(file);
    g_object_unref(download);
    askNext();
}

gboolean focusWhenMapped(GtkWidget* widget, GdkEvent*, gpointer) {
    // Without a window manager nobody else gives a new window the keyboard.
    gtk_window_present(GTK_WINDOW(widget));
    return FALSE;
}

void askNext() {
    if (dialog || waiting.empty()) return;
    Waiting next = waiting.front();
    waiting.pop_front();
    asked = next.download;
    GtkWindow* owner = ownerOf(asked);
    dialog = gtk_file_chooser_dialog_new("另存为", owner, GTK_FILE_CHOOSER_ACTION_SAVE, "取消",
                                         GTK_RESPONSE_CANCEL, "保存", GTK_RESPONSE_ACCEPT, nullptr);
    auto* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
    const char* folder = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
    if (!folder || !g_file_test(folder, G_FILE_TEST_IS_DIR)) folder = g_get_home_dir();
    gtk_file_chooser_set_current_folder(chooser, folder);
    gtk_file_chooser_set_current_name(chooser, next.suggested ? next.suggested : "");
    g_free(next.suggested);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    // Modal, as the message boxes: the launcher's windows take no input
    // until the answer.
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_position(GTK_WINDOW(dialog),
                            owner ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
    g_signal_connect(dialog, "response", G_CALLBACK(answered), nullptr);
    // Esc and the close box answer through a delete event, which would
    // destroy the chooser at once after the answer.
    g_signal_connect(dialog, "delete-event", G_CALLBACK(gtk_true), nullptr);
    g_signal_connect(dialog, "map-event", G_CALLBACK(focusWhenMapped), nullptr);
    gtk_widget_show(dialog);
}

gboolean decideDestination(WebKitDownload* download, gchar* suggested, gpointer) {
    waiting.push_back({static_cast<WebKitDownload*>(g_object_ref(download)), g_strdup(suggested)});
    askNext();
    return TRUE; // decided later, by the player
}

// A download that ends on its own (its page went, the transfer failed)
// before it was answered needs no answer any more.
void ended(WebKitDownload* download, gpointer) {
    const auto it = std::find_if(waiting.begin(), waiting.end(),
                                 [download](const Waiting& w) { return w.download == download; });
    if (it != waiting.end()) {
        drop(*it);
        waiting.erase(it);
    }
    if (download == asked) {
        asked = nullptr;
        putAway();
        g_object_unref(download);
        askNext();
    }
}

void endedWithError(WebKitDownload* download, GError*, gpointer data) {
    ended(download, data);
}

void started(WebKitWebContext*, WebKitDownload* download, gpointer) {
    g_signal_connect(download, "decide-destination", G_CALLBACK(decideDestination), nullptr);
    g_signal_connect(download, "failed", G_CALLBACK(endedWithError), nullptr);
    g_signal_connect(download, "finished", G_CALLBACK(ended), nullptr);
}

} // namespace

void askWhereToSaveDownloads(WebKitWebContext* context) {
    g_signal_connect(context, "download-started", G_CALLBACK(started), nullptr);
}

} // namespace fw::gtk
