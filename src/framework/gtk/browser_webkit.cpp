#include "framework/gtk/browser_webkit.h"

#include "framework/gtk/engine_library.h"
#include "framework/gtk/gtk_platform.h"
#include "framework/gtk/page_downloads.h"
#include "framework/gtk/text.h"

#include <algorithm>
#include <utility>

namespace fw::gtk {

namespace {

// Web storage, cookies and the disk cache belong to the user, not to the
// program's folder (which may be read-only or shared): they go under
// $XDG_DATA_HOME and $XDG_CACHE_HOME in a folder of this name.
constexpr const char* kDataFolder = "varnholt-launcher";

// How long runScript waits for the page's answer.
constexpr guint kScriptWaitMs = 3000;

// The focused element is asked for while the engine waits for a new-window
// decision, when the page cannot be asked (its answer would come too late,
// or never while the page waits for the window). So the page reports every
// focus change as it happens: each focusin and focusout posts what
// document.activeElement is then (its tagName as the DOM gives it, upper case
// for HTML, and its href property when that is a text), or null when
// nothing but the document itself has the focus. The report runs in a
// script world of its own, where the page's scripts cannot reach the channel
// nor replace what the report calls. It reaches us before the decision of
// the click that caused it, since both travel on the same connection from
// the page's process.
constexpr const char* kScriptWorld = "launcher";
constexpr const char* kFocusChannel = "focus";
constexpr const char* kFocusReport = R"JS((function () {
    function report() {
        var e = document.activeElement, m = null;
        if (e && e !== document.body && e !== document.documentElement)
            m = { tag: String(e.tagName || ""), href: typeof e.href === "string" ? e.href : "" };
        window.webkit.messageHandlers.focus.postMessage(m);
    }
    document.addEventListener("focusin", report, true);
    document.addEventListener("focusout", report, true);
})();)JS";

// One engine context for every view of the program: one network process,
// one cookie jar, the per-user folders above, and the player's answer
// before any download of a page is written (page_downloads.h).
WebKitWebContext* webContext() {
    static WebKitWebContext* context = [] {
        gchar* data = g_build_filename(g_get_user_data_dir(), kDataFolder, nullptr);
        gchar* cache = g_build_filename(g_get_user_cache_dir(), kDataFolder, nullptr);
        auto* manager = static_cast<WebKitWebsiteDataManager*>(
            g_object_new(WEBKIT_TYPE_WEBSITE_DATA_MANAGER, "base-data-directory", data,
                         "base-cache-directory", cache, nullptr));
        WebKitWebContext* c = webkit_web_context_new_with_website_data_manager(manager);
        askWhereToSaveDownloads(c);
        g_object_unref(manager);
        g_free(cache);
        g_free(data);
        return c;
    }();
    return context;
}

// The views of the launcher's windows that exist.
std::vector<GtkWidget*>& liveViews() {
    static std::vector<GtkWidget*> views;
    return views;
}

// The view whose page process a new view takes over: the newest one whose
// window has been hidden to make room for the new one (the login face's at
// the hand-over), so the game page starts loading at once instead of
// waiting some 400 ms for a process of its own, and the program keeps one
// page process. A view of a window still on the screen is left alone: its
// page may be hung (a game page spinning in a script keeps its whole
// process busy), and a view made beside it (the login face after the game
// window's close) starts a process of its own.
GtkWidget* replacedView() {
    auto& views = liveViews();
    for (auto it = views.rbegin(); it != views.rend(); ++it)
        if (!gtk_widget_is_visible(*it)) return *it;
    return nullptr;
}

