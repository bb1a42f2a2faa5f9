#include "framework/portable/bmp.h"

#include <cstring>
#include <string>

namespace fw {

namespace {

constexpr std::size_t kFileHeader = 14;
constexpr std::uint32_t kInfoHeader = 40; // the smallest header with the fields below

std::uint32_t u32(std::span<const std::uint8_t> b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}
std::int32_t i32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::int32_t>(u32(b, at));
}
std::uint16_t u16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

[[noreturn]] void fail(const std::string& why) {
    throw BmpError("bitmap: " + why);
}

} // namespace

Picture decodeBmp(std::span<const std::uint8_t> file) {
    if (file.size() < kFileHeader + 4) fail("too short for a bitmap file header");
    if (file[0] != 'B' || file[1] != 'M') fail("no \"BM\" signature");
    const std::uint32_t offBits = u32(file, 10);
    const std::uint32_t infoSize = u32(file, 14);
    if (infoSize < kInfoHeader)
        fail("header of " + std::to_string(infoSize) + " bytes (40 or more expected)");
    if (file.size() - kFileHeader < infoSize) fail("truncated header");
    const std::int32_t width = i32(file, 18);
    const std::int32_t height = i32(file, 22);
    const std::uint16_t planes = u16(file, 26);
    const std::uint16_t bits = u16(file, 28);
    const std::uint32_t compression = u32(file, 30);
    if (planes != 1) fail(std::to_string(planes) + " planes (1 expected)");
    if (bits != 24) fail(std::to_string(bits) + " bits per pixel (only 24-bit pictures)");
    if (compression != 0)
        fail("compression method " + std::to_string(compression) + " (none expected)");
    // A negative height stores the rows top-down.
    const std::int64_t rows = height < 0 ? -std::int64_t{height} : height;
    if (width <= 0 || rows == 0 || width > kMaxBmpSide || rows > kMaxBmpSide)
        fail("size " + std::to_string(width) + " x " + std::to_string(height) + " out of range");
    if (offBits < kFileHeader + infoSize || offBits > file.size())
        fail("pixel data offset " + std::to_string(offBits) + " out of range");
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    const std::size_t need = stride * static_cast<std::size_t>(rows);
    if (file.size() - offBits < need)
        fail("truncated pixel data (" + std::to_string(need) + " bytes expected, " +
             std::to_string(file.size() - offBits) + " present)");

    Picture p;
    p.width = width;
    p.height = static_cast<int>(rows);
    const std::size_t row = static_cast<std::size_t>(width) * 3;
    p.bgr.resize(row * static_cast<std::size_t>(rows));
    for (std::size_t y = 0; y < static_cast<std::size_t>(rows); ++y) {
        const std::size_t from = height < 0 ? y : static_cast<std::size_t>(rows) - 1 - y;
        std::memcpy(p.bgr.data() + y * row, file.data() + offBits + from * stride, row);
    }
    return p;
}

} // namespace fw
