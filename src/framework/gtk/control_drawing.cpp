#include "framework/gtk/control_drawing.h"

#include "framework/gtk/text.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace fw::gtk {

namespace {

GdkRGBA rgb(OleColor c) {
    return {(c & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, ((c >> 16) & 0xFF) / 255.0, 1.0};
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

cairo_surface_t* toSurface(const Picture& picture) {
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

} // namespace

double screenDpi(GtkWidget* widget) {
    const double dpi = gdk_screen_get_resolution(gtk_widget_get_screen(widget));
    return dpi > 0 ? dpi : 96.0;
}

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

bool paintButton(cairo_t* cr, GtkWidget* content, int state, const Bounds& rect,
                 const Bounds& clip) {
    GtkStyleContext* style = buttonStyle(content, state);
    const bool themed = drawsSomething(style);
    if (themed) {
        cairo_save(cr);
        cairo_rectangle(cr, clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top);
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

void paintFocusRect(cairo_t* cr, const Bounds& rect) {
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

void paintPicture(cairo_t* cr, const Picture& picture, int x, int y, int width, int height,
                  int srcX, int srcY, int srcWidth, int srcHeight) {
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

} // namespace fw::gtk
