// The version check and the upgrade as the launcher runs them at start-up:
// real downloads from the loopback server into a scratch executable folder,
// the user's answers scripted. Shared by the check, upgrade and progress tests.
#pragma once

#include "config/ProgramFiles.h"
#include "support/test_server.h"
#include "test_support.h"
#include "upgrade/VersionCheck.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace testsupport {

extern const char kTestUpgradeKey[];

inline const std::string kEarlierCheck = "[common]\r\nversion=0.9\r\n";
inline const std::string kEarlierProgram = "earlier upgrade program";
inline const std::string kEarlierUpgradeTime = "[2020-01-01 00:00:00]";
inline constexpr char kProgramHead[] = "MZ\x90\0\x03\0new upgrade program";
inline const std::string kProgram =
    std::string(kProgramHead, sizeof kProgramHead - 1) + std::string(4096, '\x7f');
// The scripted clock's 2024-03-05 07:08:09, counted as if it were UTC.
inline const std::string kStamp = "?v=1709622489";

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
    ScratchFolder dir;
    ShortCurlTimeouts timeouts;
    TestServer server;

    VersionCheck() {
        p.folder = dir.path();
        server.serveFile("upgrade.exe", kProgram);
        server.serveFile("drip.ini", std::string(100 * 1000, ';'));
        server.serveFile("big.ini", std::string(2 << 20, ';'));
        upgrade::setVersionCheckBoundsForTests({1000, 1 << 20});
    }
    ~VersionCheck() override {
        forgetWindows();
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

inline void expectOffer(const fw::headless::MessageBoxCall& box, const std::string& remote) {
    EXPECT_EQ(box.text, "检测到程序最新版本[" + remote + "]，是否更新？");
    EXPECT_EQ(box.title, "升级提示");
    EXPECT_EQ(box.style, fw::kOkCancel);
    // Asked over the login face.
    EXPECT_EQ(box.visibleWindows.size(), 2u);
}

// --- failed downloads -------------------------------------------------------

struct Failure {
    const char* name;
    const char* path; // nullptr: a port that refuses
};

inline void PrintTo(const Failure& f, std::ostream* os) {
    *os << f.name;
}

inline const Failure kFailures[] = {
    {"NotFound", "/status/404"}, {"ServerError", "/status/500"},
    {"CutShort", "/cut"},        {"Reset", "/reset"},
    {"Stall", "/stall"},         {"Refused", nullptr},
};

class FailedDownload : public VersionCheck, public ::testing::WithParamInterface<Failure> {
protected:
    RefusingPort refusing;
    std::string failingUrl() const {
        return GetParam().path ? server.url(GetParam().path)
                               : "http://127.0.0.1:" + std::to_string(refusing.port()) + "/x";
    }
};

// The check on its own: also for servers that only its bounds end.

} // namespace testsupport
