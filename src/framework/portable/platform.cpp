#include "framework/ports/platform.h"

#include "framework/portable/player_log.h"

#include <cstdlib>
#include <stdexcept>

namespace fw {

namespace {
Platform* current = nullptr;
}

Platform& Platform::get() {
    if (!current) throw std::logic_error("no platform installed");
    return *current;
}

void Platform::diagnostic(const std::string& line) {
    writeDiagnostic(line);
    appendPlayerLog(playerLogPath(), localNow(), "launcher", line);
}

void Platform::untrapped(const char* what) {
    const bool first = !failing_;
    failing_ = true;
    if (first) {
        try {
            diagnostic(what);
        } catch (...) {
        }
        try {
            showUntrapped(untrappedText(what));
        } catch (...) {
        }
    }
    endUntrapped();
    // Not reached: the compiler does not take a virtual call's [[noreturn]].
    std::abort();
}

std::string Platform::untrappedText(const std::string& what) {
    return "运行时错误：\n\n" + what;
}

void Platform::install(Platform* platform) {
    current = platform;
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
