// The launcher's numbers for mouse buttons, modifier keys and keys, from GDK's.
#pragma once

#include <gdk/gdk.h>

#include <cstdint>
#include <optional>

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

// The desktop's virtual-key code of a key, from the key as it is without
// Shift (so Shift+1 is still the key '1').
inline std::int16_t virtualKey(const GdkEventKey* event) {
    guint keyval = event->keyval;
    GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_window_get_display(event->window));
    guint plain = 0;
    const auto numLock = static_cast<GdkModifierType>(event->state & GDK_MOD2_MASK);
    if (gdk_keymap_translate_keyboard_state(keymap, event->hardware_keycode, numLock, event->group,
                                            &plain, nullptr, nullptr, nullptr))
        keyval = plain;
    if (keyval >= GDK_KEY_a && keyval <= GDK_KEY_z)
        return static_cast<std::int16_t>('A' + (keyval - GDK_KEY_a));
    if (keyval >= GDK_KEY_A && keyval <= GDK_KEY_Z) return static_cast<std::int16_t>(keyval);
    if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9) return static_cast<std::int16_t>(keyval);
    if (keyval >= GDK_KEY_KP_0 && keyval <= GDK_KEY_KP_9)
        return static_cast<std::int16_t>(96 + (keyval - GDK_KEY_KP_0));
    if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F12)
        return static_cast<std::int16_t>(112 + (keyval - GDK_KEY_F1));
    switch (keyval) {
    case GDK_KEY_BackSpace: return 8;
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab: return 9;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter: return 13;
    case GDK_KEY_Shift_L:
    case GDK_KEY_Shift_R: return 16;
    case GDK_KEY_Control_L:
    case GDK_KEY_Control_R: return 17;
    case GDK_KEY_Alt_L:
    case GDK_KEY_Alt_R:
    case GDK_KEY_Meta_L:
    case GDK_KEY_Meta_R: return 18;
    case GDK_KEY_Pause: return 19;
    case GDK_KEY_Caps_Lock: return 20;
    case GDK_KEY_Escape: return 27;
    case GDK_KEY_space:
    case GDK_KEY_KP_Space: return 32;
    case GDK_KEY_Page_Up:
    case GDK_KEY_KP_Page_Up: return 33;
    case GDK_KEY_Page_Down:
    case GDK_KEY_KP_Page_Down: return 34;
    case GDK_KEY_End:
    case GDK_KEY_KP_End: return 35;
    case GDK_KEY_Home:
    case GDK_KEY_KP_Home: return 36;
    case GDK_KEY_Left:
    case GDK_KEY_KP_Left: return 37;
    case GDK_KEY_Up:
    case GDK_KEY_KP_Up: return 38;
    case GDK_KEY_Right:
    case GDK_KEY_KP_Right: return 39;
    case GDK_KEY_Down:
    case GDK_KEY_KP_Down: return 40;
    case GDK_KEY_Insert:
    case GDK_KEY_KP_Insert: return 45;
    case GDK_KEY_Delete:
    case GDK_KEY_KP_Delete: return 46;
    case GDK_KEY_Menu: return 93;
    case GDK_KEY_KP_Multiply: return 106;
    case GDK_KEY_KP_Add: return 107;
    case GDK_KEY_KP_Subtract: return 109;
    case GDK_KEY_KP_Decimal: return 110;
    case GDK_KEY_KP_Divide: return 111;
    case GDK_KEY_semicolon: return 186;
    case GDK_KEY_equal: return 187;
    case GDK_KEY_comma: return 188;
    case GDK_KEY_minus: return 189;
    case GDK_KEY_period: return 190;
    case GDK_KEY_slash: return 191;
    case GDK_KEY_grave: return 192;
    case GDK_KEY_bracketleft: return 219;
    case GDK_KEY_backslash: return 220;
    case GDK_KEY_bracketright: return 221;
    case GDK_KEY_apostrophe: return 222;
    default: return 0;
    }
}

// The shift mask as it stands once the key has gone down or up: X reports
// the modifiers from before the event, the desktop's key events after it.
inline std::int16_t keyShift(const GdkEventKey* event, std::int16_t code) {
    int shift = launcherShift(event->state);
    const int own = code == 16 ? 1 : code == 17 ? 2 : code == 18 ? 4 : 0;
    if (event->type == GDK_KEY_PRESS)
        shift |= own;
    else
        shift &= ~own;
    return static_cast<std::int16_t>(shift);
}

// The character a key press types, as the desktop reports it: Ctrl with a
// letter gives its control code, Alt gives none.
inline std::optional<std::int16_t> typedCharacter(const GdkEventKey* event) {
    if (event->state & GDK_MOD1_MASK) return std::nullopt;
    const gunichar c = gdk_keyval_to_unicode(event->keyval);
    if (event->state & GDK_CONTROL_MASK) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
            return static_cast<std::int16_t>(c & 0x1F);
        return std::nullopt;
    }
    if (c == 0 || c > 0xFFFF) return std::nullopt;
    return static_cast<std::int16_t>(c);
}

inline bool isTab(guint keyval) {
    return keyval == GDK_KEY_Tab || keyval == GDK_KEY_ISO_Left_Tab || keyval == GDK_KEY_KP_Tab;
}

} // namespace fw::gtk
