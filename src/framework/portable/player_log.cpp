#include "framework/portable/player_log.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fw {

namespace {
std::filesystem::path pathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
} // namespace

void appendPlayerLog(const std::string& path, const DateTime& now, const std::string& program,
                     const std::string& line) {
    if (path.empty()) return;
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path file = pathOf(path);
    fs::create_directories(file.parent_path(), ec);
    const auto size = fs::file_size(file, ec);
    if (!ec && size >= kPlayerLogLimit) {
        fs::path old = file;
        old += ".old";
        fs::rename(file, old, ec); // replaces the older file
    }
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%04d-%02d-%02d %02d:%02d:%02d] ", now.year, now.month,
                  now.day, now.hour, now.minute, now.second);
    std::string text = stamp + program + ": " + line;
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    std::ofstream out(file, std::ios::binary | std::ios::app);
    out << text << '\n';
}

} // namespace fw
