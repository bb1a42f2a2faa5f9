// The host surface of the picture button and the plain label on GTK.
//
// Both are child widgets of the form's client area without a drawing
// surface of their own: they draw in the toplevel's ordinary paint, straight
// into the client area's window, so that whatever the window does with its
// paint as a whole (the colour key of the login window) covers them too. The
// pointer and the keys reach them through an input-only window of their own,
// as a GtkButton's do.
#include "framework/ports/control.h"
#include "framework/gtk/gtk_platform.h"
#include "framework/gtk/input.h"
#include "framework/gtk/text.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace fw::gtk {

namespace {

// --- the child widget -------------------------------------------------------
// A GtkWidget without a window of its own, of a fixed size, with an
// input-only GdkWindow over its area for the pointer.

struct FwChild {
    GtkWidget parent;
    GdkWindow* input;
    int width;
    int height;
};

struct FwChildClass {
    GtkWidgetClass parentClass;
};

G_DEFINE_TYPE(FwChild, fw_child, GTK_TYPE_WIDGET)

FwChild* child(GtkWidget* widget) {
    return G_TYPE_CHECK_INSTANCE_CAST(widget, fw_child_get_type(), FwChild);
}

void childRealize(GtkWidget* widget) {
    FwChild* c = child(widget);
    GtkAllocation a;
    gtk_widget_get_allocation(widget, &a);
    gtk_widget_set_realized(widget, TRUE);
    // Drawing goes to the parent's window (the client area's).
    GdkWindow* parentWindow = gtk_widget_get_parent_window(widget);
    gtk_widget_set_window(widget, parentWindow);
    g_object_ref(parentWindow);

    GdkWindowAttr attributes{};
    attributes.window_type = GDK_WINDOW_CHILD;
    attributes.x = a.x;
    attributes.y = a.y;
    attributes.width = a.width;
    attributes.height = a.height;
    attributes.wclass = GDK_INPUT_ONLY;
    attributes.event_mask = gtk_widget_get_events(widget);
    c->input = gdk_window_new(parentWindow, &attributes, GDK_WA_X | GDK_WA_Y);
    gtk_widget_register_window(widget, c->input);
}

void childUnrealize(GtkWidget* widget) {
    FwChild* c = child(widget);
    gtk_widget_unregister_window(widget, c->input);
    gdk_window_destroy(c->input);
    c->input = nullptr;
    GTK_WIDGET_CLASS(fw_child_parent_class)->unrealize(widget);
}

void childMap(GtkWidget* widget) {
    GTK_WIDGET_CLASS(fw_child_parent_class)->map(widget);
    gdk_window_show(child(widget)->input);
}

void childUnmap(GtkWidget* widget) {
    gdk_window_hide(child(widget)->input);
    GTK_WIDGET_CLASS(fw_child_parent_class)->unmap(widget);
}

void childAllocate(GtkWidget* widget, GtkAllocation* a) {
    gtk_widget_set_allocation(widget, a);
    if (gtk_widget_get_realized(widget))
        gdk_window_move_resize(child(widget)->input, a->x, a->y, a->width, a->height);
}

void childWidth(GtkWidget* widget, gint* minimum, gint* natural) {
    *minimum = *natural = child(widget)->width;
}

void childHeight(GtkWidget* widget, gint* minimum, gint* natural) {
    *minimum = *natural = child(widget)->height;
}

void fw_child_class_init(FwChildClass* klass) {
    GtkWidgetClass* w = GTK_WIDGET_CLASS(klass);
    w->realize = childRealize;
    w->unrealize = childUnrealize;
    w->map = childMap;
    w->unmap = childUnmap;
    w->size_allocate = childAllocate;
    w->get_preferred_width = childWidth;
    w->get_preferred_height = childHeight;
}

void fw_child_init(FwChild* self) {
    gtk_widget_set_has_window(GTK_WIDGET(self), FALSE);
    self->input = nullptr;
}

// A child of `rect` on the window's client area, shown; we hold a reference
// of our own, so that it can be let go of safely whatever went first.
GtkWidget* placeChild(GtkPeer& parent, const Rect& rect, gint events) {
    auto* widget = GTK_WIDGET(g_object_new(fw_child_get_type(), nullptr));
    FwChild* c = child(widget);
    c->width = std::max(rect.width, 0);
    c->height = std::max(rect.height, 0);
    gtk_widget_add_events(widget, events);
    g_object_ref_sink(widget);
    gtk_fixed_put(parent.content(), widget, rect.left, rect.top);
    gtk_widget_show(widget);
    return widget;
}

void dropChild(GtkWidget* widget, gpointer data) {
    g_signal_handlers_disconnect_by_data(widget, data);
    gtk_widget_destroy(widget);
    g_object_unref(widget);
}

// --- tab order --------------------------------------------------------------
// Tab visits the control surfaces by their tab index, then the rest of the
// client area's children (a browser, say) in the order they were put there.
// The order is worked out each time the focus moves into or through the
// client area, so children added later take their place too.

constexpr const char* kTabIndexKey = "fw-tab-index";

gboolean orderFocusChain(GtkWidget* content, GtkDirectionType, gpointer) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(content));
    std::vector<GtkWidget*> order;
    for (GList* l = children; l; l = l->next) order.push_back(GTK_WIDGET(l->data));
    g_list_free(children);
    auto rank = [](GtkWidget* w) {
        // Stored as index + 1, so that 0 means "none".
        const auto stored = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(w), kTabIndexKey));
        return stored > 0 ? stored - 1 : G_MAXINT;
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](GtkWidget* a, GtkWidget* b) { return rank(a) < rank(b); });
    GList* chain = nullptr;
    for (auto it = order.rbegin(); it != order.rend(); ++it) chain = g_list_prepend(chain, *it);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_container_set_focus_chain(GTK_CONTAINER(content), chain);
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_list_free(chain);
    return FALSE; // the container's own focus handling follows the chain
}

