// The upgrade program's rules: its payload, the launcher's folder, and what
// each failure leaves behind (a scripted folder in memory).
#include "upgrader/Payload.h"
#include "upgrader/Sha256.h"
#include "upgrader/Upgrader.h"

#include <gtest/gtest.h>

#include <map>

using namespace upgrader;

namespace {

std::string le(std::uint64_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i));
    return s;
}

std::string hash(const std::string& data) {
    const auto h = sha256(data);
    return std::string(h.begin(), h.end());
}

// As tools/pack-upgrade.py writes it.
std::string packed(const std::string& launcher, const std::string& version) {
    return "PROGRAM" + launcher + version + "UPGRADE1" + le(launcher.size(), 8) +
           le(version.size(), 4) + le(0, 4) + hash(launcher);
}

} // namespace

TEST(Payload, IntactOrRefusedForEachDamage) {
    // Our own SHA-256, against published digests (one block, two blocks).
    EXPECT_EQ(hash("abc").substr(0, 4) + hash("abc").substr(28),
              std::string("\xba\x78\x16\xbf\xf2\0\x15\xad", 8));
    const auto two = hash("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq");
    EXPECT_EQ(two.substr(0, 4) + two.substr(28), "\x24\x8d\x6a\x61\x19\xdb\x06\xc1");
    const std::string good = packed("NEW LAUNCHER", "1.01");
    const auto at = [&](std::size_t fromEnd, const std::string& bytes) {
        return std::string(good).replace(good.size() - fromEnd, bytes.size(), bytes);
    };
    const std::vector<std::pair<std::string, PayloadFault>> rows = {
        {good, PayloadFault::None},
        {good.substr(0, good.size() - 1), PayloadFault::Magic},
        {good.substr(good.size() - 55), PayloadFault::Truncated},
        {good.substr(7), PayloadFault::Sizes}, // no program before it
        {at(56, "UPGRADE2"), PayloadFault::Magic},
        {at(48, le(13, 8)), PayloadFault::Hash},
        {at(48, le(20, 8)), PayloadFault::Sizes},
        {at(48, le(~0ull, 8)), PayloadFault::Sizes},
        {at(40, le(0xffffffff, 4)), PayloadFault::Sizes},
        {at(36, "\1"), PayloadFault::Sizes},
        {at(61, "X"), PayloadFault::Hash}, // the launcher's last byte
        {at(1, "\xff"), PayloadFault::Hash},
        {at(60, " "), PayloadFault::Version},
        {packed("L", ""), PayloadFault::Version},
        {packed("L", std::string(33, '1')), PayloadFault::Version},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        Payload p;
        EXPECT_EQ(readPayload(rows[i].first, p), rows[i].second) << "row " << i;
    }
    Payload p;
    readPayload(good, p);
    EXPECT_EQ(std::string(p.launcher) + "|" + std::string(p.version), "NEW LAUNCHER|1.01");
}

TEST(LauncherFolder, IsTheParentOfTheProgramsFolder) {
    const std::map<std::string, std::string> linux = {
        {"/home/p/游戏 x/update/upgrade", "/home/p/游戏 x"},
        {"/update/upgrade", "/"},
        {"/upgrade", ""},
        {"upgrade", ""}};
    const std::map<std::string, std::string> windows = {
        {"C:\\Games\\X\\update\\upgrade.exe", "C:\\Games\\X"},
        {"C:\\update\\u.exe", "C:\\"},
        {"C:\\upgrade.exe", ""}};
    for (const auto& [path, folder] : linux) EXPECT_EQ(launcherFolder(path, '/'), folder) << path;
    for (const auto& [path, folder] : windows)
        EXPECT_EQ(launcherFolder(path, '\\'), folder) << path;
}

namespace {

// A launcher folder in memory; `fail` names the step that fails.
struct ScriptedSystem final : System {
    std::map<std::string, std::string> files;
    std::string fail, told, logged;
    bool held = false;

    char separator() const override { return '/'; }
    std::string launcherName() const override { return "launcher"; }
    std::string ownPath() override { return "/g/update/upgrade"; }
    bool readFile(const std::string& path, std::string& bytes, std::string&) override {
        return files.count(path) && (bytes = files[path], true);
    }
    Claim claimFolder(const std::string&, int, std::string&) override {
        held = fail != "busy" && fail != "lock";
        return fail == "busy" ? Claim::Busy : fail == "lock" ? Claim::Failed : Claim::Free;
    }
    void releaseFolder() override { held = false; }
    bool replaceFile(const std::string& path, std::string_view bytes, std::string&) override {
        if (fail == "replace") return fail = "", false; // once: restoring works
        return files[path] = bytes, true;
    }
    bool writeVersion(const std::string& ini, const std::string& v, std::string&) override {
        return fail != "version" && (files[ini] = "version=" + v, true);
    }
    bool start(const std::string&, const std::string&, std::string&) override {
        return fail != "start" && !held;
    }
    void tell(const std::string&, const std::string& text) override { told += text; }
    void log(const std::string& line) override { logged += line + "\n"; }
};

} // namespace

TEST(UpgradeRun, ReplacesOrLeavesEverythingAsItWas) {
    const char* kept = "原登录器未改动";
    const std::vector<std::pair<std::string, std::string>> rows = {{"", ""},
                                                                   {"busy", "请先关闭"},
                                                                   {"lock", kept},
                                                                   {"damaged", "已损坏"},
                                                                   {"/g/launcher", kept},
                                                                   {"/g/launcher.ini", kept},
                                                                   {"replace", kept},
                                                                   {"version", kept},
                                                                   {"start", kept}};
    for (const auto& [fail, told] : rows) {
        ScriptedSystem s;
        s.files = {{"/g/update/upgrade", packed("NEW", "1.01")},
                   {"/g/launcher", "OLD"},
                   {"/g/launcher.ini", "version=1.00\r\n"}};
        s.fail = fail;
        if (fail == "damaged") s.files["/g/update/upgrade"][8] ^= 1;
        s.files.erase(fail); // a file that is not there
        auto expected = s.files;
        if (told.empty())
            expected["/g/launcher"] = "NEW", expected["/g/launcher.ini"] = "version=1.01";
        EXPECT_EQ(run(s, {"X", 30000}), told.empty() ? 0 : 1) << fail;
        EXPECT_EQ(s.files, expected) << fail;
        EXPECT_FALSE(s.held) << fail;
        EXPECT_EQ(s.told.empty(), told.empty()) << fail;
        EXPECT_NE(s.told.find(told), std::string::npos) << fail << ": " << s.told;
        EXPECT_EQ(s.logged.find(told.empty() ? "upgraded to 1.01" : "upgrade failed"), 0u)
            << fail << ": " << s.logged;
    }
}
