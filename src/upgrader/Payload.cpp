#include "upgrader/Payload.h"

#include "upgrader/Sha256.h"

#include <algorithm>
#include <cstdint>

namespace upgrader {

namespace {
std::uint64_t little(std::string_view bytes) {
    std::uint64_t v = 0;
    for (std::size_t i = bytes.size(); i-- > 0;) v = v << 8 | static_cast<unsigned char>(bytes[i]);
    return v;
}
} // namespace

PayloadFault readPayload(std::string_view file, Payload& out) {
    if (file.size() < kTrailerSize) return PayloadFault::Truncated;
    const std::string_view trailer = file.substr(file.size() - kTrailerSize);
    if (trailer.substr(0, 8) != "UPGRADE1") return PayloadFault::Magic;
    const std::uint64_t launcherSize = little(trailer.substr(8, 8));
    const std::uint64_t versionSize = little(trailer.substr(16, 4));
    // The program itself comes first: a file that is all payload is cut.
    const std::uint64_t room = file.size() - kTrailerSize;
    if (little(trailer.substr(20, 4)) != 0 || launcherSize == 0 || launcherSize >= room ||
        versionSize >= room - launcherSize)
        return PayloadFault::Sizes;
    const std::size_t launcherAt = static_cast<std::size_t>(room - versionSize - launcherSize);
    out.launcher = file.substr(launcherAt, static_cast<std::size_t>(launcherSize));
    out.version = file.substr(static_cast<std::size_t>(room - versionSize),
                              static_cast<std::size_t>(versionSize));
    if (out.version.empty() || out.version.size() > kMaxVersionSize ||
        !std::all_of(out.version.begin(), out.version.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                   c == '.' || c == '-' || c == '_' || c == '+';
        }))
        return PayloadFault::Version;
    const auto hash = sha256(out.launcher);
    if (trailer.substr(24) != std::string_view(reinterpret_cast<const char*>(hash.data()), 32))
        return PayloadFault::Hash;
    return PayloadFault::None;
}

const char* describe(PayloadFault fault) {
    switch (fault) {
    case PayloadFault::None: return "intact";
    case PayloadFault::Truncated: return "shorter than its trailer";
    case PayloadFault::Magic: return "no trailer mark";
    case PayloadFault::Sizes: return "sizes beyond the file";
    case PayloadFault::Version: return "not a version text";
    case PayloadFault::Hash: return "SHA-256 mismatch";
    }
    return "?";
}

} // namespace upgrader
