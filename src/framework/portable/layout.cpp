#include "framework/portable/layout.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <limits>

namespace fw {

namespace {

struct LineError {
    int line;
    std::string why;
};

const std::array<std::string_view, 5> kKinds = {"ImageButton", "PictureBox", "WebBrowser", "Label",
                                                "Timer"};

// The length of a well-formed UTF-8 sequence at s[i], or 0.
std::size_t utf8Length(std::string_view s, std::size_t i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const auto cont = [&](std::size_t k) { return i + k < s.size() && (b(k) & 0xC0) == 0x80; };
    const unsigned char c = b(0);
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (!cont(1) || !cont(2)) return 0;
        if (c == 0xE0 && b(1) < 0xA0) return 0; // overlong
        if (c == 0xED && b(1) > 0x9F) return 0; // surrogate
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3)) return 0;
        if (c == 0xF0 && b(1) < 0x90) return 0; // overlong
        if (c == 0xF4 && b(1) > 0x8F) return 0; // past U+10FFFF
        return 4;
    }
    return 0;
}

bool isIdentStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool isIdent(char c) {
    return isIdentStart(c) || (c >= '0' && c <= '9');
}

// A cursor over one line.
class Line {
public:
    Line(std::string_view text, int number) : s_(text), n_(number) {}

    [[noreturn]] void fail(const std::string& why) const { throw LineError{n_, why}; }

    void skipBlanks() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
    }
    // The next character after blanks, '\0' at the end.
    char peek() {
        skipBlanks();
        return i_ < s_.size() ? s_[i_] : '\0';
    }
    bool atEnd() {
        skipBlanks();
        return i_ == s_.size();
    }
    void expectEnd() {
        if (!atEnd()) fail("unexpected \"" + std::string(s_.substr(i_)) + "\"");
    }
    bool accept(char c) {
        skipBlanks();
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    void expect(char c, const char* what) {
        if (!accept(c)) fail(std::string("expected ") + what);
    }
    std::string_view ident(const char* what) {
        skipBlanks();
        const std::size_t start = i_;
        if (i_ < s_.size() && isIdentStart(s_[i_]))
            while (i_ < s_.size() && isIdent(s_[i_])) ++i_;
        if (i_ == start) fail(std::string("expected ") + what);
        return s_.substr(start, i_ - start);
    }
    // Decimal (optionally negative, within 32 bits) or 0x hexadecimal (the
    // bits of a 32-bit integer, as colours are written).
    std::int32_t integer(const char* what) {
        skipBlanks();
        const std::size_t start = i_;
        while (i_ < s_.size() && (isIdent(s_[i_]) || s_[i_] == '-')) ++i_;
        const std::string_view tok = s_.substr(start, i_ - start);
        const bool hex = tok.size() > 2 && tok[0] == '0' && (tok[1] == 'x' || tok[1] == 'X');
        std::int64_t v = 0;
        const char* first = tok.data() + (hex ? 2 : 0);
        const char* last = tok.data() + tok.size();
        const auto r = std::from_chars(first, last, v, hex ? 16 : 10);
        const std::int64_t hi = hex ? 0xFFFFFFFF : std::numeric_limits<std::int32_t>::max();
        if (tok.empty() || (hex && tok[2] == '-') || r.ec != std::errc{} || r.ptr != last ||
            v > hi || v < std::numeric_limits<std::int32_t>::min())
            fail(std::string("expected ") + what + " (a 32-bit integer), not \"" +
                 std::string(tok) + "\"");
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    }
    std::int32_t integerIn(const char* what, std::int32_t lo, std::int32_t hi) {
        const std::int32_t v = integer(what);
        if (v < lo || v > hi)
            fail(std::string(what) + " " + std::to_string(v) + " out of range " +
                 std::to_string(lo) + " to " + std::to_string(hi));
        return v;
    }
    double number(const char* what) {
        skipBlanks();
        double v = 0;
        const auto r = std::from_chars(s_.data() + i_, s_.data() + s_.size(), v);
        if (r.ec != std::errc{}) fail(std::string("expected ") + what);
        i_ = static_cast<std::size_t>(r.ptr - s_.data());
        return v;
    }
    std::string quoted() {
        expect('"', "a string in double quotes");
        std::string out;
        for (;;) {
            if (i_ >= s_.size()) fail("string without its closing quote");
            const char c = s_[i_++];
            if (c == '"') return out;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size()) fail("string without its closing quote");
            switch (const char e = s_[i_++]) {
            case '"':
            case '\\': out += e; break;
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            default: fail(std::string("unknown escape \"\\") + e + "\" in a string");
            }
        }
    }

