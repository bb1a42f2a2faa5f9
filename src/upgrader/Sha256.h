// SHA-256 of a byte string, so that the upgrade program checks its payload
// without a crypto library.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace upgrader {

std::array<std::uint8_t, 32> sha256(std::string_view data);

} // namespace upgrader
