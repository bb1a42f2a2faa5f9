// The version check and upgrade as the launcher runs them at start-up: real
// downloads from the loopback server into a scratch executable folder, the
// user's answers scripted.
#include "config/ProgramFiles.h"
#include "support/test_server.h"
#include "test_support.h"
#include "upgrade/DownloadProgress.h"
#include "upgrade/SignedUpgrade.h"
#include "upgrade/VersionCheck.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>

namespace testsupport {
extern const char kTestUpgradeKey[];
}

using testsupport::readFile;
using testsupport::writeFile;

namespace {

const std::string kEarlierCheck = "[common]\r\nversion=0.9\r\n";
const std::string kEarlierProgram = "earlier upgrade program";
const std::string kEarlierUpgradeTime = "[2020-01-01 00:00:00]";
const char kProgramHead[] = "MZ\x90\0\x03\0new upgrade program";
const std::string kProgram =
    std::string(kProgramHead, sizeof kProgramHead - 1) + std::string(4096, '\x7f');
// The scripted clock's 2024-03-05 07:08:09, counted as if it were UTC.
const std::string kStamp = "?v=1709622489";

// Lets a test look at the disk at the moment the upgrade program starts.
class WatchedPlatform : public fw::headless::HeadlessPlatform {
public:
    std::function<void()> onStart;
    // Runs once the held file has been read, before it is moved.
    std::function<void(const std::string& path)> onHold;
    bool startProcess(const std::string& commandLine) override {
        if (onStart) onStart();
        return HeadlessPlatform::startProcess(commandLine);
    }
    std::unique_ptr<fw::HeldFile> holdFile(const std::string& path) override {
        struct Watched : fw::HeldFile {
            std::unique_ptr<fw::HeldFile> held;
            std::function<void()> afterRead;
            bool read(std::string& bytes, std::size_t max) override {
                const bool ok = held->read(bytes, max);
                if (afterRead) afterRead();
                return ok;
            }
            bool moveTo(const std::string& target) override { return held->moveTo(target); }
            bool start() override { return held->start(); }
        };
        auto watched = std::make_unique<Watched>();
        watched->held = HeadlessPlatform::holdFile(path);
        if (!watched->held) return nullptr;
        if (onHold) watched->afterRead = [this, path] { onHold(path); };
        return watched;
    }
};

class VersionCheck : public ::testing::Test {
protected:
    WatchedPlatform p;
    testsupport::ScratchFolder dir;
    testsupport::ShortCurlTimeouts timeouts;
    testsupport::TestServer server;

    VersionCheck() {
        p.folder = dir.path();
        server.serveFile("upgrade.exe", kProgram);
        server.serveFile("drip.ini", std::string(100 * 1000, ';'));
        server.serveFile("big.ini", std::string(2 << 20, ';'));
        upgrade::setVersionCheckBoundsForTests({1000, 1 << 20});
    }
    ~VersionCheck() override {
        testing_support::forgetWindows();
        upgrade::setVersionCheckBoundsForTests({});
    }

    void configure(const std::string& localVersion, const std::string& checkUrl,
                   const std::string& updateUrl) {
        writeFile(dir.path() + "/launcher.ini",
                  "[common]\r\nversion=" + localVersion + "\r\nversionCheckUrl=" + checkUrl +
                      "\r\nversionUpdateUrl=" + updateUrl +
                      "\r\n[platform]\r\nloginUrl=http://127.0.0.1:1/login\r\nmainUrl=game.html\r\n"
                      "[install]\r\ninstallTime=[2001-02-03 04:05:06]\r\nupgradeTime=" +
                      kEarlierUpgradeTime + "\r\n");
    }
    void configure(const std::string& localVersion, const std::string& checkPath) {
        configure(localVersion, server.url(checkPath), server.url("/files/upgrade.exe"));
    }

    void earlierFiles() {
        std::filesystem::create_directory(dir.path() + "/update");
        writeFile(updateFile("upgrade.ini"), kEarlierCheck);
        writeFile(updateFile("upgrade.exe"), kEarlierProgram);
    }

    std::string updateFile(const std::string& name) const { return dir.path() + "/update/" + name; }

    static bool runMain() { return testing_support::runMain(); }

    std::string value(const std::string& section, const std::string& key) {
        return config::readIni("launcher.ini", section, key);
    }

