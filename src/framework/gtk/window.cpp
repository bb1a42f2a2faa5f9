// One launcher window as a GtkWindow, and the native events it reports to
// its window object.
#include "framework/gtk/client_area.h"
#include "framework/gtk/input.h"
#include "framework/gtk/platform.h"
#include "framework/gtk/text.h"
#include "framework/gtk/window_face.h"

#include <algorithm>

namespace fw::gtk {

namespace {

// Centred on the work area of the primary monitor (the screen less panels).
Point centredOnScreen(int width, int height) {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (!monitor) monitor = gdk_display_get_monitor(display, 0);
    if (!monitor) return {};
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    return {area.x + (area.width - width) / 2, area.y + (area.height - height) / 2};
}

} // namespace

GtkWindowPeer::GtkWindowPeer(GtkPlatform& platform, WindowEvents& events, const FormLayout& layout,
                             GtkWindowPeer* owner)
    : platform_(platform), events_(events),
      owner_(owner), client_{layout.clientWidth, layout.clientHeight}, state_(layout.startState) {
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* w = window();
    gtk_window_set_title(w, utf8(layout.caption).c_str());

    const bool sizable = layout.border == Border::Sizable;
    gtk_window_set_decorated(w, sizable);
    gtk_window_set_resizable(w, sizable);
    if (sizable) gtk_window_set_default_size(w, layout.clientWidth, layout.clientHeight);
    gtk_window_set_skip_taskbar_hint(w, !layout.taskbar);
    if (layout.icon) {
        if (GdkPixbuf* icon = platform.programIcon()) gtk_window_set_icon(w, icon);
    }
    // The window manager keeps an owned window above its owner.
    if (owner) gtk_window_set_transient_for(w, owner->window());

    content_ = clientAreaNew(layout.clientWidth, layout.clientHeight, sizable);
    gtk_widget_add_events(content_, GDK_BUTTON_PRESS_MASK);
    gtk_container_add(GTK_CONTAINER(window_), content_);
    gtk_widget_show(content_);

    g_signal_connect(window_, "delete-event", G_CALLBACK(onDelete), this);
    g_signal_connect(window_, "configure-event", G_CALLBACK(onConfigure), this);
    g_signal_connect(window_, "window-state-event", G_CALLBACK(onWindowState), this);
    g_signal_connect(window_, "notify::is-active", G_CALLBACK(onActive), this);
    g_signal_connect(content_, "button-press-event", G_CALLBACK(onButtonPress), this);
    g_signal_connect(content_, "draw", G_CALLBACK(onDrawBack), this);

    if (layout.centred) move(centredOnScreen(layout.clientWidth, layout.clientHeight));
    if (layout.startState == WindowState::Maximized) gtk_window_maximize(w);
    if (layout.startState == WindowState::Minimized) gtk_window_iconify(w);

    platform_.added(this);
}

GtkWindowPeer::~GtkWindowPeer() {
    face_.reset(); // its handlers go before the window
    platform_.removed(this);
    for (GtkWindowPeer* other : platform_.peers()) {
        if (other->owner_ == this) other->owner_ = nullptr;
        if (other->host_ == this) other->leaveHost();
    }
    if (host_) host_->face().removeGuest(content_);
    detach();
    if (host_) gtk_widget_destroy(content_);
    gtk_widget_destroy(window_);
}

bool GtkWindowPeer::becomeGuest(const cairoimg::ColorKey& key) {
    if (!host_) {
        if (!owner_ || !owner_->face_ || !owner_->face_->showsPicture()) return false;
        host_ = owner_;
        offset_ = {pos_.x - host_->pos_.x, pos_.y - host_->pos_.y};
        const bool shown = gtk_widget_get_visible(window_);
        g_object_ref(content_);
        gtk_container_remove(GTK_CONTAINER(window_), content_);
        gtk_fixed_put(host_->content(), content_, offset_.x, offset_.y);
        g_object_unref(content_);
        gtk_widget_set_visible(content_, shown);
        gtk_widget_hide(window_);
    }
    host_->face().setGuest(content_, key);
    return true;
}

void GtkWindowPeer::leaveHost() {
    g_object_ref(content_);
    gtk_container_remove(GTK_CONTAINER(host_->content_), content_);
    gtk_container_add(GTK_CONTAINER(window_), content_);
    g_object_unref(content_);
    host_ = nullptr;
}

void GtkWindowPeer::detach() {
    g_signal_handlers_disconnect_by_data(window_, this);
    g_signal_handlers_disconnect_by_data(content_, this);
}

void GtkWindowPeer::show() {
    if (host_) {
        gtk_widget_show(content_);
        return;
    }
    // GTK forgets the place of a window it unmaps; a window shown again comes
    // back where it was.
    if (shownOnce_ && !gtk_widget_get_visible(window_)) gtk_window_move(window(), pos_.x, pos_.y);
    shownOnce_ = true;
    gtk_widget_show(window_);
    if (face_) face_->paintNow();
}

Point GtkWindowPeer::position() const {
    if (!host_) return pos_;
    const Point host = host_->position();
    return {host.x + offset_.x, host.y + offset_.y};
}

void GtkWindowPeer::move(Point topLeft) {
    if (host_) {
        // Kept relative to the host: the host's moves carry the guest along.
        const Point host = host_->position();
        offset_ = {topLeft.x - host.x, topLeft.y - host.y};
        gtk_fixed_move(host_->content(), content_, offset_.x, offset_.y);
        return;
    }
    // Without a window manager the X server applies the move at once; with
    // one, the configure event that follows corrects pos_ should it differ.
    pos_ = topLeft;
    gtk_window_move(window(), topLeft.x, topLeft.y);
}

void GtkWindowPeer::setState(WindowState state) {
    // The state asked for holds until the window manager reports another;
    // without one, nothing changes on the screen. A guest has only its
    // host's state.
    if (host_) return;
    GtkWindow* w = window();
    switch (state) {
    case WindowState::Minimized: gtk_window_iconify(w); break;
    case WindowState::Maximized:
        if (state_ == WindowState::Minimized) gtk_window_deiconify(w);
        gtk_window_maximize(w);
        break;
    case WindowState::Normal:
        if (state_ == WindowState::Minimized) gtk_window_deiconify(w);
        if (state_ == WindowState::Maximized) gtk_window_unmaximize(w);
        break;
    }
    state_ = state;
}

std::string GtkWindowPeer::caption() const {
    const char* title = gtk_window_get_title(GTK_WINDOW(window_));
    return title ? title : "";
}

void GtkWindowPeer::setCaption(const std::string& text) {
    gtk_window_set_title(GTK_WINDOW(window_), utf8(text).c_str());
}

Size GtkWindowPeer::clientSize() const {
    // A minimised window has no client area to show, as on Windows; X keeps
    // the size it had.
    if (host_ ? host_->iconified_ : iconified_) return {};
    return client_;
}

void GtkWindowPeer::beginMoveDrag() {
    if (host_) {
        host_->beginMoveDrag();
        return;
    }
    if (!gtk_widget_get_realized(window_) || !gtk_widget_get_visible(window_)) return;
    GtkPlatform::Press press = platform_.lastPress();
    if (press.button == 0) {
        // Not asked for by a press: move with the left button from where the
        // pointer is.
        GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(window_));
        gdk_device_get_position(gdk_seat_get_pointer(seat), nullptr, &press.rootX, &press.rootY);
        press.button = 1;
        press.time = GDK_CURRENT_TIME;
    }
    // Under a window manager it runs the move; without one GDK grabs the
    // pointer and moves the window itself until the button is released.
    // Either way this returns at once.
    gtk_window_begin_move_drag(window(), static_cast<gint>(press.button), press.rootX, press.rootY,
                               press.time);
}

