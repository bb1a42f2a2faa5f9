// The imaging port on GTK 3 / X11: pictures and surfaces are cairo's
// (framework/linux/imaging.h), a layered window is a WindowFace on an RGBA
// visual, shaped by the alpha of what it shows.
#include "framework/gtk/platform.h"
#include "framework/gtk/window_face.h"

#include <gdk/gdkx.h>

#include <algorithm>

#include <malloc.h>

namespace fw::gtk {

namespace {

// Without a compositor X shows a window's pixels as they are, alpha
// ignored. A pixel at least half opaque is then shown in its own colour,
// fully opaque, and the bounding shape cuts away every other pixel: edges
// are hard, but neither dark nor see-through in the wrong places.
constexpr std::uint32_t kSolidAlpha = 128;

void flatten(cairo_surface_t* image) {
    cairoimg::editPixels(image, [](cairoimg::Argb& p) {
        const std::uint32_t a = p >> 24;
        if (a < kSolidAlpha) {
            p = 0;
        } else if (a < 255) {
            auto un = [a](std::uint32_t c) {
                return std::min<std::uint32_t>(255, (c * 255 + a / 2) / a);
            };
            p = 0xFF000000u | un((p >> 16) & 0xFF) << 16 | un((p >> 8) & 0xFF) << 8 | un(p & 0xFF);
        }
    });
}

// Rectangles covering the runs of pixels in `rect` whose class is at least
// `least`.
cairo_region_t* runsOf(const std::vector<std::uint8_t>& classes, int stride,
                       const cairo_rectangle_int_t& rect, std::uint8_t least) {
    std::vector<cairo_rectangle_int_t> runs;
    for (int y = rect.y; y < rect.y + rect.height; ++y) {
        const std::uint8_t* row = classes.data() + static_cast<std::ptrdiff_t>(y) * stride;
        for (int x = rect.x; x < rect.x + rect.width;) {
            if (row[x] < least) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < rect.x + rect.width && row[x] >= least) ++x;
            runs.push_back({start, y, x - start, 1});
        }
    }
    return cairo_region_create_rectangles(runs.data(), static_cast<int>(runs.size()));
}

class GtkImaging : public cairoimg::DrawingImaging {
public:
    // cairo needs no start-up: it cannot fail to start.
    int startup(std::uintptr_t& token) override {
        token = 0;
        return 0;
    }
    void shutdown(std::uintptr_t) override {}

    void setLayeredStyle(WindowPeer& window) override { peer(window).face().setLayered(); }

    // As the system's calls do, these leave a window without the layered
    // style alone.
    void updateLayered(WindowPeer& window, MemorySurface& surface, Size size) override {
        GtkWindowPeer& p = peer(window);
        if (!p.face().layered()) return;
        p.face().showPicture(static_cast<cairoimg::Surface&>(surface).surface(), size);
        p.setClientSize(size);
    }
    void setColorKey(WindowPeer& window, OleColor key, std::uint8_t alpha, int flags) override {
        GtkWindowPeer& p = peer(window);
        if (!p.face().layered()) return;
        if (p.becomeGuest({key, alpha, flags})) return;
        p.face().setColorKey({key, alpha, flags});
    }
    void releaseFace(WindowPeer& window) override {
        GtkWindowPeer& p = peer(window);
        if (!p.face().layered()) return;
        p.face().release();
        trimSoon();
    }

private:
    static GtkWindowPeer& peer(WindowPeer& window) { return dynamic_cast<GtkWindowPeer&>(window); }

    // Large blocks freed inside the heap stay with the process until the
    // allocator is asked to give them back; once from the loop, after the
    // faces released together (and a page released with them) are gone.
    static void trimSoon() {
        static bool queued = false;
        if (queued) return;
        queued = true;
        g_idle_add(
            [](gpointer) -> gboolean {
                queued = false;
                malloc_trim(0);
                return G_SOURCE_REMOVE;
            },
            nullptr);
    }
};

} // namespace

Imaging& GtkPlatform::imaging() {
    static GtkImaging instance;
    return instance;
}

// --- WindowFace ---------------------------------------------------------------