private:
    std::string_view s_;
    int n_;
    std::size_t i_ = 0;
};

FontRef parseFont(Line& in) {
    in.expect('(', "\"(\" after font");
    auto f = std::make_shared<Font>();
    f->face = in.quoted();
    if (f->face.empty()) in.fail("font face is empty");
    in.expect(',', "\",\" and the font size");
    f->size = in.number("a font size in points");
    if (!(f->size > 0 && f->size <= 2048)) in.fail("font size out of range (0 to 2048 points)");
    in.expect(',', "\",\" and the font weight");
    f->weight = in.integerIn("font weight", 0, 1000);
    in.expect(',', "\",\" and the character set");
    f->charset = in.integerIn("character set", 0, 255);
    while (in.accept(',')) {
        const std::string_view style = in.ident("a font style");
        if (style == "italic")
            f->italic = true;
        else if (style == "underline")
            f->underline = true;
        else if (style == "strikethrough")
            f->strikethrough = true;
        else
            in.fail("unknown font style \"" + std::string(style) + "\"");
    }
    in.expect(')', "\")\" after the font");
    return f;
}

PictureRef parsePicture(Line& in, const PictureLoader& pictures) {
    in.expect('(', "\"(\" after bmp");
    const int id = in.integerIn("resource id", 1, 65535);
    in.expect(')', "\")\" after the resource id");
    try {
        PictureRef p = pictures(id);
        if (!p) in.fail("bmp(" + std::to_string(id) + "): no picture");
        return p;
    } catch (const std::exception& e) {
        in.fail("bmp(" + std::to_string(id) + "): " + e.what());
    }
}

PropertyBag::Value value(Line& in, const PictureLoader& pictures) {
    const char c = in.peek();
    if (c == '\0') in.fail("missing value after \"=\"");
    if (c == '"') return in.quoted();
    if (!isIdentStart(c)) return in.integer("a value");
    const std::string_view word = in.ident("a value");
    if (word == "true") return BagBool{-1};
    if (word == "false") return BagBool{0};
    if (word == "font") return parseFont(in);
    if (word == "bmp") return parsePicture(in, pictures);
    in.fail("unknown value \"" + std::string(word) + "\"");
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// One line of an entry.
void entryLine(LayoutControl& c, Line& in, const Layout& done, const PictureLoader& pictures) {
    const std::string_view word = in.ident("a property or \"rect\", \"tabindex\", \"index\"");
    if (in.peek() == '=') {
        if (c.properties.find(word)) in.fail("property \"" + std::string(word) + "\" given twice");
        in.expect('=', "\"=\"");
        PropertyBag::Value v = value(in, pictures);
        in.expectEnd();
        c.properties.set(word, std::move(v));
        return;
    }
    const auto once = [&](bool given) {
        if (given) in.fail("\"" + std::string(word) + "\" given twice");
    };
    constexpr int kMax = std::numeric_limits<std::int32_t>::max();
    constexpr int kMin = std::numeric_limits<std::int32_t>::min();
    if (word == "rect") {
        once(c.rect.has_value());
        Rect r;
        r.left = in.integerIn("left", kMin / 2, kMax / 2);
        r.top = in.integerIn("top", kMin / 2, kMax / 2);
        r.width = in.integerIn("width", 0, kMax / 2);
        r.height = in.integerIn("height", 0, kMax / 2);
        c.rect = r;
    } else if (word == "tabindex") {
        once(c.tabIndex.has_value());
        c.tabIndex = in.integerIn("tab index", 0, 32767);
    } else if (word == "index") {
        once(c.index.has_value());
        c.index = in.integerIn("group index", 0, 32767);
    } else if (word == "container") {
        once(!c.container.empty());
        c.container = in.ident("a control name");
        if (!done.find(c.container)) in.fail("container \"" + c.container + "\" not defined above");
    } else {
        in.fail("unknown line \"" + std::string(word) + "\" (a property needs \"=\")");
    }
    in.expectEnd();
}

} // namespace

