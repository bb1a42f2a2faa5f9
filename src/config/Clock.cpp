#include "config/Clock.h"

#include <chrono>
#include <cstdio>

namespace config {

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
    using namespace std::chrono;
    const sys_days date = year{t.year} / t.month / t.day; // proleptic Gregorian
    const auto days = static_cast<std::int64_t>(date.time_since_epoch().count());
    return days * 86400 + std::int64_t{t.hour} * 3600 + std::int64_t{t.minute} * 60 + t.second;
}

} // namespace config
