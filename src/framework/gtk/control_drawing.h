// How the control surface and the label draw on GTK, with cairo into the
// client area's paint: the desktop's colours and fonts, one line of text, the
// themed push button, the focus rectangle and pictures.
#pragma once

#include "framework/ports/control.h"

#include <gtk/gtk.h>

#include <string>

namespace fw::gtk {

// The screen's logical resolution (what fonts are sized by); 96 unless the
// desktop says otherwise.
double screenDpi(GtkWidget* widget);

// An OLE colour as drawn in `widget`: a system colour is the theme's
// matching colour (the desktop's classic value where the theme has none).
GdkRGBA resolveColour(GtkWidget* widget, OleColor colour);

// The toolkit's default font (the desktop's UI font), as a font object.
FontRef toolkitFont(GtkWidget* widget);

// One line of `text` in `font` and `colour`, placed in `rect` by the kDt*
// flags and clipped to it; nothing is drawn behind it. As DrawText does,
// the vertical placement counts only for a single line.
void drawLine(cairo_t* cr, GtkWidget* widget, const std::string& text, const Font& font,
              const GdkRGBA& colour, const Bounds& rect, unsigned flags);

// The toolkit's push button in state `state` (kPbs*), as a button in the
// client area `content` would look, clipped to `clip`. On GTK there always is
// a theme (GTK's own at worst); "no theme" is a theme whose buttons draw
// nothing, and then nothing is drawn and the answer is false.
bool paintButton(cairo_t* cr, GtkWidget* content, int state, const Bounds& rect,
                 const Bounds& clip);

// The desktop's dotted focus rectangle: every other pixel of the edge,
// inverted, so it shows on any background.
void paintFocusRect(cairo_t* cr, const Bounds& rect);

// The picture into (x, y, width, height), from a source rectangle in HIMETRIC
// (see ControlSurface::renderPicture).
void paintPicture(cairo_t* cr, const Picture& picture, int x, int y, int width, int height,
                  int srcX, int srcY, int srcWidth, int srcHeight);

} // namespace fw::gtk
