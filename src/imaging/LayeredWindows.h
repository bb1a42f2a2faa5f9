// The launcher's two shaped windows: the background window whose whole face
// is the background picture with its per-pixel alpha, and the login window
// whose pure-blue pixels are transparent and click-through. Nothing is kept
// between calls: the decoder is started and stopped around each drawing and
// the layered window keeps the composed picture.
#pragma once

#include "framework/portable/form.h"
#include "framework/ports/imaging.h"

#include <cstdint>

namespace imaging {

// The background picture's resource.
inline constexpr int kBackgroundId = 101;
inline constexpr const char* kBackgroundType = "CUSTOM";

void makeColorKeyWindow(fw::Form& window);
void updateLayeredBackground(fw::Form& window);

// A scale size as a whole number of pixels: nearest, halves to even; an
// overflow of 32 bits is an error.
std::int32_t toPixelCount(double units);

} // namespace imaging