WindowFace::WindowFace(GtkWidget* window) : window_(window) {
    g_signal_connect(window_, "draw", G_CALLBACK(onDraw), this);
    g_signal_connect_after(window_, "realize", G_CALLBACK(onRealize), this);
    g_signal_connect(window_, "map-event", G_CALLBACK(onMap), this);
    screenHandler_ = g_signal_connect(gtk_widget_get_screen(window_), "composited-changed",
                                      G_CALLBACK(onCompositedChanged), this);
    seen_ = cairo_region_create();
    solid_ = cairo_region_create();
}

WindowFace::~WindowFace() {
    g_signal_handler_disconnect(gtk_widget_get_screen(window_), screenHandler_);
    g_signal_handlers_disconnect_by_data(window_, this);
    cairo_region_destroy(seen_);
    cairo_region_destroy(solid_);
}

void WindowFace::setLayered() {
    if (layered_) return;
    layered_ = true;
    if (!gtk_widget_get_realized(window_)) {
        // Without an RGBA visual (no such visual on the screen) the window
        // still takes its shapes; only the blending is lost.
        if (GdkVisual* rgba = gdk_screen_get_rgba_visual(gtk_widget_get_screen(window_)))
            gtk_widget_set_visual(window_, rgba);
    }
    gtk_widget_set_app_paintable(window_, TRUE);
}

void WindowFace::showPicture(cairo_surface_t* picture, Size size) {
    picture_.reset(cairo_surface_reference(picture));
    flatPicture_.reset();
    mode_ = Mode::Picture;
    resetShape(size, kClear);
    noteAlpha(picture, 0, 0);
    applyShapes();
    gtk_widget_queue_draw(window_);
}

void WindowFace::setColorKey(const cairoimg::ColorKey& key) {

    key_ = key;
    mode_ = Mode::Keyed;
    // Every pixel counts as shown until the first drawing says otherwise.
    resetShape({}, kSolid);
    gtk_widget_queue_draw(window_);
}

void WindowFace::setGuest(GtkWidget* guest, const cairoimg::ColorKey& key) {
    guest_ = guest;
    guestKey_ = key;
    gtk_widget_queue_draw(window_);
}

void WindowFace::removeGuest(GtkWidget* guest) {
    if (guest_ != guest) return;
    guest_ = nullptr;
    gtk_widget_queue_draw(window_);
}

void WindowFace::release() {
    mode_ = Mode::Plain;
    guest_ = nullptr;
    picture_.reset();
    flatPicture_.reset();
    std::vector<std::uint8_t>().swap(classes_);
    size_ = {};
    cairo_region_destroy(seen_);
    cairo_region_destroy(solid_);
    seen_ = cairo_region_create();
    solid_ = cairo_region_create();
}

void WindowFace::paintNow() {
    GdkWindow* window = gtk_widget_get_window(window_);
    if (mode_ != Mode::Picture || !window || !gdk_window_is_visible(window)) return;
    if (!GDK_IS_X11_DISPLAY(gdk_window_get_display(window))) {
        awaitFirstFrame();
        return;
    }
    const cairo_rectangle_int_t all{0, 0, size_.width, size_.height};
    cairo_region_t* region = cairo_region_create_rectangle(&all);
    GdkDrawingContext* frame = gdk_window_begin_draw_frame(window, region);
    drawPicture(gdk_drawing_context_get_cairo_context(frame));
    gdk_window_end_draw_frame(window, frame);
    cairo_region_destroy(region);
    gdk_display_flush(gdk_window_get_display(window));
}

