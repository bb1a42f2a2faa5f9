// File procedures: every file is named relative to the executable's folder.
#pragma once

#include "framework/ports/platform.h"

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

} // namespace config