WebKitSettings* viewSettings() {
    static WebKitSettings* settings = [] {
        WebKitSettings* s = webkit_settings_new();
        // The login page's view sits at a negative offset in its frame;
        // composited (accelerated) drawing leaves a band of it unpainted
        // there. Software drawing is right at any offset, and the launcher's
        // pages need nothing more.
        webkit_settings_set_hardware_acceleration_policy(s,
                                                         WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
        return s;
    }();
    return settings;
}

std::string requestUri(WebKitNavigationAction* action) {
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    return uri ? uri : "";
}

// Each view (WebKitGTK 2.50 on GTK 3) has a text view of its own as an
// internal child, for key bindings, and the engine never unparents it: when
// the view goes, the text view stays, with its buffer, input-method context
// and style nodes. Removed through the engine's own remove handler, which
// forgets it, it is freed. Only for a view about to be destroyed: a key
// reaching the view afterwards would find no translator.
void collectChild(GtkWidget* child, gpointer list) {
    static_cast<std::vector<GtkWidget*>*>(list)->push_back(child);
}

void releaseEngineTextViews(GtkWidget* widget) {
    if (!GTK_IS_CONTAINER(widget)) return;
    std::vector<GtkWidget*> all;
    std::vector<GtkWidget*> ordinary;
    gtk_container_forall(GTK_CONTAINER(widget), collectChild, &all);
    gtk_container_foreach(GTK_CONTAINER(widget), collectChild, &ordinary);
    for (GtkWidget* child : all) {
        if (std::find(ordinary.begin(), ordinary.end(), child) != ordinary.end())
            releaseEngineTextViews(child);
        else if (GTK_IS_TEXT_VIEW(child))
            gtk_container_remove(GTK_CONTAINER(widget), child);
    }
}

void destroyWithViews(GtkWidget* widget) {
    releaseEngineTextViews(widget);
    gtk_widget_destroy(widget);
}

// The frame is a plain white area.
gboolean paintWhite(GtkWidget*, cairo_t* cr, gpointer) {
    cairo_set_source_rgb(cr, 1.0, 1.0, 1.0);
    cairo_paint(cr);
    return FALSE; // the view is drawn over it
}

// --- ordinary browser windows ---------------------------------------------
// A new window the launcher lets open is a plain top-level window holding a
// view related to the one that asked (same page process, same settings and
// session), as any browser opens one. The launcher does not watch it: it
// reports no events and lives until the user or its page closes it.

GtkWidget* ordinaryWindow(WebKitWebView* opener);

GtkWidget* onOrdinaryCreate(WebKitWebView* view, WebKitNavigationAction*, gpointer) {
    return ordinaryWindow(view);
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
// view is still whole when the window's own destroy handlers run.
void onOrdinaryDestroy(GtkWidget* window, gpointer) {
    releaseEngineTextViews(window);
}

void onOrdinaryTitle(WebKitWebView* view, GParamSpec*, gpointer window) {
    const char* title = webkit_web_view_get_title(view);
    gtk_window_set_title(GTK_WINDOW(window), title ? title : "");
}

GtkWidget* ordinaryWindow(WebKitWebView* opener) {
    GtkWidget* view =
        GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", opener, "settings",
                                webkit_web_view_get_settings(opener), nullptr));
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 800, 600);
    gtk_container_add(GTK_CONTAINER(window), view);
    g_signal_connect(view, "ready-to-show", G_CALLBACK(onOrdinaryReady), window);
    g_signal_connect(view, "close", G_CALLBACK(onOrdinaryClose), window);
    g_signal_connect(window, "destroy", G_CALLBACK(onOrdinaryDestroy), nullptr);
    g_signal_connect(view, "notify::title", G_CALLBACK(onOrdinaryTitle), window);
    g_signal_connect(view, "create", G_CALLBACK(onOrdinaryCreate), nullptr);
    return view;
}

// --- waiting for a script -------------------------------------------------

struct ScriptCall {
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    bool done = false;
    bool ok = false;
    bool timedOut = false;
    ~ScriptCall() { g_main_loop_unref(loop); }
};

void scriptDone(GObject* view, GAsyncResult* result, gpointer data) {
    // Owns a reference to the call: the wait may have ended long ago.
    auto* call = static_cast<std::shared_ptr<ScriptCall>*>(data);
    GError* error = nullptr;
    JSCValue* value =
        webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, &error);
    (*call)->ok = value != nullptr;
    if (value) g_object_unref(value);
    g_clear_error(&error);
    (*call)->done = true;
    g_main_loop_quit((*call)->loop);
    delete call;
}

gboolean scriptTimeout(gpointer data) {
    auto* call = static_cast<ScriptCall*>(data);
    call->timedOut = true;
    g_main_loop_quit(call->loop);
    return G_SOURCE_REMOVE;
}

} // namespace

