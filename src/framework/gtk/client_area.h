// The client area of a launcher window: a GtkFixed with its own GdkWindow
// (so children may sit at negative offsets without being clipped, and presses
// on the bare surface can be told from presses on a child) whose size request
// is the window's design size whatever its children ask for. A fixed-size
// window therefore keeps its design size exactly, and a resizable one opens
// at it.
#pragma once

#include <gtk/gtk.h>

namespace fw::gtk {

// `resizable`: the minimum request is 1 x 1 instead of the design size.
GtkWidget* clientAreaNew(int width, int height, bool resizable);
// A new design size.
void clientAreaSetSize(GtkWidget* area, int width, int height);

} // namespace fw::gtk
