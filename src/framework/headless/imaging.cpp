// The imaging port of the scripted desktop: real decoding and composing
// (framework/linux/imaging.h), with what a window would show recorded where
// tests can read it.
#include "framework/linux/imaging.h"
#include "framework/headless/platform.h"

namespace fw::headless {

namespace {

ArgbPixels copyOut(const cairoimg::Surface& surface, Size size) {
    ArgbPixels out{size, {}};
    out.pixels.reserve(static_cast<std::size_t>(size.width) * size.height);
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x) out.pixels.push_back(surface.pixel(x, y));
    return out;
}

class HeadlessImaging : public cairoimg::DrawingImaging {
public:
    explicit HeadlessImaging(HeadlessPlatform& platform) : platform_(platform) {}

    int startup(std::uintptr_t& token) override {
        ++platform_.imagingStarts;
        token = static_cast<std::uintptr_t>(platform_.imagingStarts);
        return platform_.imagingStartStatus;
    }
    void shutdown(std::uintptr_t) override { ++platform_.imagingStops; }

    void setLayeredStyle(WindowPeer& window) override {
        platform_.recordOf(window).imaging.layered = true;
    }

    // Like the system's calls, these do nothing for a window without the
    // layered style.
    void updateLayered(WindowPeer& window, MemorySurface& surface, Size size) override {
        WindowRecord& rec = platform_.recordOf(window);
        if (!rec.imaging.layered) return;
        rec.imaging.face = copyOut(static_cast<cairoimg::Surface&>(surface), size);
        const bool resized = rec.client.width != size.width || rec.client.height != size.height;
        rec.client = size;
        if (resized && rec.form) rec.form->onResize();
    }
    void setColorKey(WindowPeer& window, OleColor key, std::uint8_t alpha, int flags) override {
        WindowRecord& rec = platform_.recordOf(window);
        if (!rec.imaging.layered) return;
        rec.imaging.colorKey = ColorKeyRecord{key, alpha, flags};
    }
    void releaseFace(WindowPeer& window) override {
        WindowRecord& rec = platform_.recordOf(window);
        rec.imaging.face.reset();
        rec.imaging.released = true;
    }

private:
    HeadlessPlatform& platform_;
};

} // namespace

Imaging& HeadlessPlatform::imaging() {
    if (!imaging_) imaging_ = std::make_unique<HeadlessImaging>(*this);
    return *imaging_;
}

ArgbPixels HeadlessPlatform::ownFace(const WindowRecord& window) const {
    if (window.imaging.face) return *window.imaging.face;
    // The scripted desktop has no theme: a system colour shows as black.
    cairoimg::Argb fill = 0xFF000000u;
    cairoimg::opaquePixel(window.form->backColor(), fill);
    cairoimg::Surface own(window.client.width, window.client.height);
    cairo_t* cr = cairo_create(own.surface());
    cairo_set_source_rgba(cr, ((fill >> 16) & 0xFF) / 255.0, ((fill >> 8) & 0xFF) / 255.0,
                          (fill & 0xFF) / 255.0, 1.0);
    cairo_paint(cr);
    cairo_destroy(cr);
    if (window.imaging.layered && window.imaging.colorKey) {
        const auto& k = *window.imaging.colorKey;
        cairoimg::applyColorKey(own.surface(), {k.colour, k.alpha, k.flags});
    }
    return copyOut(own, window.client);
}

} // namespace fw::headless
