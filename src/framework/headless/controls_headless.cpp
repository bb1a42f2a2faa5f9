// SCAFFOLD: replaced by the adapter's real implementation.
#include "framework/control.h"
#include "framework/headless/headless.h"
#include "framework/imaging.h"

#include <stdexcept>

namespace fw::headless {
std::unique_ptr<ControlSurface> HeadlessPlatform::createControlSurface(WindowPeer&, ControlEvents&,
                                                                       const Rect&, int) {
    throw std::logic_error("controls: not built yet");
}
std::unique_ptr<LabelPeer> HeadlessPlatform::createLabel(WindowPeer&, const Rect&, OleColor) {
    throw std::logic_error("label: not built yet");
}
} // namespace fw::headless