WebKitBrowser::WebKitBrowser(GtkPlatform& platform, GtkPeer& parent, BrowserEvents& events,
                             const std::optional<Rect>& frame)
    : platform_(platform), events_(events) {
    openEngineLibrary();
    // Each view has its own content manager: focus reports are kept per view.
    content_ = webkit_user_content_manager_new();
    g_signal_connect(content_, "script-message-received::focus", G_CALLBACK(onFocusMessage), this);
    webkit_user_content_manager_register_script_message_handler_in_world(content_, kFocusChannel,
                                                                         kScriptWorld);
    WebKitUserScript* report = webkit_user_script_new_for_world(
        kFocusReport, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, kScriptWorld, nullptr, nullptr);
    webkit_user_content_manager_add_script(content_, report);
    webkit_user_script_unref(report);

    if (GtkWidget* replaced = replacedView(); !replaced)
        view_ =
            GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", webContext(), "settings",
                                    viewSettings(), "user-content-manager", content_, nullptr));
    else
        view_ = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", replaced, "settings",
                                        viewSettings(), "user-content-manager", content_, nullptr));
    liveViews().push_back(view_);

    if (frame) {
        // A frame: a white child area of exactly that rectangle of the client
        // area. A GtkLayout clips its children to itself (the client area, a
        // GtkFixed, would not), so the parts of a larger, shifted view that
        // lie outside the frame - its edges and scroll bars - are not seen.
        frame_ = gtk_layout_new(nullptr, nullptr);
        gtk_widget_set_size_request(frame_, std::max(frame->width, 0), std::max(frame->height, 0));
        g_signal_connect(frame_, "draw", G_CALLBACK(paintWhite), nullptr);
        gtk_layout_put(GTK_LAYOUT(frame_), view_, 0, 0);
        gtk_fixed_put(parent.content(), frame_, frame->left, frame->top);
        gtk_widget_show(frame_);
    } else {
        // No frame: the view sits in the client area directly and the
        // window clips it. The client area asks for the window's own size
        // whatever its children ask for, so a view wider than the window
        // does not make the window grow.
        gtk_fixed_put(parent.content(), view_, 0, 0);
    }
    gtk_widget_set_size_request(view_, 0, 0);
    gtk_widget_show(view_);

    g_signal_connect(view_, "decide-policy", G_CALLBACK(onDecidePolicy), this);
    g_signal_connect(view_, "create", G_CALLBACK(onCreate), this);
    g_signal_connect(view_, "load-changed", G_CALLBACK(onLoadChanged), this);
    g_signal_connect(view_, "load-failed", G_CALLBACK(onLoadFailed), this);
    g_signal_connect(view_, "notify::title", G_CALLBACK(onTitle), this);
    g_signal_connect(view_, "web-process-terminated", G_CALLBACK(onProcessTerminated), this);
    g_signal_connect(view_, "script-dialog", G_CALLBACK(onScriptDialog), this);
    g_signal_connect(view_, "permission-request", G_CALLBACK(onPermission), this);
}

WebKitBrowser::~WebKitBrowser() {
    // Nothing reaches the window object any more: an event being raised
    // sees alive_ turn false, queued navigations are dropped, waiting script
    // calls end, and the engine's signals are cut before the view goes.
    *alive_ = false;
    auto& views = liveViews();
    views.erase(std::remove(views.begin(), views.end(), view_), views.end());
    if (navigateSource_) g_source_remove(navigateSource_);
    g_signal_handlers_disconnect_by_data(view_, this);
    g_signal_handlers_disconnect_by_data(content_, this);
    // The page process keeps what a registered handler needs, page by page,
    // for as long as it runs unless the handler is unregistered.
    webkit_user_content_manager_unregister_script_message_handler_in_world(content_, kFocusChannel,
                                                                           kScriptWorld);
    for (GCancellable* call : scripts_) g_cancellable_cancel(call);
    GtkWidget* top = frame_ ? frame_ : view_;
    if (raising_ > 0) {
        // Gone from inside one of its own events (the login page's hand-over
        // releases it): the engine is still in the signal that raised it, so
        // the view goes once that has returned.
        g_idle_add(destroyLater, g_object_ref(top));
    } else {
        destroyWithViews(top);
    }
    g_object_unref(content_);
}

gboolean WebKitBrowser::destroyLater(gpointer widget) {
    destroyWithViews(GTK_WIDGET(widget));
    g_object_unref(widget);
    return G_SOURCE_REMOVE;
}

