// The launcher's two shaped windows: the background window whose whole face
// is the background picture with its per-pixel alpha, and the login window
// whose pure-blue pixels are transparent and click-through. Nothing is kept
// between calls: the decoder is started and stopped around each drawing and
// the layered window keeps the composed picture.
#pragma once

#include "framework/portable/form.h"
#include "framework/ports/imaging.h"

namespace imaging {

// The background picture's resource.
inline constexpr int kBackgroundId = 101;
inline constexpr const char* kBackgroundType = "CUSTOM";

void makeColorKeyWindow(fw::Form& window);
void updateLayeredBackground(fw::Form& window);

} // namespace imaging
