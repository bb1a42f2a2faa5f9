#include "config/Clock.h"
#include "config/ProgramFiles.h"
#include "test_support.h"

#include <regex>

namespace {

using testsupport::LauncherTest;

class Config : public LauncherTest {};

TEST_F(Config, ProgramPathJoinsWithOneSeparator) {
    p.folder = "/opt/game";
    EXPECT_EQ(config::programPath("launcher.ini"), "/opt/game/launcher.ini");
    p.folder = "/";
    EXPECT_EQ(config::programPath("launcher.ini"), "/launcher.ini");
}

TEST_F(Config, ReadsEveryFieldAndStampsInstallTimeOnce) {
    writeConfig(
        "[common]\nversion=1.00\nversionCheckUrl=http://v/check\nversionUpdateUrl=http://v/up\n"
        "[platform]\nloginUrl=http://l\nmainUrl=game\nhomeUrl=h\nchargeUrl=c\n"
        "serviceUrl=s\nforumUrl=f\n");
    config::loadConfig();
    const auto& c = config::appConfig();
    EXPECT_EQ(c.version, "1.00");
    EXPECT_EQ(c.versionCheckUrl, "http://v/check");
    EXPECT_EQ(c.versionUpdateUrl, "http://v/up");
    EXPECT_EQ(c.loginUrl, "http://l");
    EXPECT_EQ(c.mainUrl, "game");
    EXPECT_EQ(c.homeUrl, "h");
    EXPECT_EQ(c.chargeUrl, "c");
    EXPECT_EQ(c.serviceUrl, "s");
    EXPECT_EQ(c.forumUrl, "f");
    EXPECT_EQ(config::readIni("launcher.ini", "install", "installTime"), "[2024-03-05 07:08:09]");

    // Later starts leave the first stamp alone.
    p.clock = {2030, 12, 31, 23, 59, 58};
    config::loadConfig();
    EXPECT_EQ(config::readIni("launcher.ini", "install", "installTime"), "[2024-03-05 07:08:09]");
    EXPECT_EQ(config().find("[common]\nversion=1.00\n"), 0u); // the rest is untouched
}

TEST_F(Config, LoginUrlMustContainLowerCaseHttp) {
    struct Case {
        const char* value;
        const char* kept;
    } cases[] = {{"http://x", "http://x"},
                 {"HTTP://X", ""},
                 {"Http://x", ""},
                 {"see http in the middle", "see http in the middle"},
                 {"https://x", "https://x"},
                 {"ftp://x", ""},
                 {"", ""}};
    for (const auto& c : cases) {
        writeConfig(std::string("[platform]\nloginUrl=") + c.value + "\n");
        config::loadConfig();
        EXPECT_EQ(config::appConfig().loginUrl, c.kept) << c.value;
    }
}

TEST_F(Config, BrokenConfigurationShowsItsMessageOverTheWindowsAndEnds) {
    p.answers = {fw::kIdOk};
    EXPECT_TRUE(runMain());
    EXPECT_TRUE(p.ended);
    ASSERT_EQ(p.messageBoxes.size(), 1u);
    const auto& box = p.messageBoxes[0];
    EXPECT_EQ(box.text, "程序配置文件已损坏，请到官网重新下载");
    EXPECT_EQ(box.title, "系统提示");
    EXPECT_EQ(box.style, fw::kOkOnly);
    // Both windows of the login face were up when the box came.
    EXPECT_EQ(box.visibleWindows.size(), 2u);
    // A missing file is created with the one stamp; nothing else is written:
    // no version check ran.
    EXPECT_TRUE(std::regex_match(
        config(),
        std::regex(R"(\[install\]\r\ninstallTime=\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\]\r\n)")))
        << config();
    EXPECT_TRUE(p.visibleWindows().empty());
}

// A file with NUL bytes and no byte order mark (UTF-16 saved without one) is
// broken: the start says so and leaves every byte of it as it was.
TEST_F(Config, AFileWithNulBytesIsBrokenAndNeverWritten) {
    const std::string text = "[platform]\r\nloginUrl=http://x\r\n";
    for (const std::string& bytes : {text + '\0' + "\r\n", std::string("\0", 1) + text}) {
        writeConfig(bytes);
        config::loadConfig();
        EXPECT_EQ(config::appConfig().loginUrl, "");
        EXPECT_EQ(config(), bytes) << "written to";
    }
    writeConfig(text);
    config::loadConfig();
    EXPECT_EQ(config::appConfig().loginUrl, "http://x") << "the same text without NUL bytes";
}

TEST_F(Config, ValuesAreReturnedWholeAndCut) {
    const std::string chinese = "版本\xB0\xE6";
    writeConfig("[common]\nversion=" + chinese + "\nversionCheckUrl=" + std::string(2000, 'u') +
                "\n");
    config::loadConfig();
    EXPECT_EQ(config::appConfig().version, chinese);
    EXPECT_EQ(config::appConfig().versionCheckUrl.size(), 1024u);
}

TEST_F(Config, EnsureFolderCreatesOnlyTheFirstLevel) {
    const auto before = scratch.list();
    config::ensureFolder("launcher.ini");
    EXPECT_EQ(scratch.list(), before);
    config::ensureFolder("update/upgrade.ini");
    testsupport::writeFile(dir / "update" / "kept", "");
    config::ensureFolder("update/upgrade.ini");
    EXPECT_TRUE(std::filesystem::exists(dir / "update" / "kept"));
    config::ensureFolder("a/b/c.ini");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "a"));
    EXPECT_FALSE(std::filesystem::exists(dir / "a" / "b"));
    // A file of that name counts as existing, and so does a dangling link:
    // both stay as they are.
    testsupport::writeFile(dir / "taken", "");
    config::ensureFolder("taken/x.ini");
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / "taken"));
    std::filesystem::create_symlink(dir / "nowhere", dir / "dangling");
    config::ensureFolder("dangling/x.ini");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "dangling"));
    EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));
}

TEST_F(Config, WriteIniIntoAMissingFolderCreatesIt) {
    EXPECT_NE(config::writeIni("update/upgrade.ini", "common", "version", "9"), 0);
    EXPECT_EQ(config::readIni("update/upgrade.ini", "common", "version"), "9");
}

TEST(TimeStamp, FormatsWithLeadingZerosAndCountsLocalSeconds) {
    EXPECT_EQ(config::formatTimeStamp({2024, 3, 5, 7, 8, 9}), "[2024-03-05 07:08:09]");
    EXPECT_EQ(config::formatTimeStamp({1999, 12, 31, 23, 59, 59}), "[1999-12-31 23:59:59]");
    EXPECT_EQ(config::secondsSince1970({1970, 1, 1, 0, 0, 0}), 0);
    EXPECT_EQ(config::secondsSince1970({2024, 3, 5, 7, 8, 9}), 1709622489);
    EXPECT_EQ(config::secondsSince1970({2000, 2, 29, 12, 0, 0}), 951825600);
    // Past the 32-bit limit.
    EXPECT_EQ(config::secondsSince1970({2038, 1, 19, 3, 14, 8}), 2147483648LL);
    EXPECT_EQ(config::secondsSince1970({2106, 2, 7, 6, 28, 16}), 4294967296LL);
}

} // namespace
