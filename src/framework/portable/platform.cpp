#include "framework/ports/platform.h"

#include <cstdio>
#include <filesystem>
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

// POSIX rename replaces the target; Windows overrides these three (wide paths).
bool Platform::replaceFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool Platform::removeFile(const std::string& path) {
    return std::remove(path.c_str()) == 0;
}

std::vector<std::string> Platform::folderEntries(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    return names;
}

bool isDownloadTemporary(std::string_view name, std::string_view target) {
    constexpr std::size_t kTail = 6;
    if (name.size() != target.size() + 1 + kTail || name.substr(0, target.size()) != target ||
        name[target.size()] != '.')
        return false;
    for (const char c : name.substr(target.size() + 1))
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
            return false;
    return true;
}

} // namespace fw
