// The engine's signals as the browser port's events, and the ordinary
// browser windows the launcher lets a page open.
#include "framework/gtk/browser.h"

#include <string>

namespace fw::gtk {

namespace {

std::string requestUri(WebKitNavigationAction* action) {
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    return uri ? uri : "";
}

// --- ordinary browser windows ---------------------------------------------
// A new window the launcher lets open is a plain top-level window holding a
// view related to the one that asked (same page process, same settings and
// session), as any browser opens one. The launcher does not watch it: it
// reports no events and lives until the user or its page closes it. Each
// holds its place among the page's windows (PageWindows) until it goes; its
// own page's requests count there too.

GtkWidget* ordinaryWindow(WebKitWebView* opener, const std::shared_ptr<PageWindows>& windows,
                          std::shared_ptr<void> hold);

GtkWidget* onOrdinaryCreate(WebKitWebView* view, WebKitNavigationAction*, gpointer data) {
    const auto& windows = *static_cast<std::shared_ptr<PageWindows>*>(data);
    std::shared_ptr<void> hold = windows->admit();
    if (!hold) return nullptr; // the page's window.open gives null
    return ordinaryWindow(view, windows, std::move(hold));
}

gboolean onOrdinaryReady(WebKitWebView* view, gpointer window) {
    // The size the page asked for (window.open features) is known only now.
    GdkRectangle geometry{};
    webkit_window_properties_get_geometry(webkit_web_view_get_window_properties(view), &geometry);
    if (geometry.width > 0 && geometry.height > 0)
        gtk_window_set_default_size(GTK_WINDOW(window), geometry.width, geometry.height);
    gtk_widget_show_all(GTK_WIDGET(window));
    return FALSE;
}

void onOrdinaryClose(WebKitWebView*, gpointer window) {
    gtk_widget_destroy(GTK_WIDGET(window));
}

// However the window goes (its page, the window manager's close box), its
// view is still whole when the window's own destroy handlers run. The
// handler's data, the window's hold, goes as the window is destroyed.
void onOrdinaryDestroy(GtkWidget* window, gpointer) {
    releaseEngineTextViews(window);
}

void onOrdinaryTitle(WebKitWebView* view, GParamSpec*, gpointer window) {
    const char* title = webkit_web_view_get_title(view);
    gtk_window_set_title(GTK_WINDOW(window), title ? title : "");
}

GtkWidget* ordinaryWindow(WebKitWebView* opener, const std::shared_ptr<PageWindows>& windows,
                          std::shared_ptr<void> hold) {
    GtkWidget* view =
        GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", opener, "settings",
                                webkit_web_view_get_settings(opener), nullptr));
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 800, 600);
    gtk_container_add(GTK_CONTAINER(window), view);
    g_signal_connect(view, "ready-to-show", G_CALLBACK(onOrdinaryReady), window);
    g_signal_connect(view, "close", G_CALLBACK(onOrdinaryClose), window);
    g_signal_connect_data(
        window, "destroy", G_CALLBACK(onOrdinaryDestroy),
        new std::shared_ptr<void>(std::move(hold)),
        [](gpointer p, GClosure*) { delete static_cast<std::shared_ptr<void>*>(p); },
        GConnectFlags{});
    g_signal_connect(view, "notify::title", G_CALLBACK(onOrdinaryTitle), window);
    g_signal_connect_data(
        view, "create", G_CALLBACK(onOrdinaryCreate), new std::shared_ptr<PageWindows>(windows),
        [](gpointer p, GClosure*) { delete static_cast<std::shared_ptr<PageWindows>*>(p); },
        GConnectFlags{});
    return view;
}

} // namespace

// --- engine signals -> port events ----------------------------------------

gboolean WebKitBrowser::onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                       WebKitPolicyDecisionType type, gpointer self) {
    auto* browser = static_cast<WebKitBrowser*>(self);
    switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: return browser->decideNavigation(decision);
    case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION: return browser->decideNewWindow(decision);
    case WEBKIT_POLICY_DECISION_TYPE_RESPONSE: browser->decideResponse(decision); break;
    }
    return FALSE; // the engine's own choice
}

