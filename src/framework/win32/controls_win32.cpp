// SCAFFOLD: replaced by the adapter's real implementation.
#include "framework/control.h"
#include "framework/imaging.h"
#include "framework/win32/win32_platform.h"

#include <stdexcept>

namespace fw::win32 {
std::unique_ptr<ControlSurface> Win32Platform::createControlSurface(WindowPeer&, ControlEvents&,
                                                                    const Rect&, int) {
    throw std::logic_error("controls: not built yet");
}
std::unique_ptr<LabelPeer> Win32Platform::createLabel(WindowPeer&, const Rect&, OleColor) {
    throw std::logic_error("label: not built yet");
}
} // namespace fw::win32