void joinTabOrder(GtkPeer& parent, GtkWidget* widget, int tabIndex) {
    GtkWidget* content = GTK_WIDGET(parent.content());
    g_object_set_data(G_OBJECT(widget), kTabIndexKey, GINT_TO_POINTER(std::max(tabIndex, 0) + 1));
    if (!g_object_get_data(G_OBJECT(content), kTabIndexKey)) {
        g_object_set_data(G_OBJECT(content), kTabIndexKey, GINT_TO_POINTER(1));
        g_signal_connect(content, "focus", G_CALLBACK(orderFocusChain), nullptr);
    }
}

// --- screen, colours, fonts --------------------------------------------------

// The screen's logical resolution (what fonts are sized by); 96 unless the
// desktop says otherwise.
double screenDpi(GtkWidget* widget) {
    const double dpi = gdk_screen_get_resolution(gtk_widget_get_screen(widget));
    return dpi > 0 ? dpi : 96.0;
}

GdkRGBA rgb(OleColor c) {
    return {(c & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, ((c >> 16) & 0xFF) / 255.0, 1.0};
}

// An OLE colour as drawn in `widget`: a system colour is the theme's
// matching colour (the desktop's classic value where the theme has none).
GdkRGBA resolveColour(GtkWidget* widget, OleColor colour) {
    if (!(colour & 0x80000000u)) return rgb(colour);
    struct SystemColour {
        int index;
        const char* themeName;
        OleColor fallback;
    };
    static constexpr SystemColour kSystem[] = {
        {5, "theme_base_color", 0xFFFFFF},         // window
        {8, "theme_text_color", 0x000000},         // window text
        {13, "theme_selected_bg_color", 0xD77800}, // highlight
        {14, "theme_selected_fg_color", 0xFFFFFF}, // highlight text
        {15, "theme_bg_color", 0xF0F0F0},          // button face
        {18, "theme_fg_color", 0x000000},          // button text
    };
    const int index = static_cast<int>(colour & 0xFF);
    for (const auto& s : kSystem) {
        if (s.index != index) continue;
        GdkRGBA out;
        if (gtk_style_context_lookup_color(gtk_widget_get_style_context(widget), s.themeName, &out))
            return out;
        return rgb(s.fallback);
    }
    return rgb(0x000000);
}

// The toolkit's default font (the desktop's UI font), as a font object.
FontRef toolkitFont(GtkWidget* widget) {
    gchar* name = nullptr;
    g_object_get(gtk_widget_get_settings(widget), "gtk-font-name", &name, nullptr);
    PangoFontDescription* d = pango_font_description_from_string(name ? name : "Sans 10");
    g_free(name);
    auto font = std::make_shared<Font>();
    const char* family = pango_font_description_get_family(d);
    font->face = family ? family : "Sans";
    const double size = static_cast<double>(pango_font_description_get_size(d)) / PANGO_SCALE;
    if (size <= 0)
        font->size = 9.0;
    else
        font->size =
            pango_font_description_get_size_is_absolute(d) ? size * 72.0 / screenDpi(widget) : size;
    font->weight = static_cast<int>(pango_font_description_get_weight(d));
    font->italic = pango_font_description_get_style(d) != PANGO_STYLE_NORMAL;
    font->charset = 1;
    pango_font_description_free(d);
    return font;
}

// One line of `text` in `font` and `colour`, placed in `rect` by the kDt*
// flags and clipped to it; nothing is drawn behind it. As DrawText does,
// the vertical placement counts only for a single line.
void drawLine(cairo_t* cr, GtkWidget* widget, const std::string& text, const Font& font,
              const GdkRGBA& colour, const Bounds& rect, unsigned flags) {
    if (text.empty() || rect.right <= rect.left || rect.bottom <= rect.top) return;
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* d = pango_font_description_new();
    pango_font_description_set_family(d, font.face.empty() ? "Sans" : utf8(font.face).c_str());
    // Points on the screen's resolution, as the desktop sizes a font: 9 pt
    // at 96 dpi is 12 pixels.
    const double pixels = font.size * screenDpi(widget) / 72.0;
    pango_font_description_set_absolute_size(d, std::max(pixels, 1.0) * PANGO_SCALE);
    pango_font_description_set_weight(
        d, static_cast<PangoWeight>(font.weight > 0 ? std::clamp(font.weight, 100, 1000) : 400));
    pango_font_description_set_style(d, font.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    pango_layout_set_font_description(layout, d);
    pango_font_description_free(d);
    if (font.underline || font.strikethrough) {
        PangoAttrList* attrs = pango_attr_list_new();
        if (font.underline)
            pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
        if (font.strikethrough) pango_attr_list_insert(attrs, pango_attr_strikethrough_new(TRUE));
        pango_layout_set_attributes(layout, attrs);
        pango_attr_list_unref(attrs);
    }
    pango_layout_set_single_paragraph_mode(layout, TRUE);
    const std::string valid = utf8(text);
    pango_layout_set_text(layout, valid.c_str(), static_cast<int>(valid.size()));

    int w = 0;
    int h = 0;
    pango_layout_get_pixel_size(layout, &w, &h);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    int x = rect.left;
    if (flags & kDtCenter)
        x = rect.left + (width - w) / 2;
    else if (flags & kDtRight)
        x = rect.right - w;
    int y = rect.top;
    if (flags & kDtSingleLine) {
        if (flags & kDtVCenter)
            y = rect.top + (height - h) / 2;
        else if (flags & kDtBottom)
            y = rect.bottom - h;
    }
    cairo_save(cr);
    cairo_rectangle(cr, rect.left, rect.top, width, height);
    cairo_clip(cr);
    gdk_cairo_set_source_rgba(cr, &colour);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
    g_object_unref(layout);
}

// --- keys ---------------------------------------------------------------------

// The desktop's virtual-key code of a key, from the key as it is without
// Shift (so Shift+1 is still the key '1').
std::int16_t virtualKey(const GdkEventKey* event) {
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
std::int16_t keyShift(const GdkEventKey* event, std::int16_t code) {
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
std::optional<std::int16_t> typedCharacter(const GdkEventKey* event) {
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

bool isTab(guint keyval) {
    return keyval == GDK_KEY_Tab || keyval == GDK_KEY_ISO_Left_Tab || keyval == GDK_KEY_KP_Tab;
}

// --- the themed push button ---------------------------------------------------

// The toolkit's button style for one push-button state, as a button in the
// client area would have it.
GtkStyleContext* buttonStyle(GtkWidget* content, int state) {
    GtkStyleContext* style = gtk_style_context_new();
    GtkWidgetPath* path = gtk_widget_path_copy(gtk_widget_get_path(content));
    gtk_widget_path_append_type(path, GTK_TYPE_BUTTON);
    gtk_widget_path_iter_set_object_name(path, -1, "button");
    gtk_style_context_set_path(style, path);
    gtk_widget_path_unref(path);
    gtk_style_context_set_parent(style, gtk_widget_get_style_context(content));
    GtkStateFlags flags = GTK_STATE_FLAG_NORMAL;
    switch (state) {
    case kPbsHot: flags = GTK_STATE_FLAG_PRELIGHT; break;
    case kPbsPressed:
        flags = static_cast<GtkStateFlags>(GTK_STATE_FLAG_ACTIVE | GTK_STATE_FLAG_PRELIGHT);
        break;
    case kPbsDisabled: flags = GTK_STATE_FLAG_INSENSITIVE; break;
    case kPbsDefaulted:
        flags = GTK_STATE_FLAG_FOCUSED;
        gtk_style_context_add_class(style, "default");
        break;
    default: break;
    }
    gtk_style_context_set_state(style, flags);
    return style;
}

// Whether the style draws anything at all: a theme that leaves buttons bare
// (no background colour, no image, no border) is as good as no theme.
bool drawsSomething(GtkStyleContext* style) {
    const GtkStateFlags state = gtk_style_context_get_state(style);
    GdkRGBA* background = nullptr;
    cairo_pattern_t* image = nullptr;
    gtk_style_context_get(style, state, "background-color", &background, "background-image", &image,
                          nullptr);
    GtkBorder border{};
    gtk_style_context_get_border(style, state, &border);
    const bool something = (background && background->alpha > 0) || image != nullptr ||
                           border.left || border.top || border.right || border.bottom;
    if (background) gdk_rgba_free(background);
    if (image) cairo_pattern_destroy(image);
    return something;
}

// --- the control surface ------------------------------------------------------

class GtkControlSurface : public ControlSurface {
public:
    GtkControlSurface(GtkPlatform& platform, GtkPeer& parent, ControlEvents& events,
                      const Rect& rect, int tabIndex)
        : platform_(platform), parent_(parent),
          events_(events), size_{std::max(rect.width, 0), std::max(rect.height, 0)} {
        widget_ = placeChild(parent, rect,
                             GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                 GDK_POINTER_MOTION_MASK | GDK_ENTER_NOTIFY_MASK |
                                 GDK_LEAVE_NOTIFY_MASK | GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK);
        gtk_widget_set_can_focus(widget_, TRUE);
        joinTabOrder(parent, widget_, tabIndex);
        font_ = toolkitFont(widget_);
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
        *alive_ = false;
        releaseCapture();
        dropChild(widget_, this);
    }

    GtkControlSurface(const GtkControlSurface&) = delete;
    GtkControlSurface& operator=(const GtkControlSurface&) = delete;

    // --- drawing -------------------------------------------------------------

    // On GTK there always is a theme (GTK's own at worst); "no theme" is a
    // theme whose buttons draw nothing, and then nothing is drawn here.
    bool drawThemeBackground(int state, const Bounds& rect, const Bounds& clip) override {
        cairo_t* cr = painting();
        GtkStyleContext* style = buttonStyle(content(), state);
        const bool themed = drawsSomething(style);
        if (themed) {
            cairo_save(cr);
            cairo_rectangle(cr, clip.left, clip.top, clip.right - clip.left,
                            clip.bottom - clip.top);
            cairo_clip(cr);
            const double w = rect.right - rect.left;
            const double h = rect.bottom - rect.top;
            gtk_render_background(style, cr, rect.left, rect.top, w, h);
            gtk_render_frame(style, cr, rect.left, rect.top, w, h);
            cairo_restore(cr);
        }
        g_object_unref(style);
        return themed;
    }

    // The desktop's dotted focus rectangle: every other pixel of the edge,
    // inverted, so it shows on any background.
    void drawFocusRect(const Bounds& rect) override {
        cairo_t* cr = painting();
        if (rect.right <= rect.left || rect.bottom <= rect.top) return;
        cairo_save(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_DIFFERENCE);
        cairo_set_source_rgb(cr, 1, 1, 1);
        auto dot = [cr](int x, int y) {
            if ((x + y) % 2 == 0) cairo_rectangle(cr, x, y, 1, 1);
        };
        for (int x = rect.left; x < rect.right; ++x) {
            dot(x, rect.top);
            if (rect.bottom - 1 > rect.top) dot(x, rect.bottom - 1);
        }
        for (int y = rect.top + 1; y < rect.bottom - 1; ++y) {
            dot(rect.left, y);
            if (rect.right - 1 > rect.left) dot(rect.right - 1, y);
        }
        cairo_fill(cr);
        cairo_restore(cr);
    }

    void renderPicture(const Picture& picture, int x, int y, int width, int height, int srcX,
                       int srcY, int srcWidth, int srcHeight) override {
        cairo_t* cr = painting();
        const int hmW = picture.widthHimetric();
        const int hmH = picture.heightHimetric();
        if (width == 0 || height == 0 || hmW == 0 || hmH == 0 || picture.width <= 0 ||
            picture.height <= 0)
            return;
        cairo_surface_t* image = toSurface(picture);
        // The source rectangle is in HIMETRIC with y going up from the
        // picture's bottom edge: source y = Height and a negative height run
        // from the top row down, the picture upright. In the picture's own
        // pixel rows (top down) the destination's top and bottom edges are:
        const double col0 = static_cast<double>(srcX) * picture.width / hmW;
        const double col1 = static_cast<double>(srcX + srcWidth) * picture.width / hmW;
        const double row0 = static_cast<double>(hmH - srcY) * picture.height / hmH;
        const double row1 = static_cast<double>(hmH - srcY - srcHeight) * picture.height / hmH;
        cairo_pattern_t* pattern = cairo_pattern_create_for_surface(image);
        cairo_matrix_t m;
        const double xx = (col1 - col0) / width;
        const double yy = (row1 - row0) / height;
        cairo_matrix_init(&m, xx, 0, 0, yy, col0 - x * xx, row0 - y * yy);
        cairo_pattern_set_matrix(pattern, &m);
        // Pixels are copied, not blended, as a bitmap is stretched on the
        // desktop.
        cairo_pattern_set_filter(pattern, CAIRO_FILTER_NEAREST);
        cairo_save(cr);
        cairo_rectangle(cr, std::min(x, x + width), std::min(y, y + height), std::abs(width),
                        std::abs(height));
        cairo_clip(cr);
        cairo_set_source(cr, pattern);
        cairo_paint(cr);
        cairo_restore(cr);
        cairo_pattern_destroy(pattern);
        cairo_surface_destroy(image);
    }

    void drawText(const std::string& text, const Bounds& rect, unsigned flags) override {
        cairo_t* cr = painting();
        drawLine(cr, widget_, text, *font_, resolveColour(content(), foreColor_), rect, flags);
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
        GdkWindow* input = child(widget_)->input;
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
        GdkWindow* input = child(widget_)->input;
        if (!input) return;
        GdkCursor* c = gdk_cursor_new_from_name(gtk_widget_get_display(widget_),
                                                cursor == Cursor::Hand ? "pointer" : "default");
        gdk_window_set_cursor(input, c); // none found: the parent's cursor
        if (c) g_object_unref(c);
    }

    // --- the surface's own properties ------------------------------------------

    bool enabled() const override { return gtk_widget_get_sensitive(widget_); }
    void setEnabled(bool enabled) override {
        // A disabled surface gets no input: GTK passes no pointer or key
        // event to an insensitive widget.
        if (!enabled) releaseCapture();
        gtk_widget_set_sensitive(widget_, enabled);
    }
    OleColor foreColor() const override { return foreColor_; }
    void setForeColor(OleColor colour) override { foreColor_ = colour; }
    OleColor backColor() const override { return backColor_; }
    void setBackColor(OleColor colour) override { backColor_ = colour; }
    FontRef font() const override { return font_; }
    void setFont(FontRef font) override {
        if (font) font_ = std::move(font);
    }

    OleColor ambientForeColor() const override { return systemColor(kColorBtnText); }
    OleColor ambientBackColor() const override { return parent_.backColor(); }
    FontRef ambientFont() const override { return toolkitFont(widget_); }

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

    void setFocus() override { gtk_widget_grab_focus(widget_); }

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
        if (GdkWindow* input = child(widget_)->input) gdk_window_get_origin(input, &x, &y);
        return {x, y};
    }

    static cairo_surface_t* toSurface(const Picture& picture) {
        cairo_surface_t* image =
            cairo_image_surface_create(CAIRO_FORMAT_RGB24, picture.width, picture.height);
        cairo_surface_flush(image);
        unsigned char* data = cairo_image_surface_get_data(image);
        const int stride = cairo_image_surface_get_stride(image);
        const std::size_t row = static_cast<std::size_t>(picture.width) * 3;
        for (int y = 0; y < picture.height; ++y) {
            auto* out =
                reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
            const std::size_t start = static_cast<std::size_t>(y) * row;
            for (int x = 0; x < picture.width; ++x) {
                const std::size_t i = start + static_cast<std::size_t>(x) * 3;
                if (i + 2 >= picture.bgr.size()) break; // a short picture: the rest stays black
                out[x] = (std::uint32_t{picture.bgr[i + 2]} << 16) |
                         (std::uint32_t{picture.bgr[i + 1]} << 8) | picture.bgr[i];
            }
        }
        cairo_surface_mark_dirty(image);
        return image;
    }

    // Runs one notification of the control; false when the control's
    // handler destroyed this surface (nothing of it may be touched then).
    template <typename F>
    bool raise(F&& notification) {
        const std::shared_ptr<bool> alive = alive_;
        platform_.deliver(std::forward<F>(notification));
        return *alive;
    }

    // --- native events ---------------------------------------------------------

    static gboolean onDraw(GtkWidget*, cairo_t* cr, gpointer data) {
        auto* self = static_cast<GtkControlSurface*>(data);
        cairo_save(cr);
        cairo_rectangle(cr, 0, 0, self->size_.width, self->size_.height);
        cairo_clip(cr);
        const GdkRGBA back = resolveColour(self->content(), self->backColor_);
        gdk_cairo_set_source_rgba(cr, &back);
        cairo_paint(cr);
        self->cr_ = cr;
        const std::shared_ptr<bool> alive = self->alive_;
        self->platform_.deliver([self] { self->events_.onPaint(); });
        if (*alive) self->cr_ = nullptr;
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
                const std::shared_ptr<bool> alive = self->alive_;
                gtk_widget_grab_focus(widget); // GotFocus runs in here
                if (!*alive) return TRUE;
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
    GtkPeer& parent_;
    ControlEvents& events_;
    GtkWidget* widget_ = nullptr;
    Size size_;
    Size allocated_;
    bool resized_ = false;
    bool focused_ = false;
    bool captured_ = false;
    OleColor foreColor_ = systemColor(kColorBtnText);
    OleColor backColor_ = systemColor(kColorBtnFace);
    FontRef font_;
    cairo_t* cr_ = nullptr; // set while onPaint runs
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// --- the label ----------------------------------------------------------------

class GtkLabelPeer : public LabelPeer {
public:
    GtkLabelPeer(GtkPeer& parent, const Rect& rect, OleColor colour)
        : parent_(parent), colour_(colour) {
        // Presses on a label are the label's, not the window's surface's.
        widget_ = placeChild(parent, rect, GDK_BUTTON_PRESS_MASK);
        g_signal_connect(widget_, "draw", G_CALLBACK(onDraw), this);
        g_signal_connect(widget_, "button-press-event", G_CALLBACK(onPress), this);
    }
    ~GtkLabelPeer() override { dropChild(widget_, this); }
    GtkLabelPeer(const GtkLabelPeer&) = delete;
    GtkLabelPeer& operator=(const GtkLabelPeer&) = delete;

    std::string caption() const override { return caption_; }
    void setCaption(const std::string& text) override {
        caption_ = text;
        gtk_widget_queue_draw(widget_);
    }

private:
    static gboolean onDraw(GtkWidget* widget, cairo_t* cr, gpointer data) {
        auto* self = static_cast<GtkLabelPeer*>(data);
        GtkWidget* content = GTK_WIDGET(self->parent_.content());
        const Bounds rect{0, 0, gtk_widget_get_allocated_width(widget),
                          gtk_widget_get_allocated_height(widget)};
        drawLine(cr, widget, self->caption_, *toolkitFont(widget),
                 resolveColour(content, self->colour_), rect, kDtCenter | kDtTop);
        return FALSE;
    }

    static gboolean onPress(GtkWidget*, GdkEventButton*, gpointer) { return TRUE; }

    GtkPeer& parent_;
    OleColor colour_;
    std::string caption_;
    GtkWidget* widget_ = nullptr;
};

} // namespace

std::unique_ptr<ControlSurface> GtkPlatform::createControlSurface(WindowPeer& parent,
                                                                  ControlEvents& events,
                                                                  const Rect& rect, int tabIndex) {
    return std::make_unique<GtkControlSurface>(*this, dynamic_cast<GtkPeer&>(parent), events, rect,
                                               tabIndex);
}

std::unique_ptr<LabelPeer> GtkPlatform::createLabel(WindowPeer& parent, const Rect& rect,
                                                    OleColor colour) {
    return std::make_unique<GtkLabelPeer>(dynamic_cast<GtkPeer&>(parent), rect, colour);
}

} // namespace fw::gtk