// Raises one event of the port. Its handler may destroy this browser (its
// window closed, for instance, while a nested loop ran); raise then returns
// false and nothing of the browser may be touched any more.
template <typename F>
bool WebKitBrowser::raise(F&& event) {
    const std::shared_ptr<bool> alive = alive_;
    ++raising_;
    platform_.deliver(std::forward<F>(event));
    if (*alive) --raising_;
    return *alive;
}

// Navigate: the request is queued and carried out from the message loop, as
// the engine itself would: BeforeNavigate2 for it arrives after Navigate has
// returned, through decide-policy like any other navigation. An empty
// address shows a blank page (about:blank).
//
// A request with another queued behind it is replaced before it could
// start, so it is not handed to the engine, which would only cancel it: a
// load that replaces one the engine is still setting up now and then never
// reaches the network (the soak saw the game page never requested, its
// window blank, about once in 25 returns). It still gets its BeforeNavigate2,
// where a hand-over may take it, and DownloadComplete when it is cancelled.
void WebKitBrowser::Navigate(const std::string& url) {
    navigations_.push_back(url.empty() ? "about:blank" : utf8(url));
    if (!navigateSource_)
        navigateSource_ = g_idle_add_full(G_PRIORITY_DEFAULT, onNavigateDue, this, nullptr);
}

gboolean WebKitBrowser::onNavigateDue(gpointer data) {
    auto* self = static_cast<WebKitBrowser*>(data);
    while (self->navigations_.size() > 1) {
        const std::string url = std::move(self->navigations_.front());
        self->navigations_.pop_front();
        bool cancel = false;
        if (!self->raise([&] { self->events_.BeforeNavigate2(url, cancel); }))
            return G_SOURCE_REMOVE;
        if (cancel && !self->raise([&] { self->events_.DownloadComplete(); }))
            return G_SOURCE_REMOVE;
    }
    const std::string url = std::move(self->navigations_.front());
    self->navigations_.pop_front();
    self->navigateSource_ = 0;
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(self->view_), url.c_str());
    return G_SOURCE_REMOVE;
}

void WebKitBrowser::place(const Rect& rect) {
    placement_ = rect;
    // A minimised game window asks for 17 x 0: a view of no height.
    gtk_widget_set_size_request(view_, std::max(rect.width, 0), std::max(rect.height, 0));
    if (frame_)
        gtk_layout_move(GTK_LAYOUT(frame_), view_, rect.left, rect.top);
    else
        gtk_fixed_move(GTK_FIXED(gtk_widget_get_parent(view_)), view_, rect.left, rect.top);
}

std::optional<std::string> WebKitBrowser::documentTitle() {
    if (!committed_) return std::nullopt;
    const char* title = webkit_web_view_get_title(WEBKIT_WEB_VIEW(view_));
    return std::string(title ? title : "");
}

std::optional<ActiveElement> WebKitBrowser::activeElement() {
    if (!committed_) return std::nullopt;
    return focused_;
}

// runScript: webkit_web_view_evaluate_javascript in the page's own script
// world and top-level frame, waiting for the answer in a nested main loop for
// at most kScriptWaitMs. True only when the script ran without an error
// (a missing function is a ReferenceError).
//
// Re-entrancy: while it waits, the main loop runs on. Timers tick, other
// windows are drawn and take input, and this browser may raise further
// events - whose handlers may call runScript again (those waits nest and end
// innermost first) or close the window and destroy this browser, in which
// case the wait ends at once and false is returned. A handler must not call
// it while the engine waits for that handler's own answer to a page (in
// `create`, the page is blocked until it returns): it would wait the full
// time and fail.
bool WebKitBrowser::runScript(const std::string& script) {
    auto call = std::make_shared<ScriptCall>();
    GCancellable* cancellable = g_cancellable_new();
    scripts_.push_back(cancellable);
    webkit_web_view_evaluate_javascript(
        WEBKIT_WEB_VIEW(view_), script.c_str(), static_cast<gssize>(script.size()), nullptr,
        nullptr, cancellable, scriptDone, new std::shared_ptr<ScriptCall>(call));
    const guint timeout = g_timeout_add(kScriptWaitMs, scriptTimeout, call.get());
    const std::shared_ptr<bool> alive = alive_;
    if (!call->done) g_main_loop_run(call->loop);
    if (!call->timedOut) g_source_remove(timeout);
    if (!call->done) g_cancellable_cancel(cancellable); // the late answer is not wanted
    if (*alive) scripts_.erase(std::find(scripts_.begin(), scripts_.end(), cancellable));
    g_object_unref(cancellable);
    return *alive && call->ok;
}

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
    const bool alive = raise([&] { events_.BeforeNavigate2(url, cancel); });
    if (cancel || !alive) {
        webkit_policy_decision_ignore(decision);
        if (alive) raise([&] { events_.DownloadComplete(); });
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
    const bool alive = raise([&] { events_.NewWindow2(cancel); });
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
    raise([&] { events_.NavigateError(url, static_cast<int>(status), cancel); });
}

