// SCAFFOLD: replaced by the adapter's real implementation.
#include "framework/control.h"
#include "framework/imaging.h"
#include "framework/win32/win32_platform.h"

#include <stdexcept>

namespace fw::win32 {
Imaging& Win32Platform::imaging() {
    throw std::logic_error("imaging: not built yet");
}
} // namespace fw::win32
