#include "framework/linux/imaging.h"

#include <cstring>

namespace fw::cairoimg {

namespace {

struct Reader {
    const std::vector<std::uint8_t>& bytes;
    std::size_t at = 0;
};

cairo_status_t readPng(void* closure, unsigned char* data, unsigned int length) {
    auto* r = static_cast<Reader*>(closure);
    if (r->bytes.size() - r->at < length) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(data, r->bytes.data() + r->at, length);
    r->at += length;
    return CAIRO_STATUS_SUCCESS;
}

// c * a / 255, rounded, for one 8-bit channel.
std::uint32_t scale(std::uint32_t c, std::uint32_t a) {
    const std::uint32_t t = c * a + 0x80;
    return (t + (t >> 8)) >> 8;
}

} // namespace

Surface::Surface(int width, int height)
    : surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width > 0 ? width : 0,
                                          height > 0 ? height : 0)) {}

Argb Surface::pixel(int x, int y) const {
    cairo_surface_t* s = surface_.get();
    cairo_surface_flush(s);
    if (x < 0 || y < 0 || x >= cairo_image_surface_get_width(s) ||
        y >= cairo_image_surface_get_height(s))
        return 0;
    const unsigned char* row = cairo_image_surface_get_data(s) +
                               static_cast<std::ptrdiff_t>(y) * cairo_image_surface_get_stride(s);
    Argb p;
    std::memcpy(&p, row + std::ptrdiff_t{4} * x, sizeof p);
    return p;
}

std::unique_ptr<DecodedImage> decode(const std::vector<std::uint8_t>& bytes) {
    Reader reader{bytes};
    cairo_surface_t* s = cairo_image_surface_create_from_png_stream(readPng, &reader);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    return std::make_unique<Image>(s);
}

void drawStretched(cairo_surface_t* target, cairo_surface_t* image, int width, int height) {
    const int iw = cairo_image_surface_get_width(image);
    const int ih = cairo_image_surface_get_height(image);
    if (width <= 0 || height <= 0 || iw <= 0 || ih <= 0) return;
    cairo_t* cr = cairo_create(target);
    cairo_rectangle(cr, 0, 0, width, height);
    cairo_clip(cr);
    cairo_scale(cr, static_cast<double>(width) / iw, static_cast<double>(height) / ih);
    cairo_set_source_surface(cr, image, 0, 0);
    // Without it the filter would blend the picture's border with the
    // transparent outside whenever it is stretched.
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(target);
}

bool opaquePixel(OleColor colour, Argb& out) {
    if (colour & 0x80000000u) return false;
    const std::uint32_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
    out = 0xFF000000u | (r << 16) | (g << 8) | b;
    return true;
}

void applyColorKey(cairo_surface_t* image, const ColorKey& key) {
    Argb keyPixel = 0;
    const bool keyed = (key.flags & kLwaColorKey) && opaquePixel(key.colour, keyPixel);
    const std::uint32_t alpha = (key.flags & kLwaAlpha) ? key.alpha : 255;
    if (!keyed && alpha == 255) return;
    editPixels(image, [&](Argb& p) {
        if (keyed && p == keyPixel) {
            p = 0;
        } else if (alpha != 255) {
            p = scale(p >> 24, alpha) << 24 | scale((p >> 16) & 0xFF, alpha) << 16 |
                scale((p >> 8) & 0xFF, alpha) << 8 | scale(p & 0xFF, alpha);
        }
    });
}

} // namespace fw::cairoimg
