// The host surface of the picture button on GTK: a child widget of the
// form's client area (client_area.h) that draws with cairo
// (control_drawing.h); the plain label is label.cpp.
#include "framework/gtk/client_area.h"
#include "framework/gtk/control_drawing.h"
#include "framework/gtk/input.h"
#include "framework/gtk/text.h"
#include "framework/portable/alive_token.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace fw::gtk {

namespace {

// --- the control surface ------------------------------------------------------

class GtkControlSurface : public ControlSurface {
public:
    GtkControlSurface(GtkPlatform& platform, GtkWindowPeer& parent, ControlEvents& events,
                      const Rect& rect, int tabIndex)
        : platform_(platform), parent_(parent),
          events_(events), size_{std::max(rect.width, 0), std::max(rect.height, 0)} {
        widget_ = placeChild(parent, rect,
                             GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                 GDK_POINTER_MOTION_MASK | GDK_ENTER_NOTIFY_MASK |
                                 GDK_LEAVE_NOTIFY_MASK | GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK);
        gtk_widget_set_can_focus(widget_, TRUE);
        joinTabOrder(parent, widget_, tabIndex);
        g_signal_connect(widget_, "draw", G_CALLBACK(onDraw), this);
        g_signal_connect(widget_, "size-allocate", G_CALLBACK(onAllocate), this);
        g_signal_connect(widget_, "button-press-event", G_CALLBACK(onButton), this);
        g_signal_connect(widget_, "button-release-event", G_CALLBACK(onButton), this);
        g_signal_connect(widget_, "motion-notify-event", G_CALLBACK(onMotion), this);
        g_signal_connect(widget_, "enter-notify-event", G_CALLBACK(onCrossing), this);
        g_signal_connect(widget_, "leave-notify-event", G_CALLBACK(onCrossing), this);
        g_signal_connect(widget_, "key-press-event", G_CALLBACK(onKey), this);
        g_signal_connect(widget_, "key-release-event", G_CALLBACK(onKey), this);
        g_signal_connect(widget_, "notify::is-focus", G_CALLBACK(onFocus), this);
        g_signal_connect(widget_, "grab-broken-event", G_CALLBACK(onGrabBroken), this);
    }

    ~GtkControlSurface() override {
        alive_.end();
        releaseCapture();
        dropChild(widget_, this);
    }

    GtkControlSurface(const GtkControlSurface&) = delete;
    GtkControlSurface& operator=(const GtkControlSurface&) = delete;

    // --- drawing -------------------------------------------------------------

    void fillBackground(OleColor colour) override {
        cairo_t* cr = painting();
        const GdkRGBA back = resolveColour(content(), colour);
        gdk_cairo_set_source_rgba(cr, &back);
        cairo_paint(cr); // clipped to the surface
    }

    bool drawThemeBackground(int state, const Bounds& rect, const Bounds& clip) override {
        return paintButton(painting(), content(), state, rect, clip);
    }

    void drawFocusRect(const Bounds& rect) override { paintFocusRect(painting(), rect); }

    void renderPicture(const Picture& picture, int x, int y, int width, int height, int srcX,
                       int srcY, int srcWidth, int srcHeight) override {
        paintPicture(painting(), picture, x, y, width, height, srcX, srcY, srcWidth, srcHeight);
    }

    void drawText(const std::string& text, const Bounds& rect, unsigned flags, const Font& font,
                  OleColor colour) override {
        drawLine(painting(), widget_, text, font, resolveColour(content(), colour), rect, flags);
    }

    // --- geometry and input --------------------------------------------------

    Bounds clientRect() const override { return {0, 0, size_.width, size_.height}; }
    float scaleWidth() const override { return static_cast<float>(size_.width); }
    float scaleHeight() const override { return static_cast<float>(size_.height); }
    float himetricToPixelsX(float himetric) const override { return toPixels(himetric); }
    float himetricToPixelsY(float himetric) const override { return toPixels(himetric); }

    Point cursorInClient() const override {
        GdkDisplay* display = gtk_widget_get_display(widget_);
        GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
        gint rootX = 0;
        gint rootY = 0;
        gdk_device_get_position(pointer, nullptr, &rootX, &rootY);
        const Point origin = originOnScreen();
        return {rootX - origin.x, rootY - origin.y};
    }

    // The pointer is grabbed for the input window, so that moves off the
    // program's windows reach this surface until it is released. Over the
    // program's own windows the pointer is reported as if there were no grab
    // (owner events): another control, a dialog or the page gets its own
    // moves and presses, and this surface hears of the pointer leaving by the
    // crossing (onCrossing). A grab of every event would hand this surface
    // a press that follows a jump before it could let go, and keep a dialog
    // opened by its Click from the mouse.
    void setCapture() override {
        GdkWindow* input = childInput(widget_);
        if (captured_ || !input || !gdk_window_is_visible(input)) return;
        GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(widget_));
        captured_ = gdk_seat_grab(seat, input, GDK_SEAT_CAPABILITY_ALL_POINTING, TRUE, nullptr,
                                  nullptr, nullptr, nullptr) == GDK_GRAB_SUCCESS;
    }

