#include "framework/linux/profile.h"

#include "framework/linux/profile_lines.h"
#include "framework/linux/replacement_file.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fw::profile {

namespace {

// What is at a profile's path. Only a missing file may be created by a write;
// one that is there but cannot be opened (no permission, a folder, a device)
// reads as empty and is never replaced, as kernel32 leaves it alone.
struct Existing {
    enum Kind { kMissing, kRead, kUnusable } kind = kMissing;
    std::string data;
};

Existing slurp(const std::string& path, bool forWriting) {
    // Non-blocking, so that a FIFO under the name cannot stall the caller.
    const int fd = ::open(path.c_str(), (forWriting ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {errno == ENOENT ? Existing::kMissing : Existing::kUnusable, {}};
    Existing out{Existing::kUnusable, {}};
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        out.kind = Existing::kRead;
        // Read straight into place, growing past the size seen if the file
        // grows meanwhile.
        out.data.resize(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        for (;;) {
            if (got == out.data.size()) out.data.resize(got + 65536);
            const ssize_t n = ::read(fd, out.data.data() + got, out.data.size() - got);
            if (n > 0) {
                got += static_cast<std::size_t>(n);
            } else if (n == 0) {
                out.data.resize(got);
                break;
            } else if (errno != EINTR) {
                out = {Existing::kUnusable, {}};
                break;
            }
        }
    }
    ::close(fd);
    return out;
}

// A file saved as "Unicode" starts with a UTF-16 byte order mark; kernel32
// reads it as text and writes it back the same way. We work on it as UTF-8.
enum class Utf16 { kNone, kLittle, kBig };

Utf16 utf16Mark(std::string_view data) {
    if (data.substr(0, 2) == "\xFF\xFE") return Utf16::kLittle;
    if (data.substr(0, 2) == "\xFE\xFF") return Utf16::kBig;
    return Utf16::kNone;
}

void putUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The text after the mark as UTF-8; a lone surrogate becomes U+FFFD and an odd
// last byte is dropped.
std::string fromUtf16(std::string_view data, Utf16 order) {
    std::string out;
    auto unit = [&](std::size_t i) {
        const auto a = static_cast<unsigned char>(data[i]);
        const auto b = static_cast<unsigned char>(data[i + 1]);
        return static_cast<char32_t>(order == Utf16::kLittle ? a | b << 8 : b | a << 8);
    };
    for (std::size_t i = 2; i + 1 < data.size(); i += 2) {
        char32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < data.size() && unit(i + 2) >= 0xDC00 &&
            unit(i + 2) < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        putUtf8(out, c);
    }
    return out;
}

// UTF-8 back to UTF-16 with its mark; a byte that starts no valid sequence
// becomes U+FFFD.
std::string toUtf16(std::string_view text, Utf16 order) {
    std::string out = order == Utf16::kLittle ? "\xFF\xFE" : "\xFE\xFF";
    auto put = [&](char32_t u) {
        const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
        out += order == Utf16::kLittle ? lo : hi;
        out += order == Utf16::kLittle ? hi : lo;
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const std::size_t n = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
        char32_t c = n == 1 ? b : n == 2 ? b & 0x1F : n == 3 ? b & 0x0F : b & 0x07;
        bool valid = n != 0 && i + n <= text.size();
        for (std::size_t k = 1; valid && k < n; ++k) {
            const auto t = static_cast<unsigned char>(text[i + k]);
            valid = (t & 0xC0) == 0x80;
            c = c << 6 | (t & 0x3F);
        }
        if (!valid || c > 0x10FFFF) {
            put(0xFFFD);
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            put(0xD800 + ((c - 0x10000) >> 10));
            put(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            put(c);
        }
        i += n;
    }
    return out;
}

// The pieces a read takes of a file; the fuzz build makes them small, so that
// lines cross them.
#ifndef PROFILE_READ_PIECE
#define PROFILE_READ_PIECE 65536
#endif
constexpr std::size_t kPiece = PROFILE_READ_PIECE;

// Where the lines of `buffer` that are surely whole end: after its last line
// break, unless that is a CR at its very end (half of a CRLF, perhaps). The
// buffer has no break before `from` but for a CR just before it.
std::size_t wholeLines(std::string_view buffer, std::size_t from) {
    from = from > 0 ? from - 1 : 0;
    const std::string_view fresh = buffer.substr(from);
    auto e = fresh.find_last_of("\r\n");
    if (e != std::string_view::npos && e + 1 == fresh.size() && fresh[e] == '\r')
        e = e == 0 ? std::string_view::npos : fresh.find_last_of("\r\n", e - 1);
    return e == std::string_view::npos ? 0 : from + e + 1;
}

} // namespace

// Bytes without a UTF-16 mark are worked on where they lie, not copied.
std::string readBytes(const std::string& bytes, std::string_view section, std::string_view key,
                      std::string_view defaultValue, std::size_t bufferSize) {
    const auto order = utf16Mark(bytes);
    if (order == Utf16::kNone) return readString(bytes, section, key, defaultValue, bufferSize);
    return readString(fromUtf16(bytes, order), section, key, defaultValue, bufferSize);
}

std::string rewriteBytes(const std::string& bytes, std::string_view section, std::string_view key,
                         std::string_view value) {
    const auto order = utf16Mark(bytes);
    if (order == Utf16::kNone) return writeString(bytes, section, key, value);
    return toUtf16(writeString(fromUtf16(bytes, order), section, key, value), order);
}

// The file in pieces, scanned as they come and left once the section has
// ended: a read holds a piece and the line that crosses it, not the file.
// A file with a UTF-16 mark is read whole, as text.
std::string readFile(const std::string& path, std::string_view section, std::string_view key,
                     std::string_view defaultValue, std::size_t bufferSize) {
    const auto unreadable = [&] { return readString({}, section, key, defaultValue, bufferSize); };
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return unreadable();
    struct Close {
        int fd;
        ~Close() { ::close(fd); }
    } closing{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return unreadable();

    Finder finder(section, key);
    std::optional<std::string> keyText; // the found line, kept as pieces go
    std::string buffer;
    bool begun = false;
    bool scanning = true;
    bool end = false;
    while (scanning && !end) {
        std::size_t had = buffer.size();
        buffer.resize(had + kPiece);
        const ssize_t n = ::read(fd, buffer.data() + had, kPiece);
        buffer.resize(had + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return unreadable();
        end = n == 0;
        if (!begun) {
            if (buffer.size() < 3 && !end) continue;
            begun = true;
            if (utf16Mark(buffer) != Utf16::kNone)
                return readBytes(slurp(path, false).data, section, key, defaultValue, bufferSize);
            if (buffer.starts_with("\xEF\xBB\xBF")) buffer.erase(0, 3);
            had = 0;
        }
        const std::size_t whole = end ? buffer.size() : wholeLines(buffer, had);
        eachFilledLine(std::string_view(buffer).substr(0, whole), [&](const Line& line) {
            const bool seen = finder.found.key.has_value();
            scanning = finder(line);
            if (!seen && finder.found.key) keyText.emplace(line.text);
            return scanning;
        });
        buffer.erase(0, whole);
    }
    return valueOf(keyText ? std::optional<std::string_view>(*keyText) : std::nullopt, defaultValue,
                   bufferSize);
}

bool writeFile(const std::string& path, std::string_view section, std::string_view key,
               std::string_view value) {
    if (!canHold(section, key, value)) return false;
    // Opened for writing as well: a file the launcher may not write stays as it is.
    const auto old = slurp(path, true);
    if (old.kind == Existing::kUnusable) return false;
    // A UTF-16 file holds only what converts there and back.
    if (const auto order = utf16Mark(old.data); order != Utf16::kNone)
        for (const auto text : {section, key, value})
            if (fromUtf16(toUtf16(text, order), order) != text) return false;
    const std::string next = rewriteBytes(old.data, section, key, value);
    if (old.kind == Existing::kRead && old.data == next) return true;

    ReplacementFile file(path);
    return file.ok() && file.write(next.data(), next.size()) && file.commit();
}

} // namespace fw::profile
