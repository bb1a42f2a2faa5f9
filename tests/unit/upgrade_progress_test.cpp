// The progress window of the upgrade download: its figures, and Cancel at any
// moment of the transfer.
#include "upgrade/DownloadProgress.h"
#include "version_check_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

namespace {

using namespace testsupport;

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
