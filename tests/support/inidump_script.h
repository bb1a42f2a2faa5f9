// The script both INI dumpers run: one operation a line, every text field in
// hex ("." for empty), so that any byte reaches the engine unchanged.
//   R file section key default  -> "R <count> <hex value>"
//   W file section key value    -> "W <0|1>"
//   E file                      -> "E <0|1>"
// File names are relative to the base folder given on the command line.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace inidump {

inline std::string unhex(const std::string& h) {
    if (h == ".") return {};
    std::string out;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16)));
    return out;
}

inline std::string hex(const std::string& s) {
    if (s.empty()) return ".";
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

struct Engine {
    std::function<std::string(const std::string& file, const std::string& section,
                              const std::string& key, const std::string& def)>
        read;
    std::function<bool(const std::string& file, const std::string& section, const std::string& key,
                       const std::string& value)>
        write;
    std::function<bool(const std::string& file)> exists;
};

// Runs the script; false when a file cannot be opened.
inline bool run(const char* scriptPath, const char* outPath, const Engine& engine) {
    std::FILE* in = std::fopen(scriptPath, "rb");
    if (!in) return false;
    std::FILE* out = std::fopen(outPath, "wb");
    if (!out) {
        std::fclose(in);
        return false;
    }
    char line[16384];
    while (std::fgets(line, sizeof line, in)) {
        std::vector<std::string> f;
        std::string cur;
        for (const char* p = line; *p && *p != '\n' && *p != '\r'; ++p) {
            if (*p == ' ') {
                f.push_back(cur);
                cur.clear();
            } else {
                cur.push_back(*p);
            }
        }
        f.push_back(cur);
        if (f[0] == "R" && f.size() == 5) {
            const std::string v = engine.read(unhex(f[1]), unhex(f[2]), unhex(f[3]), unhex(f[4]));
            std::fprintf(out, "R %zu %s\n", v.size(), hex(v).c_str());
        } else if (f[0] == "W" && f.size() == 5) {
            std::fprintf(out, "W %d\n",
                         engine.write(unhex(f[1]), unhex(f[2]), unhex(f[3]), unhex(f[4])) ? 1 : 0);
        } else if (f[0] == "E" && f.size() == 2) {
            std::fprintf(out, "E %d\n", engine.exists(unhex(f[1])) ? 1 : 0);
        } else {
            std::fprintf(out, "? bad line\n");
        }
    }
    std::fclose(in);
    return std::fclose(out) == 0;
}

} // namespace inidump
