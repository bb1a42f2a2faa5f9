// The embedded browser of the Linux launcher: a WebKitWebView (WebKitGTK,
// webkit2gtk-4.1) whose signals are reported as the browser port's events.
// Where each engine signal becomes which event is written down beside the
// handler that does it, in browser_events.cpp; the view, its engine
// context and the requests are in browser.cpp.
#pragma once

#include "framework/portable/browser_base.h"

#include <webkit2/webkit2.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fw::gtk {

class GtkPlatform;
class GtkWindowPeer;

class WebKitBrowser : public BrowserBase {
public:
    WebKitBrowser(GtkPlatform& platform, GtkWindowPeer& parent, BrowserEvents& events,
                  const std::optional<Rect>& frame);
    ~WebKitBrowser() override;

    void setSilent(bool silent) override { silent_ = silent; }
    void place(const Rect& rect) override;
    Rect placement() const override { return placement_; }
    bool hasDocument() override { return committed_; }
    std::optional<std::string> documentTitle() override;
    std::optional<ActiveElement> activeElement() override;
    bool runScript(const std::string& script) override;
    void focus() override;

private:
    void startNavigation(const std::string& url) override;
    void deliver(const std::function<void()>& handler) override;

    gboolean decideNavigation(WebKitPolicyDecision* decision);
    gboolean decideNewWindow(WebKitPolicyDecision* decision);
    void decideResponse(WebKitPolicyDecision* decision);

    static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, gpointer self);
    static GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self);
    static void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self);
    static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent event, const char* uri,
                                 GError* error, gpointer self);
    static void onTitle(WebKitWebView*, GParamSpec*, gpointer self);
    static void onProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason,
                                    gpointer self);
    static gboolean onScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self);
    static gboolean onPermission(WebKitWebView*, WebKitPermissionRequest* request, gpointer self);
    static void onFocusMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                               gpointer self);
    static gboolean destroyLater(gpointer widget);

    GtkPlatform& platform_;
    GtkWidget* frame_ = nullptr; // the clipping child area, when there is one
    GtkWidget* view_ = nullptr;
    WebKitUserContentManager* content_ = nullptr;
    Rect placement_;
    bool silent_ = false;
    bool committed_ = false;
    bool failedBeforeCommit_ = false;
    std::optional<ActiveElement> focused_;
    // A new-window request already reported and allowed, whose window the
    // engine is about to ask for.
    std::optional<std::string> allowedNewWindow_;
    std::vector<GCancellable*> scripts_; // script calls still waiting for the page
};

// Frees the key-binding text views the engine keeps inside each view under
// widget; for views about to be destroyed.
void releaseEngineTextViews(GtkWidget* widget);

// Downloads that pages start (a link with `download`, a data: link, an
// attachment, in any frame, with or without a click) are saved only where
// the player says, as the Windows browser control asks too: every download
// of `context` waits for a save dialog ("另存为"), one at a time, modal to
// the window whose page started it; cancelled, it writes nothing
// (page_downloads.cpp).
void askWhereToSaveDownloads(WebKitWebContext* context);

// The browser engine's library is opened when the first browser is made,
// not when the program starts, so the background window does not wait for
// it and the libraries it needs to load. Throws
// std::runtime_error, saying why, when the library cannot be opened; every
// engine function the adapter calls goes through engine_library.cpp.
void openEngineLibrary();

// Whether the machine has a GPU the engine could draw with: a DRM render node
// (/dev/dri/renderD*). Without one every GL here is Mesa's software
// rasteriser, and the engine's composited drawing only costs time and memory.
bool hasRenderNode();

} // namespace fw::gtk