    void releaseCapture() override {
        if (!captured_) return;
        captured_ = false;
        gdk_seat_ungrab(gdk_display_get_default_seat(gtk_widget_get_display(widget_)));
    }

    void setCursor(Cursor cursor) override {
        GdkWindow* input = childInput(widget_);
        if (!input) return;
        GdkCursor* c = gdk_cursor_new_from_name(gtk_widget_get_display(widget_),
                                                cursor == Cursor::Hand ? "pointer" : "default");
        gdk_window_set_cursor(input, c); // none found: the parent's cursor
        if (c) g_object_unref(c);
    }

    // --- properties and ambient values -------------------------------------------

    void setEnabled(bool enabled) override {
        // A disabled surface gets no input: GTK passes no pointer or key
        // event to an insensitive widget.
        if (!enabled) releaseCapture();
        gtk_widget_set_sensitive(widget_, enabled);
    }

    OleColor ambientForeColor() const override { return systemColor(kColorBtnText); }
    OleColor ambientBackColor() const override { return parent_.backColor(); }
    FontRef ambientFont() const override { return toolkitFont(widget_); }

    void setAccessibleName(const std::string& name) override {
        exposeAsButton(widget_, utf8(name), [this, watch = alive_.watch()] {
            if (watch.alive()) raise([this] { events_.onDefaultAction(); });
        });
    }

    void refresh() override {
        // A repaint asked for during the paint is the paint under way.
        if (cr_ || !gtk_widget_is_drawable(widget_)) return;
        gtk_widget_queue_draw(widget_);
        // The toplevel paints what is queued now, through its ordinary paint
        // (onPaint runs inside). A compositing window manager that holds the
        // window's frames can defer this to the next frame.
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        gdk_window_process_updates(gtk_widget_get_window(widget_), TRUE);
        G_GNUC_END_IGNORE_DEPRECATIONS
    }

    void doEvents() override {
        // What is pending now, not what keeps arriving: a bound keeps a
        // busy source from holding the caller for ever.
        for (int i = 0; i < 1000 && g_main_context_pending(nullptr); ++i)
            g_main_context_iteration(nullptr, FALSE);
    }

private:
    GtkWidget* content() const { return GTK_WIDGET(parent_.content()); }

    cairo_t* painting() const {
        if (!cr_) throw std::logic_error("control drawing outside its paint");
        return cr_;
    }

    float toPixels(float himetric) const {
        return static_cast<float>(himetric * screenDpi(widget_) / 2540.0);
    }

    Point originOnScreen() const {
        gint x = 0;
        gint y = 0;
        if (GdkWindow* input = childInput(widget_)) gdk_window_get_origin(input, &x, &y);
        return {x, y};
    }

    // Runs one notification of the control; false when the control's
    // handler destroyed this surface (nothing of it may be touched then).
    template <typename F>
    bool raise(F&& notification) {
        const AliveToken::Watch watch = alive_.watch();
        platform_.deliver(std::forward<F>(notification));
        return watch.alive();
    }

    // --- native events ---------------------------------------------------------

    static gboolean onDraw(GtkWidget*, cairo_t* cr, gpointer data) {
        auto* self = static_cast<GtkControlSurface*>(data);
        cairo_save(cr);
        cairo_rectangle(cr, 0, 0, self->size_.width, self->size_.height);
        cairo_clip(cr);
        self->cr_ = cr;
        if (self->raise([self] { self->events_.onPaint(); })) self->cr_ = nullptr;
        cairo_restore(cr);
        return FALSE;
    }

    static void onAllocate(GtkWidget*, GdkRectangle* a, gpointer data) {
        auto* self = static_cast<GtkControlSurface*>(data);
        // The control learns its size once it has one on the screen.
        if (self->resized_ && a->width == self->allocated_.width &&
            a->height == self->allocated_.height)
            return;
        self->resized_ = true;
        self->allocated_ = {a->width, a->height};
        self->raise([self] { self->events_.onResize(); });
    }

