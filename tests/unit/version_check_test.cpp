// The version check at start-up: what is offered, the request address, and
// checks that fail.
#include "version_check_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>

namespace {

using namespace testsupport;

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

} // namespace
