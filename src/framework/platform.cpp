#include "framework/platform.h"

#include <cstdio>
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

// POSIX rename replaces the target; Windows overrides both (wide paths).
bool Platform::replaceFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool Platform::removeFile(const std::string& path) {
    return std::remove(path.c_str()) == 0;
}

} // namespace fw