const LayoutControl* Layout::find(std::string_view name, std::optional<int> index) const {
    for (const auto& c : controls)
        if (c.name == name && c.index == index) return &c;
    return nullptr;
}

Layout parseLayout(std::string_view text, const PictureLoader& pictures) {
    Layout out;
    const auto error = [&](const LineError& e) {
        out.errors.push_back("line " + std::to_string(e.line) + ": " + e.why);
    };
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

    // Split into lines; the whole file is refused for bytes that are not
    // UTF-8 text.
    std::vector<std::string_view> lines;
    int n = 1;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            std::string_view l = text.substr(start, i - start);
            if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
            lines.push_back(l);
            start = ++i;
            ++n;
            continue;
        }
        const std::size_t len = utf8Length(text, i);
        if (len == 0 ||
            (c < 0x20 && c != '\t' && !(c == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))) {
            error({n, len == 0 ? "not UTF-8 text" : "control character in the text"});
            return out;
        }
        i += len;
    }
    lines.push_back(text.substr(start));

    std::size_t i = 0;
    const auto skipComments = [&] {
        while (i < lines.size()) {
            const std::string_view t = trim(lines[i]);
            if (!t.empty() && t.front() != '#') break;
            ++i;
        }
    };

    // The header: format name and version.
    try {
        skipComments();
        if (i == lines.size()) throw LineError{n, "empty layout (no \"layout 1\" line)"};
        Line in(lines[i], static_cast<int>(i) + 1);
        if (in.ident("\"layout\" and the format version") != "layout")
            in.fail("expected \"layout\" and the format version first");
        const int version = in.integer("the format version");
        in.expectEnd();
        if (version != kLayoutVersion)
            in.fail("layout version " + std::to_string(version) + " is not supported (" +
                    std::to_string(kLayoutVersion) + " is)");
        ++i;
        skipComments();
        if (i < lines.size()) {
            Line first(lines[i], static_cast<int>(i) + 1);
            if (first.ident("\"control\"") != "control") first.fail("expected \"control\"");
        }
    } catch (const LineError& e) {
        error(e);
        return out;
    }

    // Entries: from one "control" line to the next.
    while (i < lines.size()) {
        LayoutControl c;
        c.line = static_cast<int>(i) + 1;
        bool ok = true;
        try {
            Line in(lines[i], c.line);
            (void)in.ident("\"control\"");
            c.name = in.ident("a control name");
            const std::string_view kind = in.ident("a control kind");
            in.expectEnd();
            bool known = false;
            for (auto k : kKinds) known = known || k == kind;
            if (!known) in.fail("unknown control kind \"" + std::string(kind) + "\"");
            c.kind = kind;
        } catch (const LineError& e) {
            error(e);
            ok = false;
        }
        for (++i; i < lines.size(); ++i) {
            const std::string_view t = trim(lines[i]);
            if (t.empty() || t.front() == '#') continue;
            if (t.starts_with("control") && (t.size() == 7 || t[7] == ' ' || t[7] == '\t')) break;
            Line in(lines[i], static_cast<int>(i) + 1);
            if (!ok) continue; // the rest of a refused entry
            try {
                entryLine(c, in, out, pictures);
            } catch (const LineError& e) {
                error(e);
                ok = false;
            }
        }
        if (!ok) continue;
        try {
            if (!c.rect && c.kind != "Timer")
                throw LineError{c.line, "control \"" + c.name + "\" has no rect"};
            if (out.find(c.name, c.index))
                throw LineError{c.line, "control \"" + c.name + "\" given twice"};
            out.controls.push_back(std::move(c));
        } catch (const LineError& e) {
            error(e);
        }
    }
    return out;
}

} // namespace fw
