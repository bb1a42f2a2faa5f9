#include "framework/platform.h"

#include <stdexcept>

namespace fw {

namespace {
Platform* current = nullptr;
}

Platform& Platform::get() {
    if (!current) throw std::logic_error("no platform installed");
    return *current;
}

void Platform::install(Platform* platform) {
    current = platform;
}

} // namespace fw
