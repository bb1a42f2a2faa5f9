// The libcurl download against the loopback server: what lands on disk, and
// that no failure destroys the earlier file or passes for a success.
#include "framework/linux/download.h"
#include "support/test_server.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

class Download : public ::testing::Test {
protected:
    testsupport::ShortCurlTimeouts timeouts;
    testsupport::ScratchFolder dir;
    testsupport::TestServer server;

    std::string target(const std::string& name = "upgrade.ini") const {
        return dir.path() + "/" + name;
    }
};

std::string everyByte(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return s;
}

TEST_F(Download, ReplacesTheEarlierFileWithTheExactBody) {
    const std::string body = everyByte(3 * 1024 * 1024 + 17);
    server.serveFile("upgrade.exe", body);
    writeFile(target("upgrade.exe"), "earlier program");
    // The replacement keeps the earlier file's mode (a temporary file starts
    // at 0600).
    std::filesystem::permissions(target("upgrade.exe"), std::filesystem::perms(0750));

    ASSERT_TRUE(fw::curlDownload(server.url("/files/upgrade.exe"), target("upgrade.exe")).done());

    EXPECT_TRUE(readFile(target("upgrade.exe")) == body);
    EXPECT_EQ(std::filesystem::status(target("upgrade.exe")).permissions(),
              std::filesystem::perms(0750));
    EXPECT_EQ(dir.list(), std::vector<std::string>{"upgrade.exe"});
}

TEST_F(Download, NewFileIsReadableByOthersLikeAnyFile) {
    ASSERT_TRUE(fw::curlDownload(server.url("/version/2.0"), target()).done());
    EXPECT_EQ(readFile(target()), "[common]\r\nversion=2.0\r\n");
    using std::filesystem::perms;
    const perms p = std::filesystem::status(target()).permissions();
    EXPECT_NE(p & perms::owner_read, perms::none);
    EXPECT_NE(p & perms::others_read, perms::none);
}

TEST_F(Download, FollowsRedirectsAndKeepsOnlyTheFinalBody) {
    ASSERT_TRUE(fw::curlDownload(server.url("/redirect/version/3.1?v=5"), target()).done());
    EXPECT_EQ(readFile(target()), "[common]\r\nversion=3.1\r\n");
    const auto log = server.requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].target, "/redirect/version/3.1?v=5");
    EXPECT_EQ(log[1].target, "/version/3.1");
}

// How each kind of failure reaches the launcher: a failure whose code shows it
// was seen for what it is, and a cause that names it.
struct Failure {
    const char* name;
    const char* path; // on the test server; empty: a port that refuses
    int code;
    const char* cause; // a part of the cause
};

const Failure kFailures[] = {
    {"NotFound", "/status/404", CURLE_HTTP_RETURNED_ERROR, "404"},
    {"ServerError", "/status/500", CURLE_HTTP_RETURNED_ERROR, "500"},
    {"Unauthorized", "/status/401", CURLE_HTTP_RETURNED_ERROR, "401"},
    {"RedirectToNotFound", "/redirect/status/404", CURLE_HTTP_RETURNED_ERROR, "404"},
    // A final 3xx carries a body of its own; it is not the file.
    {"MultipleChoices", "/status/300", CURLE_HTTP_RETURNED_ERROR, "300"},
    {"FoundWithoutLocation", "/redirect/status/302", CURLE_HTTP_RETURNED_ERROR, "302"},
    {"RedirectLoop", "/redirect-loop", CURLE_TOO_MANY_REDIRECTS, "redirect"},
    {"CutShort", "/cut", CURLE_PARTIAL_FILE, ""},
    {"Reset", "/reset", CURLE_RECV_ERROR, ""},
    {"StallInBody", "/stall", CURLE_OPERATION_TIMEDOUT, ""},
    {"StallBeforeHeaders", "/stall-headers", CURLE_OPERATION_TIMEDOUT, ""},
    {"Refused", "", CURLE_COULDNT_CONNECT, "127.0.0.1"},
};

void PrintTo(const Failure& f, std::ostream* os) {
    *os << f.name;
}

class DownloadFailure : public Download, public ::testing::WithParamInterface<Failure> {};

TEST_P(DownloadFailure, FailsAndLeavesTheEarlierFileAlone) {
    const Failure f = GetParam();
    testsupport::RefusingPort refusing;
    const std::string url =
        *f.path ? server.url(std::string(f.path) + "?v=1")
                : "http://127.0.0.1:" + std::to_string(refusing.port()) + "/version/2.0?v=1";
    writeFile(target(), "[common]\r\nversion=1.0\r\n");

    const auto start = std::chrono::steady_clock::now();
    const fw::DownloadOutcome outcome = fw::curlDownload(url, target());
    const auto took = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(outcome.result, fw::DownloadOutcome::Result::Failed);
    EXPECT_EQ(outcome.code, f.code);
    EXPECT_NE(outcome.cause.find(f.cause), std::string::npos) << outcome.cause;
    EXPECT_FALSE(outcome.cause.empty());
    EXPECT_EQ(readFile(target()), "[common]\r\nversion=1.0\r\n");
    EXPECT_EQ(dir.list(), std::vector<std::string>{"upgrade.ini"}) << "temporary file left";
    // The stalls end by the low-speed abort, not by the server going away.
    EXPECT_LT(took, std::chrono::seconds(4));
}

INSTANTIATE_TEST_SUITE_P(Kinds, DownloadFailure, ::testing::ValuesIn(kFailures),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(Download, MissingFolderIsAFailureNotAnEmptySuccess) {
    const auto outcome =
        fw::curlDownload(server.url("/version/2.0"), dir.path() + "/update/upgrade.ini");
    EXPECT_EQ(outcome.result, fw::DownloadOutcome::Result::Failed);
    EXPECT_EQ(outcome.code, CURLE_WRITE_ERROR);
    EXPECT_TRUE(dir.list().empty());
}

TEST_F(Download, OnlyWebAddressesAreFetched) {
    writeFile(target("secret"), "local data");
    EXPECT_EQ(fw::curlDownload("file://" + target("secret"), target()).code,
              CURLE_UNSUPPORTED_PROTOCOL);
    EXPECT_FALSE(fw::curlDownload("?v=1709622489", target()).done()); // empty configured address
    EXPECT_EQ(dir.list(), std::vector<std::string>{"secret"});
}

TEST_F(Download, ACancelIsReportedByTheDownloaderItself) {
    writeFile(target(), "[common]\r\nversion=1.0\r\n");
    fw::DownloadWatch watch;
    watch.cancel = true;
    const auto outcome = fw::curlDownload(server.url("/stall"), target(), {}, &watch, [] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    EXPECT_EQ(outcome.result, fw::DownloadOutcome::Result::Cancelled);
    EXPECT_EQ(outcome.code, CURLE_ABORTED_BY_CALLBACK);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"upgrade.ini"});
}

} // namespace