void GtkWindowPeer::activate() {
    if (host_) {
        // The guest is active with its host. A host that has the keyboard
        // already is not presented again: that would raise it over a dialog
        // of its own, which takes the keyboard back, and so on.
        if (!visible()) return;
        if (!gtk_window_is_active(host_->window())) host_->activate();
        WindowEvents& form = events_;
        platform_.deliver([&form] { form.onActivate(); });
        return;
    }
    if (!gtk_widget_get_visible(window_)) return;
    // A window manager raises, restores and focuses it; without one GDK
    // raises it and sets the X focus itself.
    gtk_window_present(window());
}

void GtkWindowPeer::onActive(GtkWidget* widget, GParamSpec*, gpointer self) {
    if (!gtk_window_is_active(GTK_WINDOW(widget))) return;
    auto* peer = static_cast<GtkWindowPeer*>(self);
    // Wayland never says that a window was minimised or restored: one that
    // has the keyboard is not minimised.
    if (peer->state_ == WindowState::Minimized && !peer->iconified_)
        peer->state_ = WindowState::Normal;
    WindowEvents& form = peer->events_;
    peer->platform_.deliver([&form] { form.onActivate(); });
}

gboolean GtkWindowPeer::onDrawBack(GtkWidget*, cairo_t* cr, gpointer self) {
    // A colour of its own fills the client area under the children; a
    // system colour leaves the theme's background.
    const OleColor c = static_cast<GtkWindowPeer*>(self)->backColor();
    if (!(c & 0x80000000u)) {
        cairo_set_source_rgb(cr, (c & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0,
                             ((c >> 16) & 0xFF) / 255.0);
        cairo_paint(cr);
    }
    return FALSE;
}

WindowFace& GtkWindowPeer::face() {
    if (!face_) face_ = std::make_unique<WindowFace>(window_);
    return *face_;
}

void GtkWindowPeer::setClientSize(Size size) {
    clientAreaSetSize(content_, size.width, size.height);
    if (!host_) gtk_window_resize(window(), std::max(size.width, 1), std::max(size.height, 1));
}

gboolean GtkWindowPeer::onDelete(GtkWidget*, GdkEvent*, gpointer self) {
    auto* peer = static_cast<GtkWindowPeer*>(self);
    WindowEvents& form = peer->events_;
    // The window object decides; when it closes, it destroys this peer (and
    // the window) itself, so nothing of the peer is touched afterwards.
    peer->platform_.deliver([&form] { form.onCloseRequest(UnloadMode::ControlMenu); });
    return TRUE;
}

gboolean GtkWindowPeer::onConfigure(GtkWidget* widget, GdkEventConfigure* event, gpointer self) {
    auto* peer = static_cast<GtkWindowPeer*>(self);
    if (event->window != gtk_widget_get_window(widget)) return FALSE;
    // The outer corner: the window manager's frame, where there is one.
    GdkRectangle frame;
    gdk_window_get_frame_extents(event->window, &frame);
    peer->pos_ = {frame.x, frame.y};

    const Size client{event->width, event->height};
    if (client.width != peer->client_.width || client.height != peer->client_.height) {
        peer->client_ = client;
        WindowEvents& form = peer->events_;
        peer->platform_.deliver([&form] { form.onResize(); });
    }
    return FALSE;
}

gboolean GtkWindowPeer::onWindowState(GtkWidget*, GdkEventWindowState* event, gpointer self) {
    auto* peer = static_cast<GtkWindowPeer*>(self);
    constexpr auto watched = GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_MAXIMIZED;
    if (!(event->changed_mask & watched)) return FALSE;
    const auto now = event->new_window_state;
    peer->state_ = (now & GDK_WINDOW_STATE_ICONIFIED)   ? WindowState::Minimized
                   : (now & GDK_WINDOW_STATE_MAXIMIZED) ? WindowState::Maximized
                                                        : WindowState::Normal;
    // Minimising and restoring change the client area (to 0 x 0 and back)
    // without a configure event: report them as resizes.
    const bool iconified = (now & GDK_WINDOW_STATE_ICONIFIED) != 0;
    if (iconified != peer->iconified_) {
        peer->iconified_ = iconified;
        WindowEvents& form = peer->events_;
        peer->platform_.deliver([&form] { form.onResize(); });
    }
    return FALSE;
}

gboolean GtkWindowPeer::onButtonPress(GtkWidget* widget, GdkEventButton* event, gpointer self) {
    auto* peer = static_cast<GtkWindowPeer*>(self);
    // Each press arrives as GDK_BUTTON_PRESS; the extra double and triple
    // click events would report it twice.
    if (event->type != GDK_BUTTON_PRESS) return FALSE;
    // Only the window's own surface: a child control with a window of its
    // own that passes a press on is not the form.
    if (event->window != gtk_widget_get_window(widget)) return FALSE;

    peer->platform_.notePress({event->button, static_cast<int>(event->x_root),
                               static_cast<int>(event->y_root), event->time});
    WindowEvents& form = peer->events_;
    const int button = launcherButton(event->button);
    const int shift = launcherShift(event->state);
    const auto x = static_cast<float>(event->x);
    const auto y = static_cast<float>(event->y);
    peer->platform_.deliver([&] { form.onMouseDown(button, shift, x, y); });
    return TRUE;
}

} // namespace fw::gtk
