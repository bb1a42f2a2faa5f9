// The upgrade after an accepted offer: the download, its signature, the
// program's start, and downloads that fail.
#include "upgrade/SignedUpgrade.h"
#include "version_check_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

namespace {

using namespace testsupport;

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
std::string sign(const std::string& data, const ScratchFolder& dir,
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
    SignedUpgrade() { upgrade::setUpgradeKeyForTests(kTestUpgradeKey); }
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
    std::function<std::optional<std::string>(const ScratchFolder&)> signature;
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

} // namespace