    static gboolean onButton(GtkWidget* widget, GdkEventButton* event, gpointer data) {
        auto* self = static_cast<GtkControlSurface*>(data);
        // The extra double- and triple-click events would repeat a press.
        if (event->type != GDK_BUTTON_PRESS && event->type != GDK_BUTTON_RELEASE) return TRUE;
        std::int16_t button = static_cast<std::int16_t>(launcherButton(event->button));
        if (button == 0) return TRUE;
        std::int16_t shift = static_cast<std::int16_t>(launcherShift(event->state));
        const Point origin = self->originOnScreen();
        float x = static_cast<float>(event->x_root - origin.x);
        float y = static_cast<float>(event->y_root - origin.y);
        if (event->type == GDK_BUTTON_PRESS) {
            // A press takes the focus first, as a click on a desktop control does.
            if (!gtk_widget_is_focus(widget)) {
                const AliveToken::Watch watch = self->alive_.watch();
                gtk_widget_grab_focus(widget); // GotFocus runs in here
                if (!watch.alive()) return TRUE;
            }
            self->raise([&] { self->events_.onMouseDown(button, shift, x, y); });
        } else {
            self->raise([&] { self->events_.onMouseUp(button, shift, x, y); });
        }
        return TRUE;
    }

    // A pointer move to the control, at a position on the screen.
    void moved(double xRoot, double yRoot, guint state) {
        std::int16_t buttons = static_cast<std::int16_t>(launcherButtons(state));
        std::int16_t shift = static_cast<std::int16_t>(launcherShift(state));
        const Point origin = originOnScreen();
        float x = static_cast<float>(xRoot - origin.x);
        float y = static_cast<float>(yRoot - origin.y);
        raise([&] { events_.onMouseMove(buttons, shift, x, y); });
    }

    static gboolean onMotion(GtkWidget*, GdkEventMotion* event, gpointer data) {
        static_cast<GtkControlSurface*>(data)->moved(event->x_root, event->y_root, event->state);
        return TRUE;
    }

    // Crossings are moves too, as the desktop's controls see them. GDK holds
    // a motion queued behind a crossing back until some later event arrives
    // (after a jump: the press), so without them a control would learn of the
    // pointer coming in, or going out, only when it is clicked. An enter is
    // also how GDK tells the window under the pointer that a grab has ended
    // (a press's, a dialog's): the move the desktop sends it when the capture
    // goes.
    static gboolean onCrossing(GtkWidget*, GdkEventCrossing* event, gpointer data) {
        auto* self = static_cast<GtkControlSurface*>(data);
        // A grab taking the pointer moves nothing.
        if (event->mode != GDK_CROSSING_GRAB && event->mode != GDK_CROSSING_GTK_GRAB)
            self->moved(event->x_root, event->y_root, event->state);
        return TRUE;
    }

    static gboolean onKey(GtkWidget*, GdkEventKey* event, gpointer data) {
        auto* self = static_cast<GtkControlSurface*>(data);
        // Tab moves the focus between the window's controls; the control
        // never sees it.
        if (isTab(event->keyval)) return FALSE;
        std::int16_t code = virtualKey(event);
        std::int16_t shift = keyShift(event, code);
        if (event->type == GDK_KEY_RELEASE) {
            if (code) self->raise([&] { self->events_.onKeyUp(code, shift); });
            return TRUE;
        }
        if (code && !self->raise([&] { self->events_.onKeyDown(code, shift); })) return TRUE;
        if (auto typed = typedCharacter(event)) {
            std::int16_t keyAscii = *typed;
            self->raise([&] { self->events_.onKeyPress(keyAscii); });
        }
        return TRUE;
    }

    // The focus within the window; the window itself gaining or losing the
    // desktop's focus is no focus change of the control.
    static void onFocus(GtkWidget* widget, GParamSpec*, gpointer data) {
        auto* self = static_cast<GtkControlSurface*>(data);
        const bool focused = gtk_widget_is_focus(widget);
        if (focused == self->focused_) return;
        self->focused_ = focused;
        if (focused)
            self->raise([self] { self->events_.onGotFocus(); });
        else
            self->raise([self] { self->events_.onLostFocus(); });
    }

    static gboolean onGrabBroken(GtkWidget*, GdkEventGrabBroken*, gpointer data) {
        // Another grab took the pointer: the capture is gone.
        static_cast<GtkControlSurface*>(data)->captured_ = false;
        return FALSE;
    }

    GtkPlatform& platform_;
    GtkWindowPeer& parent_;
    ControlEvents& events_;
    GtkWidget* widget_ = nullptr;
    Size size_;
    Size allocated_;
    bool resized_ = false;
    bool focused_ = false;
    bool captured_ = false;
    cairo_t* cr_ = nullptr; // set while onPaint runs
    AliveToken alive_;
};

} // namespace

std::unique_ptr<ControlSurface> GtkPlatform::createControlSurface(WindowPeer& parent,
                                                                  ControlEvents& events,
                                                                  const Rect& rect, int tabIndex) {
    return std::make_unique<GtkControlSurface>(*this, dynamic_cast<GtkWindowPeer&>(parent), events,
                                               rect, tabIndex);
}

} // namespace fw::gtk
