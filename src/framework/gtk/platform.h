// The Linux desktop: GTK3 on Wayland or X11. Windows are GtkWindows whose client area is
// one ClientArea (a GtkFixed with its own GdkWindow) that child controls are
// placed on in pixels; message boxes are modal GtkMessageDialogs; timers are
// GLib timeouts on the main loop.
#pragma once

#include "framework/linux/imaging.h"
#include "framework/linux/platform.h"

#include <gtk/gtk.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace fw::gtk {

class GtkPlatform;
class WindowFace;

class GtkWindowPeer : public WindowPeer {
public:
    GtkWindowPeer(GtkPlatform& platform, WindowEvents& events, const FormLayout& layout,
                  GtkWindowPeer* owner);
    ~GtkWindowPeer() override;
    GtkWindowPeer(const GtkWindowPeer&) = delete;
    GtkWindowPeer& operator=(const GtkWindowPeer&) = delete;

    void show() override;
    void hide() override { gtk_widget_hide(host_ ? content_ : window_); }
    bool visible() const override { return gtk_widget_get_visible(host_ ? content_ : window_); }
    Point position() const override;
    void move(Point topLeft) override;
    WindowState state() const override { return host_ ? host_->state() : state_; }
    void setState(WindowState state) override;
    std::string caption() const override;
    void setCaption(const std::string& text) override;
    Size clientSize() const override;
    void beginMoveDrag() override;
    void activate() override;
    void backColorChanged() override { gtk_widget_queue_draw(content_); }
    // The window object's colour, what the client area is filled with.
    OleColor backColor() const { return events_.backColor(); }

    // For the other parts of this adapter (controls, browser, imaging): the
    // top-level window that shows this one (its host's, when it is a guest).
    GtkWindow* window() const { return host_ ? host_->window() : GTK_WINDOW(window_); }
    // The client area: children go here with gtk_fixed_put, in pixels.
    GtkFixed* content() const { return GTK_FIXED(content_); }

    // Stops every event from reaching the window object; used by the
    // immediate end, which must not run any handler.
    void detach();

    // How the window shows itself once layered (window_face.h); made on
    // first use.
    WindowFace& face();
    // The client area takes this size (a layered update sizes the window).
    void setClientSize(Size size);

    // A colour-keyed window owned by a window that shows a picture becomes
    // its owner's guest: its client area moves into the owner's at its
    // offset and is drawn with the key into the owner's face, so the face is
    // one top-level window that no window manager or compositor can pull
    // apart, and one entry in task lists and thumbnails. The peer still
    // answers for it as for a window of its own. False when it stays a window
    // of its own.
    bool becomeGuest(const cairoimg::ColorKey& key);

private:
    static gboolean onDelete(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean onConfigure(GtkWidget*, GdkEventConfigure*, gpointer self);
    static gboolean onWindowState(GtkWidget*, GdkEventWindowState*, gpointer self);
    static gboolean onButtonPress(GtkWidget*, GdkEventButton*, gpointer self);
    static void onActive(GtkWidget*, GParamSpec*, gpointer self);
    static gboolean onDrawBack(GtkWidget*, cairo_t* cr, gpointer self);
    // The host goes first: the client area goes back into its own window.
    void leaveHost();

    GtkPlatform& platform_;
    WindowEvents& events_;
    GtkWindowPeer* owner_;
    GtkWindowPeer* host_ = nullptr; // a guest's
    Point offset_;                  // a guest's place in its host's client area
    GtkWidget* window_ = nullptr;
    GtkWidget* content_ = nullptr;
    // Where the window is, or will be when it is shown: kept from our own
    // moves and from the configure events, so reading it costs no round trip
    // to the X server (the login window's timer reads it every 10 ms).
    Point pos_;
    Size client_;
    WindowState state_ = WindowState::Normal;
    bool iconified_ = false; // as the window manager reports it
    bool shownOnce_ = false;
    std::unique_ptr<WindowFace> face_;
};

// Files, downloads and signatures are the Linux builds' own (framework/linux/).
class GtkPlatform : public LinuxPlatform {
public:
    ~GtkPlatform() override;

    std::unique_ptr<WindowPeer> createWindow(WindowEvents& events, const FormLayout& layout,
                                             WindowPeer* owner) override;
    // A WebKitWebView (browser.h).
    std::unique_ptr<BrowserPeer> createBrowser(WindowPeer& parent, BrowserEvents& events,
                                               const std::optional<Rect>& frame) override;
    Imaging& imaging() override;
    std::unique_ptr<ControlSurface> createControlSurface(WindowPeer& parent, ControlEvents& events,
                                                         const Rect& rect, int tabIndex) override;
    std::unique_ptr<LabelPeer> createLabel(WindowPeer& parent, const Rect& rect,
                                           OleColor colour) override;
    std::unique_ptr<ProgressPeer> createProgressWindow(WindowPeer* owner, const std::string& title,
                                                       const std::string& text,
                                                       const std::string& button,
                                                       std::function<void()> onButton) override;
    int messageBox(const std::string& text, const std::string& title, int style) override;
    [[noreturn]] void end() override { teardown(0); }
    std::int64_t tickMs() override { return g_get_monotonic_time() / 1000; }
    bool startProcess(const std::string& commandLine) override;
    void openUrl(const std::string& address) override;
    void post(std::function<void()> work) override;
    int run() override;
    // The watched download turns the main loop (progress.cpp).
    void awaitTransfer() override;
    void transferEnded() override { g_main_context_wakeup(nullptr); }

    // --- for this adapter ---

    // The press that a move request refers to: X needs its button, place and
    // time to hand the pointer over to the move.
    struct Press {
        guint button = 0;
        int rootX = 0;
        int rootY = 0;
        guint32 time = GDK_CURRENT_TIME;
    };
    void notePress(const Press& press) { lastPress_ = press; }
    const Press& lastPress() const { return lastPress_; }

    // The program icon (resource 1 "ICON"), decoded once; null when it
    // cannot be decoded.
    GdkPixbuf* programIcon();

    void added(GtkWindowPeer* peer) { peers_.push_back(peer); }
    void removed(GtkWindowPeer* peer);
    const std::vector<GtkWindowPeer*>& peers() const { return peers_; }

    // Runs an event handler of the launcher (Platform::guarded); nothing
    // once an untrapped error is being shown.
    template <typename F>
    void deliver(F&& handler) noexcept {
        if (!failing()) guarded(std::forward<F>(handler));
    }

protected:
    void showUntrapped(const std::string& text) override;
    [[noreturn]] void endUntrapped() override { teardown(1); }
    // A GLib timeout on the main loop; the handle is its source id.
    std::uintptr_t armTimer(TimerId id, int intervalMs) override;
    void disarmTimer(std::uintptr_t handle) override {
        g_source_remove(static_cast<guint>(handle));
    }

private:
    [[noreturn]] void teardown(int status) noexcept;
    GtkWindow* dialogParent() const;

    std::vector<GtkWindowPeer*> peers_; // live windows, in creation order
    Press lastPress_;
    GdkPixbuf* icon_ = nullptr;
    bool iconTried_ = false;
};

} // namespace fw::gtk
