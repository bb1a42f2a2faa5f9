#include "framework/linux/profile.h"

#include "framework/linux/profile_lines.h"

#include <algorithm>

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
    const auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return std::ranges::equal(cutAtNul(a), cutAtNul(b), {}, lower, lower);
}

// One of kBlanks.
bool isBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
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

Found find(std::string_view content, std::string_view section, std::string_view key) {
    Finder finder(section, key);
    eachFilledLine(content, finder);
    return finder.found;
}

} // namespace

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

Finder::Finder(std::string_view section, std::string_view key)
    : wantSection_(trim(section)), wantKey_(trim(key)) {
    // Lines before the first header form a section without a name.
    inSection_ = found.section = found.leading = wantSection_.empty();
}

bool Finder::operator()(const Line& line) {
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

} // namespace fw::profile