// decide-policy NAVIGATION_ACTION -> BeforeNavigate2(url). Every navigation
// of the page and of its frames passes here before it starts: link clicks,
// script navigations, form submissions (the address only; the engine does
// not show the posted data here), frames, and our own Navigate requests.
// Cancel -> webkit_policy_decision_ignore. The engine reports nothing for a
// navigation it never started, so the halted navigation's DownloadComplete
// is raised here.
gboolean WebKitBrowser::decideNavigation(WebKitPolicyDecision* decision) {
    const std::string url = requestUri(webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision)));
    bool cancel = false;
    const bool alive = raise([&](BrowserEvents& e) { e.BeforeNavigate2(url, cancel); });
    if (cancel || !alive) {
        webkit_policy_decision_ignore(decision);
        if (alive) raise([&](BrowserEvents& e) { e.DownloadComplete(); });
    } else {
        webkit_policy_decision_use(decision);
    }
    return TRUE;
}

// decide-policy NEW_WINDOW_ACTION -> NewWindow2 (a target=_blank link or
// form). Cancel -> ignore; otherwise the engine asks for the window through
// `create` next, which must not report the same request again.
gboolean WebKitBrowser::decideNewWindow(WebKitPolicyDecision* decision) {
    const std::string url = requestUri(webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision)));
    bool cancel = false;
    const bool alive = raise([&](BrowserEvents& e) { e.NewWindow2(cancel); });
    if (cancel || !alive) {
        webkit_policy_decision_ignore(decision);
    } else {
        allowedNewWindow_ = url;
        webkit_policy_decision_use(decision);
    }
    return TRUE;
}

// decide-policy RESPONSE -> NavigateError(url, status) for an HTTP error
// status of the page itself (the engine finishes such a load normally and
// shows the server's page, so load-failed never sees it). The response is
// used whatever the handler says.
void WebKitBrowser::decideResponse(WebKitPolicyDecision* decision) {
    auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
    if (!webkit_response_policy_decision_is_main_frame_main_resource(response)) return;
    const guint status =
        webkit_uri_response_get_status_code(webkit_response_policy_decision_get_response(response));
    if (status < 400) return;
    const char* uri =
        webkit_uri_request_get_uri(webkit_response_policy_decision_get_request(response));
    const std::string url = uri ? uri : "";
    bool cancel = false;
    raise([&](BrowserEvents& e) { e.NavigateError(url, static_cast<int>(status), cancel); });
}

// create -> NewWindow2 when the request was not reported yet: window.open
// reaches only `create`, without a decide-policy of its own. Cancel -> no
// window (the page's window.open gives null). Not cancelled -> an ordinary
// browser window, unless the page has the most open already (PageWindows):
// then no window either. The focused element is already known here (onFocusMessage).
GtkWidget* WebKitBrowser::onCreate(WebKitWebView* view, WebKitNavigationAction* action,
                                   gpointer self) {
    auto* browser = static_cast<WebKitBrowser*>(self);
    const std::string url = requestUri(action);
    if (browser->allowedNewWindow_ && *browser->allowedNewWindow_ == url) {
        browser->allowedNewWindow_.reset();
    } else {
        bool cancel = false;
        if (!browser->raise([&](BrowserEvents& e) { e.NewWindow2(cancel); }) || cancel)
            return nullptr;
    }
    // A window the launcher lets open, if the page has fewer than the most.
    std::shared_ptr<PageWindows> windows = browser->pageWindows();
    std::shared_ptr<void> hold = windows->admit();
    if (!hold) return nullptr;
    return ordinaryWindow(view, windows, std::move(hold));
}

// load-changed:
// - STARTED: a new load of the page.
// - COMMITTED: the page has a document from now on (hasDocument); the new
//   document has no focused element yet.
// - FINISHED -> DownloadComplete, then DocumentComplete(uri) - the order the
//   hosting windows know - for a load that got a document. A load that failed
//   or was stopped before its document came also ends with FINISHED (reporting
//   the old address), and gets DownloadComplete only.
// Only the top-level page reports loads; frames do not.
void WebKitBrowser::onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self) {
    auto* browser = static_cast<WebKitBrowser*>(self);
    switch (event) {
    case WEBKIT_LOAD_STARTED: browser->failedBeforeCommit_ = false; break;
    case WEBKIT_LOAD_REDIRECTED: break;
    case WEBKIT_LOAD_COMMITTED:
        browser->committed_ = true;
        browser->focused_.reset();
        browser->allowedNewWindow_.reset();
        break;
    case WEBKIT_LOAD_FINISHED: {
        const bool document = !browser->failedBeforeCommit_;
        browser->failedBeforeCommit_ = false;
        const char* uri = webkit_web_view_get_uri(view);
        const std::string url = uri ? uri : "";
        if (!browser->raise([&](BrowserEvents& e) { e.DownloadComplete(); })) return;
        if (document) browser->raise([&](BrowserEvents& e) { e.DocumentComplete(url); });
        break;
    }
    }
}

