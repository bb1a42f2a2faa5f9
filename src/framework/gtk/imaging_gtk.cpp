// SCAFFOLD: replaced by the adapter's real implementation.
#include "framework/control.h"
#include "framework/gtk/gtk_platform.h"
#include "framework/imaging.h"

#include <stdexcept>

namespace fw::gtk {
Imaging& GtkPlatform::imaging() {
    throw std::logic_error("imaging: not built yet");
}
} // namespace fw::gtk
