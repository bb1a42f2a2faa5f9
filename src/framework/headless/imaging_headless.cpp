// SCAFFOLD: replaced by the adapter's real implementation.
#include "framework/control.h"
#include "framework/headless/headless.h"
#include "framework/imaging.h"

#include <stdexcept>

namespace fw::headless {
Imaging& HeadlessPlatform::imaging() {
    throw std::logic_error("imaging: not built yet");
}
} // namespace fw::headless
