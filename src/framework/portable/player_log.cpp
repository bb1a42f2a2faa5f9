#include "framework/portable/player_log.h"

#include <cstdio>

namespace fw {

void appendPlayerLog(const std::string& path, const DateTime& now, const std::string& program,
                     const std::string& line) {
    if (path.empty()) return;
    const std::size_t cut = path.find_last_of("/\\");
    if (cut != std::string::npos && cut > 0) log_file::makeFolders(path.substr(0, cut));
    if (log_file::size(path) >= static_cast<std::int64_t>(kPlayerLogLimit))
        log_file::replace(path, path + ".old");
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%04d-%02d-%02d %02d:%02d:%02d] ", now.year, now.month,
                  now.day, now.hour, now.minute, now.second);
    std::string text = stamp + program + ": " + line;
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
#ifdef _WIN32
    text += "\r\n";
#else
    text += '\n';
#endif
    log_file::append(path, text);
}

} // namespace fw
