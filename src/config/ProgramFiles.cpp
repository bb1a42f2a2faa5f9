#include "config/ProgramFiles.h"

#include <cstdio>

namespace config {

namespace {
// The size of the buffer a value is read into: values are cut at 1024 bytes.
constexpr std::size_t kValueBuffer = 1025;
} // namespace

std::string programPath(const std::string& relative) {
    auto& p = fw::Platform::get();
    std::string folder = p.exeFolder();
    if (folder.empty() || folder.back() != p.pathSeparator()) folder += p.pathSeparator();
    return folder + relative;
}

std::string readIni(const std::string& file, const std::string& section, const std::string& key) {
    return fw::Platform::get().readProfileString(section, key, "", kValueBuffer, programPath(file));
}

long writeIni(const std::string& file, const std::string& section, const std::string& key,
              const std::string& value) {
    ensureFolder(file);
    return fw::Platform::get().writeProfileString(section, key, value, programPath(file)) ? 1 : 0;
}

void ensureFolder(const std::string& relative) {
    auto& p = fw::Platform::get();
    const auto sep = relative.find(p.pathSeparator());
    if (sep == std::string::npos) return;
    const std::string folder = programPath(relative.substr(0, sep));
    if (!p.pathExists(folder)) p.createFolder(folder);
}

std::string formatTimeStamp(const fw::DateTime& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "[%04d-%02d-%02d %02d:%02d:%02d]", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return buf;
}

std::string timeStamp() {
    return formatTimeStamp(fw::Platform::get().localNow());
}

std::int64_t secondsSince1970(const fw::DateTime& t) {
    // Days from the civil date (proleptic Gregorian calendar).
    const std::int64_t y = t.month <= 2 ? t.year - 1 : t.year;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t mp = (t.month + 9) % 12;
    const std::int64_t doy = (153 * mp + 2) / 5 + t.day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days = era * 146097 + doe - 719468;
    return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

} // namespace config
