// The new launcher that the upgrade program carries at the end of its own
// file (tools/pack-upgrade.py):
//   [program][launcher bytes][version text][56-byte trailer]
// trailer: "UPGRADE1", launcher size (uint64 LE), version size (uint32 LE),
// four zero bytes, SHA-256 of the launcher bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace upgrader {

inline constexpr std::size_t kTrailerSize = 56;
// The version goes into launcher.ini as a value: a short word of ASCII
// letters, digits and . - _ +, which every INI reader takes as it stands.
inline constexpr std::size_t kMaxVersionSize = 32;

struct Payload {
    std::string_view launcher; // views into the file's bytes
    std::string_view version;
};

enum class PayloadFault { None, Truncated, Magic, Sizes, Version, Hash };

// The payload of `file` (the program's own bytes), or why it is refused.
PayloadFault readPayload(std::string_view file, Payload& out);
const char* describe(PayloadFault fault);

} // namespace upgrader
