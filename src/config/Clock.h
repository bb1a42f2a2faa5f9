// The local clock as the launcher writes and sends it.
#pragma once

#include "framework/ports/platform.h"

#include <cstdint>
#include <string>

namespace config {

// "[yyyy-mm-dd hh:mm:ss]" of the local clock.
std::string timeStamp();
std::string formatTimeStamp(const fw::DateTime& t);

// Whole seconds from 1970-01-01 00:00:00 to `t`, both on the same (local)
// clock. 64-bit, so it stays right after 2038.
std::int64_t secondsSince1970(const fw::DateTime& t);

} // namespace config
