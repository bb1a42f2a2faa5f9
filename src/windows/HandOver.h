#pragma once

#include <string>

namespace windows {
// The login is over when an address contains the game address (exact,
// case-sensitive). An empty address never matches; an empty game address is
// contained in every other one.
inline bool isHandOver(const std::string& address, const std::string& mainUrl) {
    return !address.empty() && address.find(mainUrl) != std::string::npos;
}
} // namespace windows
