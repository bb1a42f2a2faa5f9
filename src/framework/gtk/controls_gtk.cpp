// SCAFFOLD: replaced by the adapter's real implementation.
#include "framework/control.h"
#include "framework/gtk/gtk_platform.h"
#include "framework/imaging.h"

#include <stdexcept>

namespace fw::gtk {
std::unique_ptr<ControlSurface> GtkPlatform::createControlSurface(WindowPeer&, ControlEvents&,
                                                                  const Rect&, int) {
    throw std::logic_error("controls: not built yet");
}
std::unique_ptr<LabelPeer> GtkPlatform::createLabel(WindowPeer&, const Rect&, OleColor) {
    throw std::logic_error("label: not built yet");
}
} // namespace fw::gtk
