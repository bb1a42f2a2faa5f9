// A portable decoder of whole 24-bit .bmp files (the button pictures stored
// as resources), so that every build reads them the same way. Anything else,
// malformed or cut short, is refused with a BmpError saying why.
#pragma once

#include "framework/ports/control.h"

#include <cstdint>
#include <span>
#include <stdexcept>

namespace fw {

struct BmpError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Uncompressed 24-bit pictures, bottom-up or top-down, up to kMaxBmpSide
// pixels a side.
inline constexpr int kMaxBmpSide = 16384;
Picture decodeBmp(std::span<const std::uint8_t> file);

} // namespace fw
