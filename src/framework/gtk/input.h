// The launcher's numbers for mouse buttons and modifier keys, from GDK's.
#pragma once

#include <gdk/gdk.h>

namespace fw::gtk {

// 1 left, 2 right, 4 middle; other buttons (back, forward) have no number.
inline int launcherButton(guint button) {
    switch (button) {
    case 1: return 1;
    case 2: return 4;
    case 3: return 2;
    default: return 0;
    }
}

// The buttons held during a move, as the same bits.
inline int launcherButtons(guint state) {
    return ((state & GDK_BUTTON1_MASK) ? 1 : 0) | ((state & GDK_BUTTON3_MASK) ? 2 : 0) |
           ((state & GDK_BUTTON2_MASK) ? 4 : 0);
}

// 1 Shift, 2 Ctrl, 4 Alt.
inline int launcherShift(guint state) {
    return ((state & GDK_SHIFT_MASK) ? 1 : 0) | ((state & GDK_CONTROL_MASK) ? 2 : 0) |
           ((state & GDK_MOD1_MASK) ? 4 : 0);
}

} // namespace fw::gtk
