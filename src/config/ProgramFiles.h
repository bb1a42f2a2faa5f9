// File procedures: every file is named relative to the executable's folder.
#pragma once

#include "framework/ports/platform.h"

#include <cstdint>
#include <string>

namespace config {

// The executable's folder joined with `relative` by exactly one separator.
std::string programPath(const std::string& relative);

// The key's value (at most 1024 bytes), or empty text.
std::string readIni(const std::string& file, const std::string& section, const std::string& key);

// Non-zero on success; every caller ignores it.
long writeIni(const std::string& file, const std::string& section, const std::string& key,
              const std::string& value);

// Creates the first folder level of `relative` when nothing of that name exists.
void ensureFolder(const std::string& relative);

// "[yyyy-mm-dd hh:mm:ss]" of the local clock.
std::string timeStamp();
std::string formatTimeStamp(const fw::DateTime& t);

// Whole seconds from 1970-01-01 00:00:00 to `t`, both on the same (local)
// clock. 64-bit, so it stays right after 2038.
std::int64_t secondsSince1970(const fw::DateTime& t);

} // namespace config
