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

} // namespace

std::string readFile(const std::string& path, std::string_view section, std::string_view key,
                     std::string_view defaultValue, std::size_t bufferSize) {
    return readString(slurp(path, false).data, section, key, defaultValue, bufferSize);
}

bool writeFile(const std::string& path, std::string_view section, std::string_view key,
               std::string_view value) {
    // Opened for writing as well: a file the launcher may not write stays as it is.
    const auto old = slurp(path, true);
    if (old.kind == Existing::kUnusable) return false;
    const std::string next = writeString(old.data, section, key, value);
    if (old.kind == Existing::kRead && old.data == next) return true;

    ReplacementFile file(path);
    return file.ok() && file.write(next.data(), next.size()) && file.commit();
}

} // namespace fw::profile
