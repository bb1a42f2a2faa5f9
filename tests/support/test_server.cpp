#include "support/test_server.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {

// Waits end at once on stop (the wake pipe); the slice only bounds how late
// the end of the lifetime is noticed.
constexpr int kSliceMs = 200;
constexpr auto kRequestWait = std::chrono::seconds(5);
constexpr std::size_t kMaxRequest = 64 * 1024;

int loopbackSocket(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("bind to loopback failed");
    }
    port = ntohs(addr.sin_port);
    return fd;
}

std::string reason(int status) {
    switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

std::string head(int status, std::size_t length, const std::string& type,
                 const std::string& extra = {}) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason(status) +
           "\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(length) + "\r\n" +
           extra + "Connection: close\r\n\r\n";
}

std::string errorPage(int status) {
    return "<html><head><title>" + std::to_string(status) + " " + reason(status) +
           "</title></head><body><h1>" + reason(status) + "</h1></body></html>\n";
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "%41" becomes "A"; a malformed escape stays as it stands.
std::string percentDecode(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hexDigit(s[i + 1]) >= 0 && hexDigit(s[i + 2]) >= 0) {
            out += static_cast<char>(hexDigit(s[i + 1]) * 16 + hexDigit(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

TestServer::TestServer(std::chrono::seconds lifetime)
    : deadline_(std::chrono::steady_clock::now() + lifetime) {
    listenFd_ = loopbackSocket(port_);
    if (::listen(listenFd_, 16) != 0 || ::pipe2(wake_, O_CLOEXEC) != 0) {
        ::close(listenFd_);
        throw std::runtime_error("listen failed");
    }
    acceptor_ = std::thread([this] { acceptLoop(); });
}

TestServer::~TestServer() {
    stop();
}

std::string TestServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void TestServer::serveFile(const std::string& name, std::string body) {
    std::lock_guard lock(mutex_);
    files_["/files/" + name] = std::move(body);
}

std::vector<Request> TestServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool TestServer::stopping() const {
    return stop_ || std::chrono::steady_clock::now() > deadline_;
}

void TestServer::stop() {
    if (stop_.exchange(true)) return;
    (void)!::write(wake_[1], "x", 1);
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::thread> handlers;
    {
        std::lock_guard lock(mutex_);
        handlers.swap(handlers_);
    }
    for (auto& t : handlers) t.join();
    for (int fd : {listenFd_, wake_[0], wake_[1]})
        if (fd >= 0) ::close(fd);
}

void TestServer::acceptLoop() {
    while (!stopping()) {
        pollfd p[2] = {{listenFd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(p, 2, kSliceMs) <= 0 || !(p[0].revents & POLLIN)) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        handlers_.emplace_back([this, fd] { handle(fd); });
    }
}

namespace {

// The connection's side of one exchange; every wait is cut into slices so
// that a stopping server is never held up by a silent client.
class Connection {
public:
    Connection(int fd, int wake, const std::atomic<bool>& stop,
               std::chrono::steady_clock::time_point deadline)
        : fd_(fd), wake_(wake), stop_(stop), deadline_(deadline) {}
    ~Connection() {
        if (fd_ >= 0) ::close(fd_);
    }

    bool stopping() const { return stop_ || std::chrono::steady_clock::now() > deadline_; }

    // True when the socket is ready for `events` within one slice.
    bool ready(short events) const {
        pollfd p[2] = {{fd_, events, 0}, {wake_, POLLIN, 0}};
        return ::poll(p, 2, kSliceMs) > 0 && p[0].revents != 0;
    }

    // The request head, or empty text when none came in time.
    std::string readHead() {
        std::string data;
        const auto giveUp = std::chrono::steady_clock::now() + kRequestWait;
        while (data.find("\r\n\r\n") == std::string::npos && data.size() < kMaxRequest) {
            if (stopping() || std::chrono::steady_clock::now() > giveUp) return {};
            if (!ready(POLLIN)) continue;
            char buf[4096];
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n == 0) return {};
            if (n < 0) {
                if (errno == EAGAIN || errno == EINTR) continue;
                return {};
            }
            data.append(buf, static_cast<std::size_t>(n));
        }
        return data;
    }

    bool send(const std::string& data) {
        std::size_t off = 0;
        while (off < data.size()) {
            if (stopping()) return false;
            if (!ready(POLLOUT)) continue;
            const ssize_t n = ::send(fd_, data.data() + off, data.size() - off, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EAGAIN || errno == EINTR) continue;
                return false;
            }
            off += static_cast<std::size_t>(n);
        }
        return true;
    }

    // Waits until the client closes its side (or the server stops).
    void holdUntilClientCloses() {
        while (!stopping()) {
            if (!ready(POLLIN)) continue;
            char buf[512];
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return;
        }
    }

    // Orderly end: our side is finished, the client reads to the end.
    void finish() {
        ::shutdown(fd_, SHUT_WR);
        holdUntilClientCloses();
    }

    // An RST instead of a FIN.
    void reset() {
        linger l{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
    int wake_;
    const std::atomic<bool>& stop_;
    std::chrono::steady_clock::time_point deadline_;
};

std::string versionFile(const std::string& version) {
    return "[common]\r\nversion=" + version + "\r\n";
}

} // namespace

void TestServer::handle(int fd) {
    Connection c(fd, wake_[0], stop_, deadline_);
    const std::string headText = c.readHead();
    if (headText.empty()) return;

    const std::string line = headText.substr(0, headText.find("\r\n"));
    const auto sp1 = line.find(' ');
    const auto sp2 = line.find(' ', sp1 == std::string::npos ? 0 : sp1 + 1);
    Request req;
    req.method = line.substr(0, sp1);
    if (sp1 != std::string::npos) req.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    std::string file;
    bool haveFile = false;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(req);
    }
    const std::string path = req.target.substr(0, req.target.find('?'));
    {
        std::lock_guard lock(mutex_);
        if (auto it = files_.find(path); it != files_.end()) {
            file = it->second;
            haveFile = true;
        }
    }

    const std::string ini = "text/plain";
    const std::string html = "text/html";
    auto reply = [&c](int status, const std::string& type, const std::string& body,
                      const std::string& extra = {}) {
        if (c.send(head(status, body.size(), type, extra) + body)) c.finish();
    };

    if (haveFile) {
        reply(200, "application/octet-stream", file);
    } else if (startsWith(path, "/version/")) {
        reply(200, ini, versionFile(percentDecode(path.substr(9))));
    } else if (path == "/version-empty") {
        reply(200, ini, versionFile(""));
    } else if (path == "/version-missing") {
        reply(200, ini, "[platform]\r\nloginUrl=http://127.0.0.1/\r\n");
    } else if (startsWith(path, "/status/")) {
        const int status = std::atoi(path.c_str() + 8);
        reply(status, html, errorPage(status));
    } else if (startsWith(path, "/redirect/")) {
        reply(302, html, errorPage(302), "Location: " + path.substr(9) + "\r\n");
    } else if (path == "/redirect-loop") {
        reply(302, html, errorPage(302), "Location: /redirect-loop\r\n");
    } else if (path == "/cut") {
        if (c.send(head(200, 1000, ini) + std::string(100, 'c'))) c.finish();
    } else if (path == "/reset") {
        c.send(head(200, 1000, ini) + std::string(100, 'r'));
        c.reset();
    } else if (path == "/stall") {
        if (c.send(head(200, 1000, ini) + std::string(10, 's'))) c.holdUntilClientCloses();
    } else if (startsWith(path, "/slow/") || startsWith(path, "/slow-unsized/")) {
        // /slow[-unsized]/<bytes per second>/<name>: a registered file in
        // twentieths of a second, with or without its length announced.
        const bool sized = startsWith(path, "/slow/");
        const std::string rest = path.substr(sized ? 6 : 14);
        const std::size_t rate = std::strtoul(rest.c_str(), nullptr, 10);
        std::string body;
        bool found = false;
        {
            std::lock_guard lock(mutex_);
            const auto slash = rest.find('/');
            if (auto it = files_.find("/files/" + rest.substr(slash + 1));
                slash != std::string::npos && it != files_.end()) {
                body = it->second;
                found = true;
            }
        }
        if (!found || rate < 20) {
            reply(404, html, errorPage(404));
            return;
        }
        const std::string start =
            "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n" +
            (sized ? "Content-Length: " + std::to_string(body.size()) + "\r\n" : "") +
            "Connection: close\r\n\r\n";
        if (!c.send(start)) return;
        // Paced by the clock, so that a slow send does not lower the rate.
        auto due = std::chrono::steady_clock::now();
        for (std::size_t off = 0; off < body.size(); off += rate / 20) {
            if (!c.send(body.substr(off, rate / 20))) return;
            std::this_thread::sleep_until(due += std::chrono::milliseconds(50));
        }
        c.finish();
    } else if (path == "/stall-headers") {
        c.holdUntilClientCloses();
    } else {
        reply(404, html, errorPage(404));
    }
}

RefusingPort::RefusingPort() {
    fd_ = loopbackSocket(port_);
}

RefusingPort::~RefusingPort() {
    if (fd_ >= 0) ::close(fd_);
}

ScratchFolder::ScratchFolder() {
    std::string templ = (std::filesystem::temp_directory_path() / "launcher-test-XXXXXX").string();
    if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::vector<std::string> ScratchFolder::list(const std::string& sub) const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(path_ + "/" + sub, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + path);
}

} // namespace testsupport
