#include "framework/linux/profile.h"

#include "framework/linux/replacement_file.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace fw::profile {

namespace {

constexpr std::string_view kBlanks = " \t\v\f\r\n";

std::string_view trim(std::string_view s) {
    const auto b = s.find_first_not_of(kBlanks);
    if (b == std::string_view::npos) return {};
    const auto e = s.find_last_not_of(kBlanks);
    return s.substr(b, e - b + 1);
}

// Text ends at its first NUL, as in the C strings kernel32 hands on: a name or
// value with a NUL inside counts only up to it.
std::string_view cutAtNul(std::string_view s) {
    return s.substr(0, s.find('\0'));
}

bool sameName(std::string_view a, std::string_view b) {
    a = cutAtNul(a);
    b = cutAtNul(b);
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

struct Line {
    std::string_view text; // without its line break
    std::string_view brk;  // "\r\n", "\n", "\r" or empty at the end
};

// One of kBlanks.
bool isBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The first byte from `pos` on that is not a blank; whole blocks are looked
// at first, which the compiler turns into vector code.
std::size_t skipBlanks(std::string_view s, std::size_t pos) {
    constexpr std::size_t kBlock = 64;
    while (pos + kBlock <= s.size()) {
        unsigned filled = 0;
        for (std::size_t k = 0; k < kBlock; ++k) {
            const auto c = static_cast<unsigned char>(s[pos + k]);
            const auto fromTab = static_cast<unsigned char>(c - '\t');
            filled |=
                static_cast<unsigned>(c != ' ') & static_cast<unsigned>(fromTab > '\r' - '\t');
        }
        if (filled) break;
        pos += kBlock;
    }
    while (pos < s.size() && isBlank(s[pos])) ++pos;
    return pos;
}

// Calls f(line) for each line with more than blanks in it, in order, until f
// returns false. Reads and writes scan this way: a large file costs no line
// table, a run of blank lines is passed over in blocks of bytes rather than
// line by line, and a scan stops at the end of its section.
template <class F>
void eachFilledLine(std::string_view content, F&& f) {
    std::size_t pos = 0;
    while (pos < content.size()) {
        const std::size_t filled = skipBlanks(content, pos);
        if (filled == content.size()) return;
        // The line starts after the last break before its first filled byte.
        std::size_t start = filled;
        while (start > pos && content[start - 1] != '\r' && content[start - 1] != '\n') --start;
        const auto e = content.find_first_of("\r\n", filled);
        if (e == std::string_view::npos) {
            f(Line{content.substr(start), {}});
            return;
        }
        std::size_t brkLen =
            (content[e] == '\r' && e + 1 < content.size() && content[e + 1] == '\n') ? 2 : 1;
        if (!f(Line{content.substr(start, e - start), content.substr(e, brkLen)})) return;
        pos = e + brkLen;
    }
}

// The content's first line break, or nothing.
std::string_view firstBreak(std::string_view content) {
    const auto e = content.find_first_of("\r\n");
    if (e == std::string_view::npos) return {};
    return content.substr(e, content.compare(e, 2, "\r\n") == 0 ? 2 : 1);
}

// A section header "[name]" (up to the last ']'), or nothing.
std::optional<std::string_view> sectionName(std::string_view line) {
    const auto t = trim(line);
    if (t.empty() || t.front() != '[') return std::nullopt;
    const auto close = t.rfind(']');
    if (close == std::string_view::npos || close == 0) return std::nullopt;
    return trim(t.substr(1, close - 1));
}

struct KeyLine {
    std::string_view name;
    std::optional<std::string_view> value;
};

KeyLine keyLine(std::string_view line) {
    const auto t = trim(line);
    const auto eq = t.find('=');
    if (eq == std::string_view::npos) return {t, std::nullopt};
    return {trim(t.substr(0, eq)), trim(t.substr(eq + 1))};
}

std::string_view skipBom(std::string_view content) {
    if (content.substr(0, 3) == "\xEF\xBB\xBF") content.remove_prefix(3);
    return content;
}

struct Found {
    bool section = false;                // the section is there
    bool leading = false;                // the nameless section before any header
    std::optional<Line> lastContent;     // its header or last non-blank line
    std::optional<std::string_view> key; // the key's line (its text)
};

// Looks for a section and a key line by line, keeping what it found; lines
// are views into the content, which may be handed to it in pieces that
// each end with a line.
class Finder {
public:
    Finder(std::string_view section, std::string_view key)
        : wantSection_(trim(section)), wantKey_(trim(key)) {
        // Lines before the first header form a section without a name.
        inSection_ = found.section = found.leading = wantSection_.empty();
    }

    // False once the section has ended: the first matching section is the
    // only one read.
    bool operator()(const Line& line) {
        if (auto name = sectionName(line.text)) {
            if (inSection_) return false;
            if (sameName(*name, wantSection_)) {
                inSection_ = found.section = true;
                found.lastContent = line;
            }
            return true;
        }
        if (!inSection_) return true;
        found.lastContent = line;
        if (!found.key && sameName(keyLine(line.text).name, wantKey_)) found.key = line.text;
        return true;
    }

    Found found;

private:
    std::string_view wantSection_;
    std::string_view wantKey_;
    bool inSection_ = false;
};

Found find(std::string_view content, std::string_view section, std::string_view key) {
    Finder finder(section, key);
    eachFilledLine(content, finder);
    return finder.found;
}

// What a read gives for the key line found, if any.
std::string valueOf(std::optional<std::string_view> keyText, std::string_view defaultValue,
                    std::size_t bufferSize) {
    std::string_view value;
    // A key line without '=' has no value: it reads as missing.
    const auto found = keyText ? keyLine(*keyText).value : std::nullopt;
    if (found) {
        value = cutAtNul(*found);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
    } else {
        value = defaultValue;
        const auto e = value.find_last_not_of(' ');
        value = e == std::string_view::npos ? std::string_view{} : value.substr(0, e + 1);
    }
    if (bufferSize == 0) return {};
    if (value.size() > bufferSize - 1) value = value.substr(0, bufferSize - 1);
    return std::string(value);
}

// Whether the file can hold the write as lines that read back as it: no
// line break anywhere (a value with one would add lines of its own, other
// keys or sections), and a key line that reads as that key, not as a header.
bool canHold(std::string_view section, std::string_view key, std::string_view value) {
    for (auto text : {section, key, value})
        if (text.find_first_of("\r\n") != std::string_view::npos) return false;
    const auto name = trim(key);
    const std::string line = std::string(name) + "=" + std::string(value);
    // A key that begins with a byte order mark could become the file's
    // first bytes, which would then read as that encoding's mark.
    const bool marked = skipBom(name).size() != name.size() || name.starts_with("\xFF\xFE") ||
                        name.starts_with("\xFE\xFF");
    return name.find('=') == std::string_view::npos && !sectionName(line) && !marked;
}

} // namespace

std::string readString(std::string_view content, std::string_view section, std::string_view key,
                       std::string_view defaultValue, std::size_t bufferSize) {
    return valueOf(find(skipBom(content), section, key).key, defaultValue, bufferSize);
}

std::string writeString(std::string_view content, std::string_view section, std::string_view key,
                        std::string_view value) {
    const bool bom = content.substr(0, 3) == "\xEF\xBB\xBF";
    const auto body = skipBom(content);
    const std::string_view brk = firstBreak(body);
    const std::string_view eol = brk.empty() ? "\r\n" : brk;
    const auto f = find(body, section, key);
    const std::string keyText =
        std::string(cutAtNul(f.key ? keyLine(*f.key).name : trim(key))) + "=" + std::string(value);
    const auto at = [&](std::string_view part) {
        return static_cast<std::size_t>(part.data() - body.data());
    };

    // The file as it was, with one change: the key's line replaced, the key
    // put after the section's last non-blank line (or at the top, in a
    // nameless section with nothing in it), or the section added at the end.
    std::string out;
    out.reserve(content.size() + section.size() + keyText.size() + 3 * eol.size() + 2);
    if (bom) out += "\xEF\xBB\xBF";
    if (f.key) {
        out.append(body.substr(0, at(*f.key)));
        out += keyText;
        out.append(body.substr(at(*f.key) + f.key->size()));
    } else if (f.section && f.lastContent) {
        const Line& last = *f.lastContent;
        if (last.brk.empty()) { // the file's last line, without a break
            out.append(body);
            out += eol;
            out += keyText;
        } else {
            const std::size_t after = at(last.brk) + last.brk.size();
            out.append(body.substr(0, after));
            out += keyText;
            out += eol;
            out.append(body.substr(after));
        }
    } else {
        if (f.leading) {
            out += keyText;
            out += eol;
        }
        out.append(body);
    }
    if (!f.section) {
        if (!out.empty() && out.back() != '\n' && out.back() != '\r') out += eol;
        out += "[" + std::string(trim(section)) + "]";
        out += eol;
        out += keyText;
        out += eol;
    }
    return out;
}

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

namespace {

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