void WindowFace::awaitFirstFrame() {
    // A Wayland surface takes no buffer before the compositor has configured
    // it, and GDK commits a frame only from its frame clock: both need the
    // main loop, which the start-up holds for a while yet. It turns here
    // until the first frame is drawn, or for 200 ms at most. Nothing of the
    // launcher is waiting on the loop this early but the window's own events.
    bool late = false;
    const guint timeout = g_timeout_add(
        200,
        [](gpointer flag) -> gboolean {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &late);
    drawn_ = false;
    while (!drawn_ && !late) g_main_context_iteration(nullptr, TRUE);
    if (!late) g_source_remove(timeout);
}

gboolean WindowFace::onDraw(GtkWidget*, cairo_t* cr, gpointer self) {
    auto* face = static_cast<WindowFace*>(self);
    face->drawn_ = true;
    switch (face->mode_) {
    case Mode::Plain: return FALSE;
    case Mode::Picture:
        if (face->guest_)
            face->drawWithGuest(cr);
        else
            face->drawPicture(cr);
        return TRUE;
    case Mode::Keyed: face->drawKeyed(cr); return TRUE;
    }
    return FALSE;
}

void WindowFace::drawPicture(cairo_t* cr) {
    cairo_surface_t* shown = picture_.get();
    if (!composited()) {
        if (!flatPicture_) {
            const int w = cairo_image_surface_get_width(shown);
            const int h = cairo_image_surface_get_height(shown);
            flatPicture_.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
            cairo_t* copy = cairo_create(flatPicture_.get());
            cairo_set_source_surface(copy, shown, 0, 0);
            cairo_set_operator(copy, CAIRO_OPERATOR_SOURCE);
            cairo_paint(copy);
            cairo_destroy(copy);
            flatten(flatPicture_.get());
        }
        shown = flatPicture_.get();
    }
    // Exactly the picture: its pixels replace the window's, and beyond it
    // the window is see-through.
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, shown, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
}

bool WindowFace::redrawn(cairo_t* cr, GdkRectangle& clip) const {
    const GdkRectangle whole{0, 0, size_.width, size_.height};
    return gdk_cairo_get_clip_rectangle(cr, &clip) && gdk_rectangle_intersect(&clip, &whole, &clip);
}

void WindowFace::drawWithGuest(cairo_t* cr) {
    GdkRectangle clip;
    if (!redrawn(cr, clip)) return;
    cairo_surface_t* image =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, clip.width, clip.height);
    cairo_t* composed = cairo_create(image);
    cairo_set_operator(composed, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(composed, picture_.get(), -clip.x, -clip.y);
    cairo_paint(composed);

    // The guest draws (with its children) into a picture of its part being
    // redrawn; keyed, it goes over the window's picture.
    GtkWidget* area = gtk_widget_get_parent(guest_);
    GdkRectangle part;
    if (gtk_widget_is_drawable(guest_) &&
        gtk_widget_translate_coordinates(guest_, window_, 0, 0, &part.x, &part.y)) {
        part.width = gtk_widget_get_allocated_width(guest_);
        part.height = gtk_widget_get_allocated_height(guest_);
        int areaX = 0;
        int areaY = 0;
        if (gdk_rectangle_intersect(&part, &clip, &part) &&
            gtk_widget_translate_coordinates(area, window_, 0, 0, &areaX, &areaY)) {
            cairo_surface_t* layer =
                cairo_image_surface_create(CAIRO_FORMAT_ARGB32, part.width, part.height);
            cairo_t* guest = cairo_create(layer);
            cairo_translate(guest, areaX - part.x, areaY - part.y);
            gtk_container_propagate_draw(GTK_CONTAINER(area), guest_, guest);
            cairo_destroy(guest);
            cairoimg::applyColorKey(layer, guestKey_);
            cairo_set_operator(composed, CAIRO_OPERATOR_OVER);
            cairo_set_source_surface(composed, layer, part.x - clip.x, part.y - clip.y);
            cairo_paint(composed);
            cairo_surface_destroy(layer);
        }
    }
    cairo_destroy(composed);
    present(cr, image, clip);
    cairo_surface_destroy(image);
}

void WindowFace::drawKeyed(cairo_t* cr) {
    const Size now{gtk_widget_get_allocated_width(window_),
                   gtk_widget_get_allocated_height(window_)};
    if (now.width != size_.width || now.height != size_.height) resetShape(now, kSolid);
    GdkRectangle clip;
    if (!redrawn(cr, clip)) return;
    // The window and its children (which have no output window of their
    // own) draw into a picture of the part being redrawn; the key is
    // applied to it and the result replaces those pixels of the window.
    cairo_surface_t* image =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, clip.width, clip.height);
    cairo_t* offscreen = cairo_create(image);
    cairo_translate(offscreen, -clip.x, -clip.y);
    GTK_WIDGET_GET_CLASS(window_)->draw(window_, offscreen);
    cairo_destroy(offscreen);
    cairoimg::applyColorKey(image, key_);
    present(cr, image, clip);
    cairo_surface_destroy(image);
}

