#include "imaging/LayeredWindows.h"

#include <cfenv>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace imaging {

namespace {

// The last token the imaging port's start gave; kept after the stop.
std::uintptr_t imagingToken = 0;

fw::Imaging& port() {
    return fw::Platform::get().imaging();
}

fw::WindowPeer& peerOf(fw::Form& window) {
    fw::WindowPeer* peer = window.peer();
    if (!peer) throw std::logic_error("the window is not loaded");
    return *peer;
}

// A start failure says so, with the same text on every build, and ends the
// program.
void startImaging() {
    if (port().startup(imagingToken) == 0) return;
    fw::Platform::get().messageBox("GDI+ 初始化错误。程序即将关闭。", "InitError",
                                   fw::kOkOnly | fw::kCritical);
    fw::Platform::get().end();
}

void stopImaging() {
    port().shutdown(imagingToken);
}

// A decoded resource and the bytes it reads from, released image first.
struct ResourceImage {
    std::vector<std::uint8_t> bytes;
    std::unique_ptr<fw::DecodedImage> image; // nothing when the bytes do not decode
};

std::unique_ptr<ResourceImage> loadResourceImage(std::int32_t id, const std::string& type) {
    auto out = std::make_unique<ResourceImage>();
    out->bytes = fw::Platform::get().resource(id, type);
    // The decoder reads the bytes from their first element: there must be one.
    if (out->bytes.empty()) throw std::out_of_range("subscript out of range");
    out->image = port().loadImage(out->bytes);
    return out;
}

void drawResourceImage(fw::MemorySurface& target, std::int32_t width, std::int32_t height) {
    startImaging();
    auto picture = loadResourceImage(kBackgroundId, kBackgroundType);
    // Undecodable data draws nothing: the target keeps its pixels.
    if (picture->image) port().drawImage(target, *picture->image, width, height);
    picture.reset();
    stopImaging();
}

void setLayeredStyle(fw::WindowPeer& window) {
    port().setLayeredStyle(window);
}

// A scale size as a whole number of pixels: nearest, halves to even; an
// overflow of 32 bits is an error.
std::int32_t toPixelCount(double units) {
    // nearbyint rounds in the current mode, which is to nearest, ties to even.
    const double r = std::nearbyint(units);
    if (!(r >= std::numeric_limits<std::int32_t>::min() &&
          r <= std::numeric_limits<std::int32_t>::max()))
        throw std::overflow_error("overflow");
    return static_cast<std::int32_t>(r);
}

} // namespace

void makeColorKeyWindow(fw::Form& window) {
    window.setBackColor(fw::kPureBlue);
    setLayeredStyle(peerOf(window));
    port().setColorKey(peerOf(window), fw::kPureBlue, 255, fw::kLwaColorKey | fw::kLwaAlpha);
}

void updateLayeredBackground(fw::Form& window) {
    const std::int32_t w = toPixelCount(window.ScaleWidth());
    const std::int32_t h = toPixelCount(window.ScaleHeight());
    std::int32_t area = 0;
    if (__builtin_mul_overflow(w, h, &area)) throw std::overflow_error("overflow");
    // The surface's size in bytes is a 32-bit field too: a surface of more
    // than 2^29 pixels is refused here, before anything is allocated.
    (void)toPixelCount(32.0 / 8.0 * area);
    auto surface = port().createSurface(peerOf(window), w, h);
    drawResourceImage(*surface, w, h);
    // Read again, as the window reports it now.
    const fw::Size size{toPixelCount(window.ScaleWidth()), toPixelCount(window.ScaleHeight())};
    setLayeredStyle(peerOf(window));
    port().updateLayered(peerOf(window), *surface, size);
}

} // namespace imaging
