// The log a player can send to the operator's support: what went wrong, one
// line each with the local time and the program that wrote it. One file that
// grows to about kPlayerLogLimit, then becomes "<file>.old" (replacing the
// older one) and starts anew, so two files at most ever exist.
#pragma once

#include "framework/ports/platform.h"

#include <cstdint>
#include <string>

namespace fw {

inline constexpr std::uintmax_t kPlayerLogLimit = 1u << 20;

// The player's log for the game `brandId` (LAUNCHER_BRAND_ID): Linux
// $XDG_STATE_HOME/<id>/launcher.log (~/.local/state without it), Windows
// %LOCALAPPDATA%\<id>\launcher.log; empty when the system has no such
// folder. Written by each system (linux/ and win32/player_folder.cpp).
std::string playerLogPathFor(const std::string& brandId);

// Appends "[yyyy-mm-dd hh:mm:ss] program: line" to the file at `path`
// (UTF-8), making its folder first. Line breaks in `line` become blanks, so
// that a line of the log is one event. Failures are ignored: a log that
// cannot be written must not stop the program.
void appendPlayerLog(const std::string& path, const DateTime& now, const std::string& program,
                     const std::string& line);

} // namespace fw
