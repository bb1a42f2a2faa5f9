// The unit tests' side of the loopback test server, tests/support/test_server.py,
// which lists its routes. The server runs as a child process: started at the
// first TestServer of a test program, stopped by process id at the program's
// end. Each TestServer starts from no registered files and an empty log.
#pragma once

#include "framework/linux/download.h"
#include "support/test_files.h"

#include <string>
#include <vector>

namespace testsupport {

struct Request {
    std::string method;
    std::string target; // path and query as sent, e.g. "/version/1.0?v=17"
};

class TestServer {
public:
    TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int port() const;
    // "http://127.0.0.1:<port>" + path.
    std::string url(const std::string& path) const;

    // Serves `body` with status 200 at "/files/" + name (and the routes
    // that send a registered file).
    void serveFile(const std::string& name, const std::string& body);

    // Every request since this object was made, in arrival order.
    std::vector<Request> requests() const;
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

// Downloads give up within about a second while it lives, so a stalled
// server costs the test little.
struct ShortCurlTimeouts {
    ShortCurlTimeouts() { fw::setCurlTimeoutsForTests({2000, 100, 1}); }
    ~ShortCurlTimeouts() { fw::setCurlTimeoutsForTests({}); }
    ShortCurlTimeouts(const ShortCurlTimeouts&) = delete;
    ShortCurlTimeouts& operator=(const ShortCurlTimeouts&) = delete;
};

} // namespace testsupport
