// The launcher's two shaped windows: the background window whose whole face
// is the background picture with its per-pixel alpha, and the login window
// whose pure-blue pixels are transparent and click-through. Nothing is kept
// between calls: the decoder is started and stopped around each drawing and
// the layered window keeps the composed picture.
#pragma once

#include "framework/portable/form.h"
#include "framework/ports/imaging.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace imaging {

// The background picture's resource.
inline constexpr int kBackgroundId = 101;
inline constexpr const char* kBackgroundType = "CUSTOM";

// The last token the decoder's start gave; kept after the stop.
extern std::uintptr_t gdiPlusToken;

// A start failure says so and ends the program.
void startGdiPlus();
void stopGdiPlus();

// A decoded resource and the bytes it reads from, released image first.
struct ResourceImage {
    std::vector<std::uint8_t> bytes;
    std::unique_ptr<fw::DecodedImage> image; // nothing when the bytes do not decode
};
std::unique_ptr<ResourceImage> loadResourceImage(std::int32_t id, const std::string& type);

void drawResourceImage(fw::MemorySurface& target, std::int32_t width, std::int32_t height);
void setLayeredStyle(fw::WindowPeer& window);
void makeColorKeyWindow(fw::Form& window);
void updateLayeredBackground(fw::Form& window);

// A scale size as a whole number of pixels: nearest, halves to even; an
// overflow of 32 bits is an error.
std::int32_t toPixelCount(double units);

} // namespace imaging
