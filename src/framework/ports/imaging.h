// Port of the imaging services behind the launcher's two shaped windows: a
// picture decoded from the executable's bytes, drawn with its alpha into a
// memory surface that a layered window then shows as its whole face, and the
// colour-keyed window whose pixels of one colour are transparent to sight and
// to the mouse. The rules (which picture, what size, in which order) are the
// launcher's own (src/imaging); adapters only carry out the requests.
#pragma once

#include "framework/ports/geometry.h"
#include "framework/ports/platform.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace fw {

inline constexpr OleColor kPureBlue = 0x00FF0000;
inline constexpr OleColor systemColor(int index) {
    return 0x80000000u | static_cast<OleColor>(index & 0xFF);
}
inline constexpr int kColorHighlightText = 14;
inline constexpr int kColorBtnFace = 15;
inline constexpr int kColorBtnText = 18;

// SetLayeredWindowAttributes flags.
inline constexpr int kLwaColorKey = 1;
inline constexpr int kLwaAlpha = 2;

// A decoded picture. It may read the bytes it was decoded from until it is
// destroyed: the caller keeps them alive that long.
class DecodedImage {
public:
    virtual ~DecodedImage() = default;
};

// A 32-bit memory surface with premultiplied alpha, compatible with a
// window's drawing surface; all zero (transparent black) when made.
class MemorySurface {
public:
    virtual ~MemorySurface() = default;
};

class Imaging {
public:
    virtual ~Imaging() = default;

    // Starts the decoder and drawer; 0 when it started. `token` is what
    // shutdown needs.
    virtual int startup(std::uintptr_t& token) = 0;
    virtual void shutdown(std::uintptr_t token) = 0;

    // Nothing when the bytes do not decode as a picture.
    virtual std::unique_ptr<DecodedImage> loadImage(const std::vector<std::uint8_t>& bytes) = 0;

    // A w x h surface compatible with the window's (a memory device context
    // with a 32-bit DIB section selected into it).
    virtual std::unique_ptr<MemorySurface> createSurface(WindowPeer& window, int width,
                                                         int height) = 0;

    // Draws the whole image stretched over (0, 0)-(width, height) of the
    // surface with its alpha, over what the surface holds; aspect not kept.
    virtual void drawImage(MemorySurface& target, DecodedImage& image, int width, int height) = 0;

    // Adds the layered style to the window; its other style bits stay.
    virtual void setLayeredStyle(WindowPeer& window) = 0;

    // The window takes `size` (its corner stays) and shows exactly the
    // surface from (0, 0): opaque where it is opaque, blended where it is
    // partly transparent, invisible and click-through where alpha is 0.
    virtual void updateLayered(WindowPeer& window, MemorySurface& surface, Size size) = 0;

    // Every pixel of the window's own surface and of the controls the
    // launcher draws on it that is exactly `key` becomes invisible and lets
    // the mouse through; every other pixel shows at `alpha`. `flags` are the
    // kLwa* bits.
    virtual void setColorKey(WindowPeer& window, OleColor key, std::uint8_t alpha, int flags) = 0;

    // The window, hidden, is never drawn again: what its face keeps only for
    // drawing (the layered picture, the colour key's shapes) may go. Its
    // style, place and size stay.
    virtual void releaseFace(WindowPeer& window) = 0;
};

} // namespace fw
