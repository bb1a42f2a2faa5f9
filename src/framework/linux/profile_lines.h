// Inside the INI engine (profile.h), not part of its interface: the line
// scanner that the text versions (profile.cpp) and the file versions
// (profile_file.cpp) share.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace fw::profile {

struct Line {
    std::string_view text; // without its line break
    std::string_view brk;  // "\r\n", "\n", "\r" or empty at the end
};

// The first byte from `pos` on that is not a blank; whole blocks are looked
// at first, which the compiler turns into vector code.
std::size_t skipBlanks(std::string_view s, std::size_t pos);

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
    Finder(std::string_view section, std::string_view key);

    // False once the section has ended: the first matching section is the
    // only one read.
    bool operator()(const Line& line);

    Found found;

private:
    std::string_view wantSection_;
    std::string_view wantKey_;
    bool inSection_ = false;
};

// What a read gives for the key line found, if any.
std::string valueOf(std::optional<std::string_view> keyText, std::string_view defaultValue,
                    std::size_t bufferSize);

// Whether the file can hold the write as lines that read back as it: no
// line break anywhere (a value with one would add lines of its own, other
// keys or sections), and a key line that reads as that key, not as a header.
bool canHold(std::string_view section, std::string_view key, std::string_view value);

} // namespace fw::profile