// load-failed -> NavigateError(url, the engine's error code), for real
// failures only: a stop, a load replaced by another and a response the
// engine did not take are halts, not errors. The handler's cancel is not
// used: the engine shows its own error page in any case (a load of its own,
// with its own COMMITTED and FINISHED).
gboolean WebKitBrowser::onLoadFailed(WebKitWebView*, WebKitLoadEvent event, const char* uri,
                                     GError* error, gpointer self) {
    auto* browser = static_cast<WebKitBrowser*>(self);
    if (event != WEBKIT_LOAD_COMMITTED && event != WEBKIT_LOAD_FINISHED)
        browser->failedBeforeCommit_ = true;
    if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
        g_error_matches(error, WEBKIT_POLICY_ERROR,
                        WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE))
        return FALSE;
    const std::string url = uri ? uri : "";
    const int code = error ? error->code : 0;
    bool cancel = false;
    browser->raise([&](BrowserEvents& e) { e.NavigateError(url, code, cancel); });
    return FALSE;
}

// notify::title -> TitleChange(title). The engine clears the title ("") as
// each new page comes, then gives the page's own.
void WebKitBrowser::onTitle(WebKitWebView* view, GParamSpec*, gpointer self) {
    auto* browser = static_cast<WebKitBrowser*>(self);
    const char* title = webkit_web_view_get_title(view);
    const std::string text = title ? title : "";
    browser->raise([&](BrowserEvents& e) { e.TitleChange(text); });
}

// web-process-terminated -> EngineTerminated, whatever the reason (a crash,
// the memory limit; we never end the process ourselves). The view's last
// picture would stay on the screen of a page that no longer exists: it is
// redrawn, which shows nothing (the frame or window behind it) until the
// next load starts a new process.
void WebKitBrowser::onProcessTerminated(WebKitWebView* view, WebKitWebProcessTerminationReason,
                                        gpointer self) {
    auto* browser = static_cast<WebKitBrowser*>(self);
    browser->committed_ = false;
    browser->focused_.reset();
    browser->allowedNewWindow_.reset();
    gtk_widget_queue_draw(GTK_WIDGET(view));
    browser->raise([&](BrowserEvents& e) { e.EngineTerminated(); });
}

// Silent: the page's alert, confirm and prompt boxes are not shown (confirm
// answers Cancel, prompt gives null); a "leave this page?" question answers
// leave, so a silent browser never stays stuck on a page.
gboolean WebKitBrowser::onScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self) {
    if (!static_cast<WebKitBrowser*>(self)->silent_) return FALSE;
    if (webkit_script_dialog_get_dialog_type(dialog) == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM)
        webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
    return TRUE;
}

// Silent: permission requests (location, notifications, media, ...) are
// refused without asking.
gboolean WebKitBrowser::onPermission(WebKitWebView*, WebKitPermissionRequest* request,
                                     gpointer self) {
    if (!static_cast<WebKitBrowser*>(self)->silent_) return FALSE;
    webkit_permission_request_deny(request);
    return TRUE;
}

// The page's focus report (kFocusReport in browser.cpp): the cache
// activeElement() answers from.
void WebKitBrowser::onFocusMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                                   gpointer self) {
    auto* browser = static_cast<WebKitBrowser*>(self);
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    if (!jsc_value_is_object(value)) {
        browser->focused_.reset();
        return;
    }
    auto text = [value](const char* name) {
        JSCValue* property = jsc_value_object_get_property(value, name);
        std::string out;
        if (jsc_value_is_string(property)) {
            gchar* s = jsc_value_to_string(property);
            out = s ? s : "";
            g_free(s);
        }
        g_object_unref(property);
        return out;
    };
    browser->focused_ = ActiveElement{text("tag"), text("href")};
}

} // namespace fw::gtk
