// Fuzzes the private-profile engine: arbitrary file bytes, then reads and
// writes of arbitrary sections, keys and values on a real file. Checked after
// every write: the value reads back, every other key reads as before, and the
// file holds either the whole new content or the old one, with no temporary
// file left beside it, also when the write fails part way.
#include "framework/linux/profile.h"

#include <algorithm>
#include <fuzzer/FuzzedDataProvider.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <sys/resource.h>

namespace {

constexpr std::string_view kBlanks = " \t\v\f\r\n";
constexpr std::size_t kBig = 1 << 20; // a buffer no value of the input fills
constexpr std::size_t kMaxNames = 24;

std::string_view trim(std::string_view s) {
    const auto b = s.find_first_not_of(kBlanks);
    if (b == std::string_view::npos) return {};
    return s.substr(b, s.find_last_not_of(kBlanks) - b + 1);
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    a = trim(a);
    b = trim(b);
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// What a read gives for a value written as it stands: blanks around it and
// one pair of matching quotes go.
// Names and values reach the engine as the launcher passes them, C strings
// as the platform's own profile functions take them: nothing after a NUL.
std::string cString(std::string s) {
    s.resize(std::min(s.size(), s.find('\0')));
    return s;
}

std::string readsAs(std::string_view v) {
    v = trim(v);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return std::string(v);
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The section and key names in `content`, roughly as a reader sees them; they
// only widen what "every other key" covers.
void collectNames(std::string_view content, std::vector<std::pair<std::string, std::string>>& out) {
    std::string section;
    std::size_t pos = 0;
    while (pos <= content.size() && out.size() < kMaxNames) {
        auto e = content.find_first_of("\r\n", pos);
        if (e == std::string_view::npos) e = content.size();
        const auto line = trim(content.substr(pos, e - pos));
        pos = e + 1;
        if (line.empty()) continue;
        if (line.front() == '[' && line.rfind(']') != std::string_view::npos) {
            section = cString(std::string(trim(line.substr(1, line.rfind(']') - 1))));
            continue;
        }
        out.emplace_back(section, cString(std::string(trim(line.substr(0, line.find('='))))));
    }
}

struct Scratch {
    std::filesystem::path dir;
    Scratch() {
        // tmpfs where there is one: every write is flushed to disk.
        const char* base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        std::string templ = std::string(base) + "/profile-fuzz-XXXXXX";
        if (!::mkdtemp(templ.data())) std::abort();
        dir = templ;
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

Scratch& scratch() {
    static Scratch folder;
    return folder;
}

// Prints the operation that broke an invariant, bytes escaped, and stops.
void check(bool ok, const char* what, std::string_view section = {}, std::string_view key = {},
           std::string_view value = {}) {
    if (ok) return;
    auto show = [](std::string_view s) {
        std::string out;
        for (unsigned char c : s) {
            char buf[8];
            std::snprintf(buf, sizeof buf, c < 0x20 || c > 0x7e || c == '\\' ? "\\x%02x" : "%c", c);
            out += buf;
        }
        return out;
    };
    std::fprintf(stderr, "profile invariant broken: %s\n  section \"%s\" key \"%s\" value \"%s\"\n",
                 what, show(section).c_str(), show(key).c_str(), show(value).c_str());
    std::error_code ec; // an abort runs no destructor
    std::filesystem::remove_all(scratch().dir, ec);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Past the size limit a write fails with EFBIG instead of ending the process.
    static const auto ignored = std::signal(SIGXFSZ, SIG_IGN);
    (void)ignored;
    const std::string path = (scratch().dir / "launcher.ini").string();
    FuzzedDataProvider in(data, size);

    std::string content = in.ConsumeRandomLengthString(8192);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << content;
    }
    std::vector<std::pair<std::string, std::string>> names;
    collectNames(content, names);

    auto pickName = [&](bool section) {
        if (!names.empty() && in.ConsumeBool()) {
            const auto& n = names[in.ConsumeIntegralInRange<std::size_t>(0, names.size() - 1)];
            return section ? n.first : n.second;
        }
        return cString(in.ConsumeRandomLengthString(24));
    };

    for (int op = 0; op < 16 && in.remaining_bytes() > 0; ++op) {
        const std::string section = pickName(true);
        const std::string key = pickName(false);
        if (in.ConsumeBool()) {
            // A read through the file agrees with the read of its content and
            // fits the buffer.
            const auto bufferSize = in.ConsumeIntegralInRange<std::size_t>(0, 2048);
            const std::string got = fw::profile::readFile(path, section, key, "dflt  ", bufferSize);
            check(got == fw::profile::readBytes(content, section, key, "dflt  ", bufferSize),
                  "file read differs from content read");
            check(bufferSize == 0 ? got.empty() : got.size() < bufferSize, "read overflows buffer");
            continue;
        }
        const std::string value = cString(in.ConsumeRandomLengthString(64));
        std::vector<std::string> before;
        for (const auto& [s, k] : names)
            before.push_back(fw::profile::readBytes(content, s, k, "", kBig));

        // Now and then the disk fills part way through the write: a file size
        // limit for this call only.
        const bool full = in.ConsumeBool();
        const auto room = in.ConsumeIntegralInRange<rlim_t>(0, 4096);
        rlimit unlimited{};
        getrlimit(RLIMIT_FSIZE, &unlimited);
        if (full) {
            const rlimit limit{room, unlimited.rlim_max};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        const bool written = fw::profile::writeFile(path, section, key, value);
        if (full) setrlimit(RLIMIT_FSIZE, &unlimited);

        const std::string now = slurp(path);
        const std::string next = fw::profile::rewriteBytes(content, section, key, value);
        check(std::distance(std::filesystem::directory_iterator(scratch().dir),
                            std::filesystem::directory_iterator()) == 1,
              "a temporary file was left");
        if (!written) {
            check(now == content, "a failed write changed the file");
            continue;
        }
        check(!full || next == content || next.size() <= room,
              "a write past the disk's room passed for a success", section, key, value);
        check(now == next, "torn write");
        check(fw::profile::readBytes(now, section, key, "", kBig) == readsAs(value),
              "written value does not read back", section, key, value);
        for (std::size_t i = 0; i < names.size(); ++i) {
            const auto& [s, k] = names[i];
            if (sameName(s, section) && sameName(k, key)) continue;
            check(fw::profile::readBytes(now, s, k, "", kBig) == before[i], "another key changed",
                  section, key, value);
        }
        content = now;
        if (names.size() < kMaxNames) names.emplace_back(section, key);
    }
    return 0;
}
