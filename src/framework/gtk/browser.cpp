#include "framework/gtk/browser.h"

#include "framework/gtk/platform.h"
#include "framework/gtk/text.h"

#include <algorithm>

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
// before any download of a page is written (page_downloads.cpp).
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
// waiting for a process of its own, and the program keeps one page
// process. A view of a window still on the screen is left alone: its page
// may be hung (a game page spinning in a script keeps its whole process
// busy), and a view made beside it (the login face after the game window's
// close) starts a process of its own.
GtkWidget* replacedView() {
    auto& views = liveViews();
    for (auto it = views.rbegin(); it != views.rend(); ++it)
        if (!gtk_widget_is_visible(*it)) return *it;
    return nullptr;
}

WebKitSettings* settingsWith(WebKitHardwareAccelerationPolicy policy) {
    WebKitSettings* s = webkit_settings_new();
    webkit_settings_set_hardware_acceleration_policy(s, policy);
    return s;
}

// The login page's view sits at a negative offset in its frame; composited
// (accelerated) drawing leaves a band of it unpainted there. Software drawing
// is right at any offset, and the login page needs nothing more.
WebKitSettings* loginViewSettings() {
    static WebKitSettings* settings = settingsWith(WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    return settings;
}

// The game page draws with the GPU where there is one (WebGL, canvas and
// compositing on the hardware). Without one the engine's GL is Mesa's
// software rasteriser: software drawing then runs the game faster and in
// less memory. A player whose GPU driver misbehaves sets
// the engine's own WEBKIT_DISABLE_COMPOSITING_MODE=1 (docs/operators.md).
WebKitSettings* gameViewSettings() {
    static WebKitSettings* settings =
        settingsWith(hasRenderNode() ? WEBKIT_HARDWARE_ACCELERATION_POLICY_ALWAYS
                                     : WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    return settings;
}

// The frame is a plain white area.
gboolean paintWhite(GtkWidget*, cairo_t* cr, gpointer) {
    cairo_set_source_rgb(cr, 1.0, 1.0, 1.0);
    cairo_paint(cr);
    return FALSE; // the view is drawn over it
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

void collectChild(GtkWidget* child, gpointer list) {
    static_cast<std::vector<GtkWidget*>*>(list)->push_back(child);
}

} // namespace

// Each view (WebKitGTK 2.50 on GTK 3) has a text view of its own as an
// internal child, for key bindings, and the engine never unparents it: when
// the view goes, the text view stays, with its buffer, input-method context
// and style nodes. Removed through the engine's own remove handler, which
// forgets it, it is freed. Only for a view about to be destroyed: a key
// reaching the view afterwards would find no translator.
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

static void destroyWithViews(GtkWidget* widget) {
    releaseEngineTextViews(widget);
    gtk_widget_destroy(widget);
}

// Of several requests queued at once only the last is loaded: a load that
// replaces one the engine is still setting up now and then never reaches
// the network.
WebKitBrowser::WebKitBrowser(GtkPlatform& platform, GtkWindowPeer& parent, BrowserEvents& events,
                             const std::optional<Rect>& frame)
    : BrowserBase(events, Queued::LastOnly), platform_(platform) {
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

    // The login window's view is the one in a frame.
    WebKitSettings* settings = frame ? loginViewSettings() : gameViewSettings();
    if (GtkWidget* replaced = replacedView(); !replaced)
        view_ =
            GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", webContext(), "settings",
                                    settings, "user-content-manager", content_, nullptr));
    else
        view_ = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", replaced, "settings",
                                        settings, "user-content-manager", content_, nullptr));
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
    // sees the browser gone, queued navigations are dropped, waiting script
    // calls end, and the engine's signals are cut before the view goes.
    stopEvents();
    auto& views = liveViews();
    views.erase(std::remove(views.begin(), views.end(), view_), views.end());
    g_signal_handlers_disconnect_by_data(view_, this);
    g_signal_handlers_disconnect_by_data(content_, this);
    // The page process keeps what a registered handler needs, page by page,
    // for as long as it runs unless the handler is unregistered.
    webkit_user_content_manager_unregister_script_message_handler_in_world(content_, kFocusChannel,
                                                                           kScriptWorld);
    for (GCancellable* call : scripts_) g_cancellable_cancel(call);
    GtkWidget* top = frame_ ? frame_ : view_;
    if (raising()) {
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

// The engine's own Navigate: a trusted load of the address.
void WebKitBrowser::startNavigation(const std::string& url) {
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view_), utf8(url).c_str());
}

// An error that escapes a handler has nobody to catch it in the engine's
// signals: the platform shows it and ends the program.
void WebKitBrowser::deliver(const std::function<void()>& handler) {
    platform_.deliver(handler);
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
void WebKitBrowser::focus() {
    // The view becomes its window's focus widget: the page gets the keys as
    // soon as the window has them.
    gtk_widget_grab_focus(view_);
}

bool WebKitBrowser::runScript(const std::string& script) {
    auto call = std::make_shared<ScriptCall>();
    GCancellable* cancellable = g_cancellable_new();
    scripts_.push_back(cancellable);
    webkit_web_view_evaluate_javascript(
        WEBKIT_WEB_VIEW(view_), script.c_str(), static_cast<gssize>(script.size()), nullptr,
        nullptr, cancellable, scriptDone, new std::shared_ptr<ScriptCall>(call));
    const guint timeout = g_timeout_add(kScriptWaitMs, scriptTimeout, call.get());
    const AliveToken::Watch alive = aliveToken();
    if (!call->done) g_main_loop_run(call->loop);
    if (!call->timedOut) g_source_remove(timeout);
    if (!call->done) g_cancellable_cancel(cancellable); // the late answer is not wanted
    if (alive.alive()) scripts_.erase(std::find(scripts_.begin(), scripts_.end(), cancellable));
    g_object_unref(cancellable);
    return alive.alive() && call->ok;
}

} // namespace fw::gtk
