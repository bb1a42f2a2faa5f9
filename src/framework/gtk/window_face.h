// What a layered launcher window shows (imaging.cpp): either a picture
// of its own, shown exactly (the layered update), or its ordinary drawing
// with one colour keyed out (the colour key). A window showing a picture may
// hold a guest: an owned window's client area drawn with its colour key over
// the picture. All go through an RGBA visual; the window's input shape, and
// on X11 without a compositor its bounding shape, follow the alpha of what
// was shown.
#pragma once

#include "framework/linux/imaging.h"

#include <gtk/gtk.h>

#include <cstdint>
#include <vector>

namespace fw::gtk {

class WindowFace {
public:
    explicit WindowFace(GtkWidget* window);
    ~WindowFace();
    WindowFace(const WindowFace&) = delete;
    WindowFace& operator=(const WindowFace&) = delete;

    // The RGBA visual is taken here, so this must come before the window is
    // first shown (the launcher's load steps do it).
    void setLayered();
    bool layered() const { return layered_; }
    bool showsPicture() const { return mode_ == Mode::Picture; }

    // The window shows exactly `picture` from its corner, premultiplied, at
    // `size`; nothing beyond the picture.
    void showPicture(cairo_surface_t* picture, Size size);
    // A window showing its picture puts it on the screen at once, without
    // waiting for the message loop (the first frame would come only after
    // the rest of the start-up, the browser engine's included). Call it
    // right after the window is shown; under a window manager that has not
    // mapped it yet nothing shows, and the usual expose draws it. On Wayland
    // the loop turns until the first frame is out.
    void paintNow();
    // The window draws as usual; every pixel of the key colour becomes
    // see-through and click-through.
    void setColorKey(const cairoimg::ColorKey& key);
    // `guest`, a child of the window's client area, is drawn over the
    // picture with `key` keyed out: what it shows where it is not the key
    // colour is part of the face, and elsewhere the picture shows through.
    void setGuest(GtkWidget* guest, const cairoimg::ColorKey& key);
    void removeGuest(GtkWidget* guest);
    // The hidden window is not drawn again: its picture, the copy shown
    // without a compositor and the shapes' pixel classes go. Should it be
    // drawn after all, it draws as a plain window.
    void release();

private:
    enum class Mode { Plain, Picture, Keyed };
    // What each pixel is to the shapes: 0 see-through, 1 faint (shown only
    // where a compositor blends), 2 solid.
    enum : std::uint8_t { kClear = 0, kFaint = 1, kSolid = 2 };

    static gboolean onDraw(GtkWidget* widget, cairo_t* cr, gpointer self);
    static void onRealize(GtkWidget*, gpointer self) {
        static_cast<WindowFace*>(self)->applyShapes();
    }
    static gboolean onMap(GtkWidget* widget, GdkEvent* event, gpointer self);
    static void onCompositedChanged(GdkScreen* screen, gpointer self);

    bool composited() const { return gdk_screen_is_composited(gtk_widget_get_screen(window_)); }
    void drawPicture(cairo_t* cr);
    void awaitFirstFrame();
    void drawWithGuest(cairo_t* cr);
    // Paints `image` (the part of the window at clip), keyed or composed,
    // in place of the window's pixels there, and takes its alpha into the
    // shapes.
    void present(cairo_t* cr, cairo_surface_t* image, const GdkRectangle& clip);
    // The part of the window being redrawn; false when there is none.
    bool redrawn(cairo_t* cr, GdkRectangle& clip) const;
    void drawKeyed(cairo_t* cr);
    void resetShape(Size size, std::uint8_t fill);
    // Takes the alpha of `image`, placed at (x, y), into the pixel classes
    // and the regions; true when any pixel changed class.
    bool noteAlpha(cairo_surface_t* image, int x, int y);
    void applyShapes();

    GtkWidget* window_;
    gulong screenHandler_ = 0;
    bool layered_ = false;
    bool drawn_ = false; // a frame was drawn since awaitFirstFrame began
    Mode mode_ = Mode::Plain;
    cairoimg::SurfaceRef picture_;
    cairoimg::SurfaceRef flatPicture_; // as shown without a compositor; made when needed
    cairoimg::ColorKey key_;
    GtkWidget* guest_ = nullptr;
    cairoimg::ColorKey guestKey_;
    Size size_;
    std::vector<std::uint8_t> classes_; // size_.width x size_.height
    cairo_region_t* seen_ = nullptr;    // faint or solid
    cairo_region_t* solid_ = nullptr;
};

} // namespace fw::gtk
