// The client area of a launcher window: a GtkFixed with its own GdkWindow
// (so children may sit at negative offsets without being clipped, and presses
// on the bare surface can be told from presses on a child) whose size request
// is the window's design size whatever its children ask for. A fixed-size
// window therefore keeps its design size exactly, and a resizable one opens
// at it.
//
// The child controls on it (the control surface and the label) are widgets of
// a fixed size without a drawing surface of their own: they draw in the
// toplevel's ordinary paint, straight into the client area's window, so that
// whatever the window does with its paint as a whole (the colour key of the
// login window) covers them too. The pointer and the keys reach them through
// an input-only window over their area, as a GtkButton's do.
#pragma once

#include "framework/gtk/platform.h"

#include <functional>
#include <string>

namespace fw::gtk {

// `resizable`: the minimum request is 1 x 1 instead of the design size.
GtkWidget* clientAreaNew(int width, int height, bool resizable);
// A new design size.
void clientAreaSetSize(GtkWidget* area, int width, int height);

// A child of `rect` on the window's client area, shown; we hold a reference
// of our own, so that it can be let go of safely whatever went first.
GtkWidget* placeChild(GtkWindowPeer& parent, const Rect& rect, gint events);
// Disconnects the handlers given `data`, destroys the child, drops our reference.
void dropChild(GtkWidget* widget, gpointer data);
// The input-only window over the child; null while it is not realized.
GdkWindow* childInput(GtkWidget* widget);

// What assistive technology reads of a child: a push button with its name
// and one action ("click") that runs `press`, later from the main loop (an
// action may open a question, which must not hold up the caller's request);
// or a label with its text.
void exposeAsButton(GtkWidget* widget, const std::string& name, std::function<void()> press);
void exposeAsLabel(GtkWidget* widget, const std::string& text);

// Tab visits the control surfaces by their tab index, then the rest of the
// client area's children (a browser, say) in the order they were put there.
void joinTabOrder(GtkWindowPeer& parent, GtkWidget* widget, int tabIndex);

} // namespace fw::gtk
