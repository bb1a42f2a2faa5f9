#include "framework/profile.h"

#include "framework/replacement_file.h"

#include <cstdio>
#include <optional>
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

bool sameName(std::string_view a, std::string_view b) {
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

std::vector<Line> splitLines(std::string_view content) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < content.size()) {
        const auto e = content.find_first_of("\r\n", pos);
        if (e == std::string_view::npos) {
            lines.push_back({content.substr(pos), {}});
            break;
        }
        std::size_t brkLen =
            (content[e] == '\r' && e + 1 < content.size() && content[e + 1] == '\n') ? 2 : 1;
        lines.push_back({content.substr(pos, e - pos), content.substr(e, brkLen)});
        pos = e + brkLen;
    }
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
};

Found find(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Found f;
    const auto wantSection = trim(section);
    const auto wantKey = trim(key);
    // Lines before the first header form a section without a name.
    bool inSection = wantSection.empty();
    f.section = f.leading = inSection;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (auto name = sectionName(lines[i].text)) {
            if (inSection) break; // the first matching section is the only one read
            if (sameName(*name, wantSection)) {
                inSection = true;
                f.section = true;
                f.sectionLine = f.lastContent = i;
                f.content = true;
            }
            continue;
        }
        if (!inSection || trim(lines[i].text).empty()) continue;
        f.lastContent = i;
        f.content = true;
        if (!f.key && sameName(keyLine(lines[i].text).name, wantKey)) f.key = i;
    }
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
    return name.find('=') == std::string_view::npos && !sectionName(line) &&
           skipBom(name).size() == name.size();
}

} // namespace

std::string readString(std::string_view content, std::string_view section, std::string_view key,
                       std::string_view defaultValue, std::size_t bufferSize) {
    const auto lines = splitLines(skipBom(content));
    const auto f = find(lines, section, key);
    std::string_view value;
    // A key line without '=' has no value: it reads as missing.
    const auto found = f.key ? keyLine(lines[*f.key].text).value : std::nullopt;
    if (found) {
        value = *found;
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
    const auto f = find(lines, section, key);
    const std::string keyText = std::string(f.key ? keyLine(lines[*f.key].text).name : trim(key)) +
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

std::optional<std::string> slurp(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return std::nullopt;
    std::string data;
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
    const bool bad = std::ferror(f) != 0;
    std::fclose(f);
    if (bad) return std::nullopt;
    return data;
}

} // namespace

std::string readFile(const std::string& path, std::string_view section, std::string_view key,
                     std::string_view defaultValue, std::size_t bufferSize) {
    return readString(slurp(path).value_or(std::string{}), section, key, defaultValue, bufferSize);
}

bool writeFile(const std::string& path, std::string_view section, std::string_view key,
               std::string_view value) {
    if (!canHold(section, key, value)) return false;
    const auto old = slurp(path);
    const std::string next = writeString(old.value_or(std::string{}), section, key, value);
    if (old && *old == next) return true;

    ReplacementFile file(path);
    return file.ok() && file.write(next.data(), next.size()) && file.commit();
}

} // namespace fw::profile