    std::vector<std::string> targets() const {
        std::vector<std::string> out;
        for (const auto& r : server.requests()) out.push_back(r.target);
        return out;
    }

    // An upgrade that did not happen: logged as failed, the earlier program
    // and its time kept, nothing else left in update, nothing started, the
    // login face still up.
    void expectEarlierUpgradeKept() {
        EXPECT_EQ(value("log", "versionUpdateLog"), "load version application failed");
        EXPECT_EQ(value("install", "upgradeTime"), kEarlierUpgradeTime);
        EXPECT_EQ(readFile(updateFile("upgrade.exe")), kEarlierProgram);
        EXPECT_EQ(dir.list("update"), (std::vector<std::string>{"upgrade.exe", "upgrade.ini"}));
        EXPECT_TRUE(p.startedCommands.empty());
        EXPECT_FALSE(p.ended);
        EXPECT_EQ(p.visibleWindows().size(), 2u);
    }
};

void expectOffer(const fw::headless::MessageBoxCall& box, const std::string& remote) {
    EXPECT_EQ(box.text, "检测到程序最新版本[" + remote + "]，是否更新？");
    EXPECT_EQ(box.title, "升级提示");
    EXPECT_EQ(box.style, fw::kOkCancel);
    // Asked over the login face.
    EXPECT_EQ(box.visibleWindows.size(), 2u);
}

// --- nothing offered --------------------------------------------------------

struct Same {
    const char* local;
    const char* path;
};

void PrintTo(const Same& s, std::ostream* os) {
    *os << "local=" << s.local << " " << s.path;
}

class VersionsEqual : public VersionCheck, public ::testing::WithParamInterface<Same> {};

TEST_P(VersionsEqual, NothingIsOffered) {
    configure(GetParam().local, GetParam().path);

    EXPECT_FALSE(runMain());

    EXPECT_TRUE(p.messageBoxes.empty());
    EXPECT_EQ(value("log", "versionCheckLog"), "load version config success");
    EXPECT_EQ(value("log", "versionUpdateLog"), "");
    EXPECT_EQ(targets(), std::vector<std::string>{GetParam().path + kStamp});
    EXPECT_FALSE(std::filesystem::exists(updateFile("upgrade.exe")));
}

INSTANTIATE_TEST_SUITE_P(Texts, VersionsEqual, ::testing::Values(Same{"1.0", "/version/1.0"}));

// A version file without a version (an empty one, a page answered with 200)
// is a failed check: nothing offered, the cause in the player's log.
TEST_F(VersionCheck, AFileWithoutAVersionIsAFailedCheck) {
    p.playerLog = dir.path() + "/player/launcher.log";
    server.serveFile("portal.html", "<html><body>Welcome to the hotel</body></html>");
    for (const char* path : {"/version-empty", "/version-missing", "/files/portal.html"}) {
        configure("", path);
        EXPECT_FALSE(runMain()) << path;
        EXPECT_TRUE(p.messageBoxes.empty()) << path;
        EXPECT_EQ(value("log", "versionCheckLog"), "load version config failed") << path;
    }
    EXPECT_NE(readFile(p.playerLog).find("launcher: version file refused: no [common] version"),
              std::string::npos);
}

TEST_F(VersionCheck, ComparesWithTheLocalVersionOfTheMomentNotOfTheStart) {
    configure("1.0", "/version/2.0");
    config::loadConfig();
    configure("2.0", "/version/2.0");
    upgrade::checkVersion();
    EXPECT_TRUE(p.messageBoxes.empty());
}

// --- the request address ----------------------------------------------------

TEST_F(VersionCheck, RequestCarriesTheLocalClockSecondsEvenAfterAQuery) {
    configure("1.0", server.url("/version/1.0?channel=beta"), server.url("/files/upgrade.exe"));
    config::loadConfig();
    upgrade::checkVersion();
    p.clock.second += 1;
    upgrade::checkVersion();

    EXPECT_EQ(targets(), (std::vector<std::string>{"/version/1.0?channel=beta?v=1709622489",
                                                   "/version/1.0?channel=beta?v=1709622490"}));
    EXPECT_EQ(value("log", "versionCheckLog"), "load version config success");
}

class TimeZone {
public:
    explicit TimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~TimeZone() {
        if (old_)
            ::setenv("TZ", old_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> old_;
};

// The local date and time of now, as a desktop's clock reports it.
fw::DateTime localNow(std::time_t now) {
    std::tm tm{};
    ::localtime_r(&now, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

long long stampOf(const std::string& address) {
    return std::stoll(address.substr(address.rfind("?v=") + 3));
}

TEST(RequestAddress, CountsLocalSecondsNotUnixTime) {
    fw::headless::HeadlessPlatform p;
    const auto check = [&p](long long offset) {
        const std::time_t now = std::time(nullptr);
        p.clock = localNow(now);
        const long long v = stampOf(upgrade::requestAddress("http://h/v.ini"));
        EXPECT_NEAR(static_cast<double>(v - now), static_cast<double>(offset), 3.0);
    };
    {
        TimeZone tz("UTC");
        check(0);
    }
    {
        TimeZone tz("Asia/Shanghai");
        check(8 * 3600);
    }
    // Past the 32-bit end in 2038.
    p.clock = {2040, 1, 1, 0, 0, 0};
    EXPECT_EQ(upgrade::requestAddress("http://h/v.ini?a=1"), "http://h/v.ini?a=1?v=2208988800");
}

// --- failed downloads -------------------------------------------------------

struct Failure {
    const char* name;
    const char* path; // nullptr: a port that refuses
};

void PrintTo(const Failure& f, std::ostream* os) {
    *os << f.name;
}

const Failure kFailures[] = {
    {"NotFound", "/status/404"}, {"ServerError", "/status/500"},
    {"CutShort", "/cut"},        {"Reset", "/reset"},
    {"Stall", "/stall"},         {"Refused", nullptr},
};

class FailedDownload : public VersionCheck, public ::testing::WithParamInterface<Failure> {
protected:
    testsupport::RefusingPort refusing;
    std::string failingUrl() const {
        return GetParam().path ? server.url(GetParam().path)
                               : "http://127.0.0.1:" + std::to_string(refusing.port()) + "/x";
    }
};

// The check on its own: also for servers that only its bounds end.
class FailedCheck : public FailedDownload {};

TEST_P(FailedCheck, CheckFailsSilentlyAndKeepsTheEarlierFile) {
    configure("1.0", failingUrl(), server.url("/files/upgrade.exe"));
    earlierFiles();

    EXPECT_FALSE(runMain());

    EXPECT_TRUE(p.messageBoxes.empty());
    EXPECT_TRUE(p.progressWindows.empty()) << "the silent check shows nothing";
    EXPECT_EQ(value("log", "versionCheckLog"), "load version config failed");
    EXPECT_EQ(value("log", "versionUpdateLog"), "");
    EXPECT_EQ(readFile(updateFile("upgrade.ini")), kEarlierCheck);
    EXPECT_EQ(dir.list("update"), (std::vector<std::string>{"upgrade.exe", "upgrade.ini"}));
    EXPECT_LE(targets().size(), 1u);
    // The cause goes to the diagnostic output only.
    ASSERT_EQ(p.diagnostics.size(), 1u);
    EXPECT_EQ(p.diagnostics[0].find("download of " + failingUrl() + "?v="), 0u) << p.diagnostics[0];
}

TEST_P(FailedDownload, UpgradeFailureIsReportedAndTheLauncherGoesOn) {
    configure("1.0", server.url("/version/2.0"), failingUrl());
    earlierFiles();
    p.answers = {fw::kIdOk, fw::kIdOk};

    EXPECT_FALSE(runMain());

    ASSERT_EQ(p.messageBoxes.size(), 2u);
    expectOffer(p.messageBoxes[0], "2.0");
    EXPECT_EQ(p.messageBoxes[1].text, "升级文件下载失败，请稍候再试");
    EXPECT_EQ(p.messageBoxes[1].title, "升级提示");
    EXPECT_EQ(p.messageBoxes[1].style, fw::kOkOnly);
    ASSERT_EQ(p.progressWindows.size(), 1u);
    EXPECT_TRUE(p.progressWindows[0].destroyed);
    EXPECT_EQ(value("log", "versionCheckLog"), "load version config success");
    expectEarlierUpgradeKept();
    EXPECT_EQ(p.diagnostics.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FailedDownload, ::testing::ValuesIn(kFailures),
                         [](const auto& i) { return std::string(i.param.name); });

INSTANTIATE_TEST_SUITE_P(Kinds, FailedCheck, ::testing::ValuesIn(kFailures),
                         [](const auto& i) { return std::string(i.param.name); });
// A server that would hold the login face for as long as it sends, and version
// files over the cap: the check's bounds (a second, 1 MiB here) end them.
INSTANTIATE_TEST_SUITE_P(Unbounded, FailedCheck,
                         ::testing::Values(Failure{"Drip", "/slow-unsized/2000/drip.ini"},
                                           Failure{"Over1MiB", "/slow/20000000/big.ini"},
                                           Failure{"Over1MiBUnannounced",
                                                   "/slow-unsized/20000000/big.ini"}),
                         [](const auto& i) { return std::string(i.param.name); });

// --- the offer --------------------------------------------------------------

struct Offer {
    const char* local;
    const char* path;
    const char* shown;
};

void PrintTo(const Offer& o, std::ostream* os) {
    *os << "local=" << o.local << " " << o.path;
}

class Offered : public VersionCheck, public ::testing::WithParamInterface<Offer> {};

TEST_P(Offered, AnyDifferenceIsOfferedAndCancelKeepsEverything) {
    configure(GetParam().local, GetParam().path);
    p.answers = {fw::kIdCancel};

    EXPECT_FALSE(runMain());

    ASSERT_EQ(p.messageBoxes.size(), 1u);
    expectOffer(p.messageBoxes[0], GetParam().shown);
    EXPECT_EQ(value("log", "versionCheckLog"), "load version config success");
    EXPECT_EQ(value("log", "versionUpdateLog"), "");
    EXPECT_EQ(value("install", "upgradeTime"), kEarlierUpgradeTime);
    EXPECT_EQ(targets().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(updateFile("upgrade.exe")));
    EXPECT_FALSE(p.ended);
    EXPECT_EQ(p.visibleWindows().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Versions, Offered,
                         ::testing::Values(Offer{"1.0", "/version/2.0", "2.0"},
                                           Offer{"2.0", "/version/1.0", "1.0"},
                                           Offer{"1.0", "/version/1.0.0", "1.0.0"},
                                           Offer{"1.0a", "/version/1.0A", "1.0A"},
                                           Offer{"1.0", "/version/x", "x"}));

// --- the upgrade ------------------------------------------------------------

TEST_F(VersionCheck, UpgradeIsRecordedThenStartedThenTheLauncherEnds) {
    configure("1.0", "/version/2.0");
    earlierFiles();
    p.answers = {fw::kIdOk};
    std::string logAtStart, timeAtStart;
    bool completeAtStart = false;
    p.onStart = [&] {
        logAtStart = value("log", "versionUpdateLog");
        timeAtStart = value("install", "upgradeTime");
        completeAtStart = readFile(updateFile("upgrade.exe")) == kProgram;
    };

    EXPECT_TRUE(runMain());

    EXPECT_EQ(logAtStart, "load version application success");
    EXPECT_EQ(timeAtStart, "[2024-03-05 07:08:09]");
    EXPECT_TRUE(completeAtStart);
    EXPECT_EQ(p.startedCommands,
              std::vector<std::string>{"\"" + dir.path() + "/update/upgrade.exe\""});
    EXPECT_TRUE(p.ended);
    EXPECT_TRUE(p.visibleWindows().empty());
    EXPECT_EQ(p.messageBoxes.size(), 1u) << "no confirmation on the way out";
    EXPECT_EQ(targets(),
              (std::vector<std::string>{"/version/2.0" + kStamp, "/files/upgrade.exe" + kStamp}));
    EXPECT_EQ(readFile(updateFile("upgrade.ini")), "[common]\r\nversion=2.0\r\n");
}

TEST_F(VersionCheck, TheProgramIsStartedByItsQuotedFullPath) {
    p.folder = dir.path() + "/Program Files/游戏";
    std::filesystem::create_directories(p.folder);
    configure("1.0", "/version/2.0");
    writeFile(p.folder + "/launcher.ini", readFile(dir.path() + "/launcher.ini"));
    p.answers = {fw::kIdOk};
    EXPECT_TRUE(runMain());
    EXPECT_EQ(p.startedCommands,
              std::vector<std::string>{"\"" + p.folder + "/update/upgrade.exe\""});
}

// --- signed upgrades ----------------------------------------------------------

// The signature of `data` offered as `version`, made with the test key as
// the release tools make it.
std::string sign(const std::string& data, const testsupport::ScratchFolder& dir,
                 const std::string& version = "2.0") {
    writeFile(dir.path() + "/to-sign", upgrade::signedMessage(version, data));
    const std::string cmd = "openssl dgst -sha256 -sign " TEST_SOURCE_DIR
                            "/tests/support/upgrade_test_key.pem '" +
                            dir.path() + "/to-sign' | openssl base64 -A";
    std::unique_ptr<FILE, int (*)(FILE*)> out(::popen(cmd.c_str(), "r"), ::pclose);
    char line[2048] = {};
    if (!out || !std::fgets(line, sizeof line, out.get())) throw std::runtime_error(cmd);
    std::filesystem::remove(dir.path() + "/to-sign");
    return std::string(line);
}

// The test key compiled in, restored to the build's own (none) afterwards.
class SignedUpgrade : public VersionCheck {
protected:
    SignedUpgrade() { upgrade::setUpgradeKeyForTests(testsupport::kTestUpgradeKey); }
    ~SignedUpgrade() override { upgrade::setUpgradeKeyForTests(""); }

    // The offer of `version` whose version file carries `signature`.
    void offerSigned(const std::optional<std::string>& signature,
                     const std::string& version = "2.0", const std::string& local = "1.0") {
        server.serveFile("upgrade.ini", "[common]\r\nversion=" + version + "\r\n" +
                                            (signature ? "upgradeSignature=" + *signature + "\r\n"
                                                       : std::string()));
        configure(local, "/files/upgrade.ini");
        earlierFiles();
    }
};

TEST_F(SignedUpgrade, AValidSignatureStartsTheProgramAndLeavesNoSideFile) {
    offerSigned(sign(kProgram, dir));
    p.answers = {fw::kIdOk};

    EXPECT_TRUE(runMain());

    EXPECT_EQ(value("log", "versionUpdateLog"), "load version application success");
    EXPECT_EQ(readFile(updateFile("upgrade.exe")), kProgram);
    EXPECT_EQ(dir.list("update"), (std::vector<std::string>{"upgrade.exe", "upgrade.ini"}));
    EXPECT_EQ(p.startedCommands.size(), 1u);
}

struct Refusal {
    const char* name;
    std::function<std::optional<std::string>(const testsupport::ScratchFolder&)> signature;
};

void PrintTo(const Refusal& r, std::ostream* os) {
    *os << r.name;
}

const Refusal kRefusals[] = {
    {"OfOtherBytes", [](auto& dir) { return sign(kProgram + "!", dir); }},
    // An older program signed once, offered again as a newer version.
    {"ForAnotherVersion", [](auto& dir) { return sign(kProgram, dir, "1.5"); }},
    {"CutShort", [](auto& dir) { return sign(kProgram, dir).substr(0, 340); }},
    {"NotBase64", [](auto&) { return std::string(512, '*'); }},
};

class RefusedSignature : public SignedUpgrade, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedSignature, IsAFailedDownloadAndTheEarlierProgramStays) {
    const auto signature = GetParam().signature(dir);
    offerSigned(signature);
    p.answers = {fw::kIdOk, fw::kIdOk};

    EXPECT_FALSE(runMain());

    ASSERT_EQ(p.messageBoxes.size(), 2u);
    EXPECT_EQ(p.messageBoxes[1].text, "升级文件下载失败，请稍候再试");
    expectEarlierUpgradeKept();
    EXPECT_EQ(targets().size(), 2u);
}

// A signed build offers only a signed, newer version; anything else is no
// offer, and a version file without a signature a failed check.
TEST_F(SignedUpgrade, OffersOnlySignedNewerVersions) {
    struct Case {
        std::optional<std::string> signature;
        const char *version, *local, *checkLog;
        bool offered;
    } cases[] = {
        {std::nullopt, "2.0", "1.0", "load version config failed", false},
        {std::string(), "2.0", "1.0", "load version config failed", false},
        {"sig", "0.9", "1.0", "load version config success", false},
        {"sig", "1.0.0", "1.0", "load version config success", false},
        {"sig", "1.0a", "1.0", "load version config success", false},
        {"sig", "1.10", "1.9", "load version config success", true},
    };
    for (const Case& c : cases) {
        p.messageBoxes.clear();
        offerSigned(c.signature, c.version, c.local);
        p.answers = {fw::kIdCancel};
        EXPECT_FALSE(runMain()) << c.version;
        EXPECT_EQ(value("log", "versionCheckLog"), c.checkLog) << c.version;
        EXPECT_EQ(p.messageBoxes.size(), c.offered ? 1u : 0u) << c.version;
        EXPECT_EQ(targets().back().find("/files/upgrade.ini"), 0u) << "no program fetched";
    }
}

TEST(UpgradeVersions, NewerAsDotSeparatedNumbers) {
    struct Case {
        const char *offered, *own;
        bool newer;
    } cases[] = {
        {"1.01", "1.00", true}, {"1.10", "1.9", true},  {"2", "1.99", true},
        {"1.0.1", "1.0", true}, {"1.01", "1.1", false}, {"1.0", "1.0.0", false},
        {"0.9", "1.0", false},  {"1.1", "", false},     {"1..1", "1.0", false},
        {"1.1a", "1.0", false}, {"-2", "1", false},     {"99999999999999999999", "9", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(upgrade::isNewerVersion(c.offered, c.own), c.newer) << c.offered << " " << c.own;
}

// What is checked is what is moved and started: a file renamed over the
// checked one before the move is never started.
TEST_F(SignedUpgrade, AFileSwappedInAfterTheCheckIsNeverStarted) {
    offerSigned(sign(kProgram, dir));
    p.answers = {fw::kIdOk, fw::kIdOk};
    p.onHold = [&](const std::string& path) {
        writeFile(path + ".evil", "unsigned program");
        std::filesystem::rename(path + ".evil", path);
    };

    EXPECT_FALSE(runMain());

    expectEarlierUpgradeKept();
}

INSTANTIATE_TEST_SUITE_P(Kinds, RefusedSignature, ::testing::ValuesIn(kRefusals),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(SignedUpgrade, EachRefusalIsAnOutcomeOfItsOwn) {
    using Result = upgrade::UpgradeOutcome::Result;
    const std::string good = sign(kProgram, dir);
    struct Case {
        std::string path, signature;
        bool targetIsFolder;
        Result result;
    } cases[] = {
        {"/files/upgrade.exe", good, false, Result::Done},
        {"/files/upgrade.exe", "", false, Result::NotSigned},
        {"/files/upgrade.exe", sign(kProgram + "!", dir), false, Result::BadSignature},
        {"/files/upgrade.exe", good, true, Result::NotReplaced},
        {"/status/404", good, false, Result::Failed},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(dir.path() + "/update");
        std::filesystem::create_directories(updateFile(c.targetIsFolder ? "upgrade.exe/x" : ""));
        const auto outcome =
            upgrade::downloadVerified(server.url(c.path), "update/upgrade.exe", "2.0", c.signature,
                                      [](const std::string& a, const std::string& t) {
                                          return upgrade::downloadFile(a, t);
                                      })
                .outcome;
        EXPECT_EQ(outcome.result, c.result) << c.path << " " << c.targetIsFolder;
        EXPECT_EQ(outcome.done(), outcome.cause.empty()) << outcome.cause;
        for (const auto& name : dir.list("update")) EXPECT_EQ(name, "upgrade.exe") << "left";
    }
}

TEST_F(VersionCheck, WithoutAKeyTheSignatureIsIgnored) {
    upgrade::setUpgradeKeyForTests("");
    server.serveFile("upgrade.ini", "[common]\r\nversion=2.0\r\nupgradeSignature=bogus\r\n");
    configure("1.0", "/files/upgrade.ini");
    p.answers = {fw::kIdOk};

    EXPECT_TRUE(runMain());

    EXPECT_EQ(readFile(updateFile("upgrade.exe")), kProgram);
    EXPECT_EQ(p.startedCommands.size(), 1u);
}

TEST_F(VersionCheck, AProgramThatCannotStartIsReportedAndTheLoginFaceStays) {
    configure("1.0", "/version/2.0");
    p.answers = {fw::kIdOk, fw::kIdOk};
    p.startSucceeds = false;

    EXPECT_FALSE(runMain());

    ASSERT_EQ(p.messageBoxes.size(), 2u);
    EXPECT_EQ(p.messageBoxes[1].text, "升级程序启动失败，请到官网下载最新版本");
    EXPECT_EQ(p.messageBoxes[1].title, "升级提示");
    EXPECT_EQ(p.messageBoxes[1].style, fw::kOkOnly);
    EXPECT_EQ(p.messageBoxes[1].visibleWindows.size(), 2u);
    EXPECT_EQ(value("log", "versionUpdateLog"), "load version application success");
    EXPECT_EQ(p.startedCommands.size(), 1u);
    EXPECT_FALSE(p.ended);
    EXPECT_EQ(p.visibleWindows().size(), 2u);
}

// --- the progress window ----------------------------------------------------

namespace upgrade_progress {

const std::string kBigProgram = kProgram + std::string(1024 * 1024 - kProgram.size(), 'p');
constexpr int kRate = 400 * 1024; // bytes a second: about 2.5 s for the program

double secondsBetween(const fw::headless::ProgressRecord::Update& a,
                      const fw::headless::ProgressRecord::Update& b) {
    return std::chrono::duration<double>(b.at - a.at).count();
}

// The "NNN KB/s" of a figures line, or -1.
double speedIn(const std::string& figures) {
    const auto unit = figures.find(" KB/s");
    if (unit == std::string::npos) return -1;
    return std::stod(figures.substr(figures.rfind(' ', unit - 1) + 1));
}

class Progress : public VersionCheck, public ::testing::WithParamInterface<bool> {};

TEST_P(Progress, FiguresFollowAThrottledDownloadAndTheWindowGoesBeforeTheStart) {
    const bool sized = GetParam();
    server.serveFile("big.exe", kBigProgram);
    configure(
        "1.0", server.url("/version/2.0"),
        server.url((sized ? "/slow/" : "/slow-unsized/") + std::to_string(kRate) + "/big.exe"));
    earlierFiles();
    p.answers = {fw::kIdOk};
    bool windowGoneAtStart = false;
    p.onStart = [&] { windowGoneAtStart = p.progressWindows.at(0).destroyed; };

    EXPECT_TRUE(runMain());

    EXPECT_TRUE(windowGoneAtStart);
    EXPECT_EQ(readFile(updateFile("upgrade.exe")), kBigProgram);
    ASSERT_EQ(p.progressWindows.size(), 1u);
    const auto& w = p.progressWindows[0];
    EXPECT_EQ(w.title, "升级提示");
    EXPECT_EQ(w.text, "正在下载升级文件…");
    EXPECT_EQ(w.button, "取消");
    ASSERT_NE(w.owner, nullptr);
    EXPECT_EQ(w.owner->caption, "Varnholt登录器");
    EXPECT_EQ(w.visibleWindows.size(), 2u) << "shown over the login face";

    // A few updates a second, never more than four.
    const auto& u = w.updates;
    ASSERT_GE(u.size(), 6u);
    const double span = secondsBetween(u.front(), u.back());
    EXPECT_GE(static_cast<double>(u.size() - 1) / span, 2.0);
    for (std::size_t i = 1; i < u.size(); ++i) {
        EXPECT_GE(secondsBetween(u[i - 1], u[i]), 0.24);
        if (sized) {
            EXPECT_GE(u[i].fraction, u[i - 1].fraction);
        }
    }
    for (const auto& x : u) {
        EXPECT_EQ(x.figures.find(" / 1.0 MB") != std::string::npos, sized) << x.figures;
        EXPECT_EQ(x.figures.find("剩余 0:") != std::string::npos,
                  sized && speedIn(x.figures) > 0 && x.fraction < 1)
            << x.figures;
        if (!sized) {
            EXPECT_LT(x.fraction, 0);
        }
    }
    // Past the first second the speed is the server's, within what a busy
    // machine allows.
    const auto& late = u[u.size() / 2];
    EXPECT_NEAR(speedIn(late.figures), kRate / 1024.0, kRate / 1024.0 * 0.3) << late.figures;
    if (sized) {
        EXPECT_NEAR(late.fraction, 0.5, 0.3);
    }
}

INSTANTIATE_TEST_SUITE_P(Length, Progress, ::testing::Values(true, false),
                         [](const auto& i) { return i.param ? "Announced" : "NotAnnounced"; });

// Cancel, whatever the transfer is doing at that moment.
struct Moment {
    const char* name;
    std::string path; // of the upgrade program
    double pressAt;   // the press comes with the first update at this fraction or later
};

void PrintTo(const Moment& m, std::ostream* os) {
    *os << m.name;
}

class Cancel : public VersionCheck, public ::testing::WithParamInterface<Moment> {};

TEST_P(Cancel, KeepsTheEarlierFileLeavesNothingAndGoesOnWithoutTheFailureBox) {
    // Only the press may end a stalled transfer here.
    fw::setCurlTimeoutsForTests({});
    server.serveFile("big.exe", kBigProgram);
    configure("1.0", server.url("/version/2.0"), server.url(GetParam().path));
    earlierFiles();
    p.answers = {fw::kIdOk};
    std::optional<std::chrono::steady_clock::time_point> pressed;
    p.onProgress = [&](fw::headless::ProgressRecord& w) {
        if (!pressed && w.updates.back().fraction >= GetParam().pressAt) {
            pressed = std::chrono::steady_clock::now();
            w.press();
        }
    };

    EXPECT_FALSE(runMain());

    ASSERT_TRUE(pressed);
    EXPECT_LT(std::chrono::steady_clock::now() - *pressed, std::chrono::milliseconds(2500));
    EXPECT_EQ(p.messageBoxes.size(), 1u) << "only the offer";
    expectEarlierUpgradeKept();
    ASSERT_EQ(p.progressWindows.size(), 1u);
    EXPECT_TRUE(p.progressWindows[0].destroyed);
}

INSTANTIATE_TEST_SUITE_P(
    Moments, Cancel,
    ::testing::Values(Moment{"BeforeTheAnswer", "/stall-headers", -1},
                      Moment{"StalledInTheBody", "/stall", 0.005},
                      Moment{"MidBody", "/slow/" + std::to_string(kRate) + "/big.exe", 0.3},
                      Moment{"NearTheEnd", "/slow/" + std::to_string(kRate) + "/big.exe", 0.8}),
    [](const auto& i) { return std::string(i.param.name); });

TEST(ProgressMeter, FiguresSpeedAndTimeLeftAFewTimesASecond) {
    upgrade::ProgressMeter m;
    const auto t0 = upgrade::ProgressMeter::Clock::now();
    const auto at = [&](int ms) { return t0 + std::chrono::milliseconds(ms); };
    const std::int64_t total = 47815065; // 45.6 MB
    const std::int64_t mib = 1024 * 1024;

    auto f = m.sample(at(0), 0, total);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->text, "0.0 MB / 45.6 MB") << "no speed before it can be measured";
    EXPECT_DOUBLE_EQ(f->fraction, 0);
    EXPECT_FALSE(m.sample(at(100), mib / 10, total)) << "too soon";
    f = m.sample(at(1000), 12897485, total); // 12.3 MB after a second
    ASSERT_TRUE(f);
    EXPECT_EQ(f->text, "12.3 MB / 45.6 MB   12.3 MB/s   剩余 0:03");
    // Slow now: the early burst leaves the speed window, the time left grows.
    for (int s = 2; s <= 6; ++s) f = m.sample(at(s * 1000), 12897485 + (s - 1) * 2048, total);
    EXPECT_EQ(f->text, "12.3 MB / 45.6 MB   2 KB/s   剩余 4:44:05");
    f = m.sample(at(7000), total, total);
    EXPECT_EQ(f->text.substr(0, 17), "45.6 MB / 45.6 MB");
    EXPECT_EQ(f->text.find("剩余"), std::string::npos);
    EXPECT_DOUBLE_EQ(f->fraction, 1);

    upgrade::ProgressMeter unsized;
    unsized.sample(at(0), 0, -1);
    f = unsized.sample(at(600), 3 * mib, -1);
    EXPECT_EQ(f->text, "3.0 MB   5.0 MB/s");
    EXPECT_LT(f->fraction, 0);
}

} // namespace upgrade_progress

} // namespace
