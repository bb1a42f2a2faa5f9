#include "framework/profile.h"

#include "framework/replacement_file.h"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

// Calls f(index, line) for each line in order until f returns false; reads
// scan this way, so that a large file costs no line table and a read stops at
// the end of its section.
template <class F>
void eachLine(std::string_view content, F&& f) {
    std::size_t pos = 0;
    for (std::size_t i = 0; pos < content.size(); ++i) {
        const auto e = content.find_first_of("\r\n", pos);
        if (e == std::string_view::npos) {
            f(i, Line{content.substr(pos), {}});
            return;
        }
        std::size_t brkLen =
            (content[e] == '\r' && e + 1 < content.size() && content[e + 1] == '\n') ? 2 : 1;
        if (!f(i, Line{content.substr(pos, e - pos), content.substr(e, brkLen)})) return;
        pos = e + brkLen;
    }
}

std::vector<Line> splitLines(std::string_view content) {
    std::vector<Line> lines;
    eachLine(content, [&](std::size_t, const Line& l) {
        lines.push_back(l);
        return true;
    });
    return lines;
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
    bool section = false;
    std::size_t sectionLine = 0;    // header line index
    std::size_t lastContent = 0;    // last non-blank line of the section
    bool content = false;           // the section has a non-blank line
    bool leading = false;           // the nameless section before any header
    std::optional<std::size_t> key; // line index of the key
    std::string_view keyText;       // and its text
};

Found find(std::string_view content, std::string_view section, std::string_view key) {
    Found f;
    const auto wantSection = trim(section);
    const auto wantKey = trim(key);
    // Lines before the first header form a section without a name.
    bool inSection = wantSection.empty();
    f.section = f.leading = inSection;
    eachLine(content, [&](std::size_t i, const Line& line) {
        if (auto name = sectionName(line.text)) {
            if (inSection) return false; // the first matching section is the only one read
            if (sameName(*name, wantSection)) {
                inSection = true;
                f.section = true;
                f.sectionLine = f.lastContent = i;
                f.content = true;
            }
            return true;
        }
        if (!inSection || trim(line.text).empty()) return true;
        f.lastContent = i;
        f.content = true;
        if (!f.key && sameName(keyLine(line.text).name, wantKey)) {
            f.key = i;
            f.keyText = line.text;
        }
        return true;
    });
    return f;
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
    const auto f = find(skipBom(content), section, key);
    std::string_view value;
    // A key line without '=' has no value: it reads as missing.
    const auto found = f.key ? keyLine(f.keyText).value : std::nullopt;
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

std::string writeString(std::string_view content, std::string_view section, std::string_view key,
                        std::string_view value) {
    const bool bom = content.substr(0, 3) == "\xEF\xBB\xBF";
    const auto body = skipBom(content);
    const auto lines = splitLines(body);
    std::string_view eol = "\r\n";
    for (const auto& l : lines)
        if (!l.brk.empty()) {
            eol = l.brk;
            break;
        }
    const auto f = find(body, section, key);
    const std::string keyText = std::string(cutAtNul(f.key ? keyLine(f.keyText).name : trim(key))) +
                                "=" + std::string(value);

    std::string out = bom ? "\xEF\xBB\xBF" : "";
    if (f.leading && !f.key && !f.content) {
        out += keyText;
        out += eol;
    }
    auto emit = [&](std::string_view text, std::string_view brk) {
        out += text;
        out += brk;
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const bool last = i + 1 == lines.size();
        if (f.key && *f.key == i) {
            emit(keyText, lines[i].brk);
            continue;
        }
        if (f.section && !f.key && f.content && f.lastContent == i) {
            emit(lines[i].text, lines[i].brk.empty() ? eol : lines[i].brk);
            emit(keyText, last ? std::string_view{} : eol);
            if (last && !lines[i].brk.empty()) out += eol;
            continue;
        }
        emit(lines[i].text, lines[i].brk);
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
        out.data.reserve(static_cast<std::size_t>(st.st_size));
        char buf[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) {
                out.data.append(buf, static_cast<std::size_t>(n));
            } else if (n == 0) {
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

std::string asText(const std::string& data) {
    const auto order = utf16Mark(data);
    return order == Utf16::kNone ? data : fromUtf16(data, order);
}

} // namespace

std::string readBytes(const std::string& bytes, std::string_view section, std::string_view key,
                      std::string_view defaultValue, std::size_t bufferSize) {
    return readString(asText(bytes), section, key, defaultValue, bufferSize);
}

std::string rewriteBytes(const std::string& bytes, std::string_view section, std::string_view key,
                         std::string_view value) {
    const auto order = utf16Mark(bytes);
    std::string next = writeString(asText(bytes), section, key, value);
    return order == Utf16::kNone ? next : toUtf16(next, order);
}

std::string readFile(const std::string& path, std::string_view section, std::string_view key,
                     std::string_view defaultValue, std::size_t bufferSize) {
    return readBytes(slurp(path, false).data, section, key, defaultValue, bufferSize);
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
