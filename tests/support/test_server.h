// A loopback HTTP server for the download and version-check tests. It runs on
// its own thread inside the test, binds 127.0.0.1 on a free port and stops at
// destruction or at the end of its lifetime, whichever comes first. Every
// request is logged with its query as sent.
//
// Routes (tests/support/test_server.py serves the same ones for the e2e
// tests; the path is matched without the query):
//   /version/<text>    200, an INI file with [common] version=<text>
//                      (percent-decoded)
//   /version-empty     200, [common] version= (empty)
//   /version-missing   200, an INI file without [common] version
//   /status/<code>     that status with a small HTML body (404, 500, ...)
//   /redirect/<path>   302 to /<path>
//   /redirect-loop     302 to itself
//   /cut               200 announcing 1000 bytes, sends 100, closes
//   /reset             200 announcing 1000 bytes, sends 100, resets the
//                      connection
//   /stall             200 announcing 1000 bytes, sends 10, then nothing
//   /stall-headers     sends nothing at all
//   /files/<name>      what serveFile registered (else 404)
//   /slow/<rate>/<name>          that file at <rate> bytes a second, in
//                                twentieths of a second
//   /slow-unsized/<rate>/<name>  the same without a Content-Length
//   anything else      404
// Stalled connections are held until the client gives up or the server stops.
#pragma once

#include "framework/linux/curl_download.h"

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct Request {
    std::string method;
    std::string target; // path and query as sent, e.g. "/version/1.0?v=17"
};

class TestServer {
public:
    explicit TestServer(std::chrono::seconds lifetime = std::chrono::seconds(60));
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port>" + path.
    std::string url(const std::string& path) const;

    // Serves `body` with status 200 at "/files/" + name.
    void serveFile(const std::string& name, std::string body);

    std::vector<Request> requests() const;

    void stop();

private:
    void acceptLoop();
    void handle(int fd);
    bool stopping() const;

    int listenFd_ = -1;
    int wake_[2] = {-1, -1}; // written once on stop: ends every wait at once
    int port_ = 0;
    std::chrono::steady_clock::time_point deadline_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::map<std::string, std::string> files_;
    std::vector<Request> requests_;
    std::vector<std::thread> handlers_;
    std::thread acceptor_;
};

// A loopback port that refuses connections while the object lives: bound,
// never listening.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

// A fresh folder under the system's temporary folder, removed with all its
// contents at destruction.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }
    // The names of the entries in `sub` (relative to this folder), sorted.
    std::vector<std::string> list(const std::string& sub = {}) const;

private:
    std::string path_;
};

// Downloads give up within about a second while it lives, so a stalled
// server costs the test little.
struct ShortCurlTimeouts {
    ShortCurlTimeouts() { fw::setCurlTimeoutsForTests({2000, 100, 1}); }
    ~ShortCurlTimeouts() { fw::setCurlTimeoutsForTests({}); }
    ShortCurlTimeouts(const ShortCurlTimeouts&) = delete;
    ShortCurlTimeouts& operator=(const ShortCurlTimeouts&) = delete;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

} // namespace testsupport
