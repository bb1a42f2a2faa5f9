// The picture decoder and the memory surfaces of the builds without GDI+
// (headless and gtk), on cairo: pictures decode from PNG bytes into
// premultiplied ARGB, surfaces are cairo image surfaces, and the colour key
// is applied to pixels the same way on both.
#pragma once

#include "framework/ports/imaging.h"

#include <cairo.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace fw::cairoimg {

// One pixel as cairo's ARGB32 holds it: alpha in the top byte, colours
// premultiplied by it.
using Argb = std::uint32_t;

// An owned reference to a cairo surface.
struct SurfaceUnref {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using SurfaceRef = std::unique_ptr<cairo_surface_t, SurfaceUnref>;

class Image : public DecodedImage {
public:
    explicit Image(cairo_surface_t* surface) : surface_(surface) {}
    cairo_surface_t* surface() const { return surface_.get(); }

private:
    SurfaceRef surface_;
};

class Surface : public MemorySurface {
public:
    // Transparent black, as cairo makes a new image surface.
    Surface(int width, int height);
    cairo_surface_t* surface() const { return surface_.get(); }
    // Premultiplied; 0 outside the surface.
    Argb pixel(int x, int y) const;

private:
    SurfaceRef surface_;
};

// Nothing when the bytes are not a PNG picture cairo can read.
std::unique_ptr<DecodedImage> decode(const std::vector<std::uint8_t>& bytes);

// The whole image stretched over (0, 0)-(width, height) of the target,
// source over, aspect not kept. The picture's edge pixels are repeated
// outwards for the filter, so a stretched picture keeps solid edges.
void drawStretched(cairo_surface_t* target, cairo_surface_t* image, int width, int height);

// An opaque pixel of an OLE colour (0x00BBGGRR); nothing for a system colour.
bool opaquePixel(OleColor colour, Argb& out);

// The colour key applied to an ARGB32 image in place: with kLwaColorKey
// every pixel that is exactly the key colour, fully opaque, becomes
// transparent; with kLwaAlpha every other pixel is scaled by `alpha`.
struct ColorKey {
    OleColor colour = 0;
    std::uint8_t alpha = 255;
    int flags = 0;
};
void applyColorKey(cairo_surface_t* image, const ColorKey& key);

// Rewrites every pixel of an ARGB32 or RGB24 image surface in place with
// `edit(Argb&)`.
template <class Edit>
void editPixels(cairo_surface_t* image, Edit edit) {
    cairo_surface_flush(image);
    unsigned char* data = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    const int w = cairo_image_surface_get_width(image);
    const int h = cairo_image_surface_get_height(image);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<Argb*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < w; ++x) edit(row[x]);
    }
    cairo_surface_mark_dirty(image);
}

// The decoding and drawing part of the imaging port, the same for every
// adapter that draws with cairo; the adapters add the windows' side.
class DrawingImaging : public Imaging {
public:
    std::unique_ptr<DecodedImage> loadImage(const std::vector<std::uint8_t>& bytes) override {
        return decode(bytes);
    }
    std::unique_ptr<MemorySurface> createSurface(WindowPeer&, int width, int height) override {
        return std::make_unique<Surface>(width, height);
    }
    void drawImage(MemorySurface& target, DecodedImage& image, int width, int height) override {
        drawStretched(static_cast<Surface&>(target).surface(), static_cast<Image&>(image).surface(),
                      width, height);
    }
};

} // namespace fw::cairoimg