void WindowFace::present(cairo_t* cr, cairo_surface_t* image, const GdkRectangle& clip) {
    const bool changed = noteAlpha(image, clip.x, clip.y);
    if (!composited()) flatten(image);
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, image, clip.x, clip.y);
    cairo_rectangle(cr, clip.x, clip.y, clip.width, clip.height);
    cairo_fill(cr);
    cairo_restore(cr);
    if (changed) applyShapes();
}

void WindowFace::resetShape(Size size, std::uint8_t fill) {
    size_ = size;
    classes_.assign(static_cast<std::size_t>(std::max(size.width, 0)) * std::max(size.height, 0),
                    fill);
    cairo_region_destroy(seen_);
    cairo_region_destroy(solid_);
    const cairo_rectangle_int_t whole{0, 0, size.width, size.height};
    seen_ = fill == kClear ? cairo_region_create() : cairo_region_create_rectangle(&whole);
    solid_ = fill == kSolid ? cairo_region_create_rectangle(&whole) : cairo_region_create();
}

bool WindowFace::noteAlpha(cairo_surface_t* image, int x, int y) {
    cairo_surface_flush(image);
    const unsigned char* data = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    cairo_rectangle_int_t rect{x, y, cairo_image_surface_get_width(image),
                               cairo_image_surface_get_height(image)};
    const GdkRectangle whole{0, 0, size_.width, size_.height};
    if (!gdk_rectangle_intersect(&rect, &whole, &rect)) return false;
    bool changed = false;
    for (int j = rect.y; j < rect.y + rect.height; ++j) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(
            data + static_cast<std::ptrdiff_t>(j - y) * stride);
        std::uint8_t* classes = classes_.data() + static_cast<std::ptrdiff_t>(j) * size_.width;
        for (int i = rect.x; i < rect.x + rect.width; ++i) {
            const std::uint32_t a = row[i - x] >> 24;
            const std::uint8_t c = a == 0 ? kClear : a < kSolidAlpha ? kFaint : kSolid;
            if (classes[i] != c) {
                classes[i] = c;
                changed = true;
            }
        }
    }
    if (!changed) return false;
    for (auto [region, least] : {std::pair{seen_, kFaint}, std::pair{solid_, kSolid}}) {
        cairo_region_subtract_rectangle(region, &rect);
        cairo_region_t* runs = runsOf(classes_, size_.width, rect, least);
        cairo_region_union(region, runs);
        cairo_region_destroy(runs);
    }
    return true;
}

void WindowFace::applyShapes() {
    GdkWindow* window = gtk_widget_get_window(window_);
    if (!window || mode_ == Mode::Plain) return;
    // With a compositor every pixel that is not fully transparent shows and
    // takes presses; without one only the solid pixels are kept at all.
    // Until a keyed window has drawn, all of it counts as shown (an empty
    // shape would never be exposed, so it would never draw).
    const bool known = size_.width > 0 && size_.height > 0;
    const bool blended = composited();
    gdk_window_shape_combine_region(window, blended || !known ? nullptr : solid_, 0, 0);
    gdk_window_input_shape_combine_region(window,
                                          !known    ? nullptr
                                          : blended ? seen_
                                                    : solid_,
                                          0, 0);
}

gboolean WindowFace::onMap(GtkWidget*, GdkEvent*, gpointer self) {
    // GDK sets the shapes of the window's children again as it maps them;
    // ours go on top once it is mapped.
    static_cast<WindowFace*>(self)->applyShapes();
    return FALSE;
}

void WindowFace::onCompositedChanged(GdkScreen*, gpointer self) {
    auto* face = static_cast<WindowFace*>(self);
    face->flatPicture_.reset();
    face->applyShapes();
    gtk_widget_queue_draw(face->window_);
}

} // namespace fw::gtk