// create -> NewWindow2 when the request was not reported yet: window.open
// reaches only `create`, without a decide-policy of its own. Cancel -> no
// window (the page's window.open gives null). Not cancelled -> an ordinary
// browser window. The focused element is already known here (focusReport).
GtkWidget* WebKitBrowser::onCreate(WebKitWebView* view, WebKitNavigationAction* action,
                                   gpointer self) {
    auto* browser = static_cast<WebKitBrowser*>(self);
    const std::string url = requestUri(action);
    if (browser->allowedNewWindow_ && *browser->allowedNewWindow_ == url) {
        browser->allowedNewWindow_.reset();
        return ordinaryWindow(view);
    }
    bool cancel = false;
    if (!browser->raise([&] { browser->events_.NewWindow2(cancel); }) || cancel) return nullptr;
    return ordinaryWindow(view);
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
void WebKitBrowser::onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    static_cast<WebKitBrowser*>(self)->loadChanged(event);
}

void WebKitBrowser::loadChanged(WebKitLoadEvent event) {
    switch (event) {
    case WEBKIT_LOAD_STARTED: failedBeforeCommit_ = false; break;
    case WEBKIT_LOAD_REDIRECTED: break;
    case WEBKIT_LOAD_COMMITTED:
        committed_ = true;
        focused_.reset();
        allowedNewWindow_.reset();
        break;
    case WEBKIT_LOAD_FINISHED: {
        const bool document = !failedBeforeCommit_;
        failedBeforeCommit_ = false;
        const char* uri = webkit_web_view_get_uri(WEBKIT_WEB_VIEW(view_));
        const std::string url = uri ? uri : "";
        if (!raise([&] { events_.DownloadComplete(); })) return;
        if (document) raise([&] { events_.DocumentComplete(url); });
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
    static_cast<WebKitBrowser*>(self)->loadFailed(event, uri, error);
    return FALSE;
}

void WebKitBrowser::loadFailed(WebKitLoadEvent event, const char* uri, GError* error) {
    if (event != WEBKIT_LOAD_COMMITTED && event != WEBKIT_LOAD_FINISHED) failedBeforeCommit_ = true;
    if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
        g_error_matches(error, WEBKIT_POLICY_ERROR,
                        WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE))
        return;
    const std::string url = uri ? uri : "";
    const int code = error ? error->code : 0;
    bool cancel = false;
    raise([&] { events_.NavigateError(url, code, cancel); });
}

// notify::title -> TitleChange(title). The engine clears the title ("") as
// each new page comes, then gives the page's own.
void WebKitBrowser::onTitle(WebKitWebView* view, GParamSpec*, gpointer self) {
    auto* browser = static_cast<WebKitBrowser*>(self);
    const char* title = webkit_web_view_get_title(view);
    const std::string text = title ? title : "";
    browser->raise([&] { browser->events_.TitleChange(text); });
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
    browser->raise([&] { browser->events_.EngineTerminated(); });
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

void WebKitBrowser::onFocusMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                                   gpointer self) {
    static_cast<WebKitBrowser*>(self)->focusReport(webkit_javascript_result_get_js_value(result));
}

// The focus report of the page (see kFocusReport): the cache activeElement()
// answers from.
void WebKitBrowser::focusReport(JSCValue* value) {
    if (!jsc_value_is_object(value)) {
        focused_.reset();
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
    focused_ = ActiveElement{text("tag"), text("href")};
}

} // namespace fw::gtk
