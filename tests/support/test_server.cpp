#include "support/test_server.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {

namespace {

constexpr auto kStartWait = std::chrono::seconds(30);
constexpr auto kStopWait = std::chrono::seconds(5);

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

// test_server.py as a child: its registered files are those of files(), its
// requests go to log(). Its standard input is a pipe that only this process
// holds, so the server also ends when the test program dies.
class ServerProcess {
public:
    ServerProcess() {
        std::filesystem::create_directory(files());
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        stdin_ = in[1];
        stdout_ = out[0];
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        ::posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        // -S: the standard library is all the server needs, and the site
        // packages' start-up hooks cost more than the rest of its start.
        const std::string script = TEST_SOURCE_DIR "/tests/support/test_server.py";
        std::string args[] = {TEST_PYTHON, "-S",  script,       "--files", files(),
                              "--log",     log(), "--lifetime", "900"};
        char* argv[std::size(args) + 1] = {};
        for (std::size_t i = 0; i < std::size(args); ++i) argv[i] = args[i].data();
        const int rc = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv, environ);
        ::posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        if (rc != 0) {
            pid_ = -1;
            closePipes();
            throw std::runtime_error("cannot start " + script);
        }
        port_ = readPort();
        if (port_ <= 0) {
            stop();
            throw std::runtime_error(script + " printed no port");
        }
    }
    ~ServerProcess() { stop(); }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    int port() const { return port_; }
    std::string files() const { return dir_.path() + "/files"; }
    std::string log() const { return dir_.path() + "/requests.log"; }

private:
    // The first line the server prints, within kStartWait.
    int readPort() {
        std::string line;
        const auto giveUp = std::chrono::steady_clock::now() + kStartWait;
        while (line.find('\n') == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                giveUp - std::chrono::steady_clock::now());
            pollfd p{stdout_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return 0;
            char buf[64];
            const ssize_t n = ::read(stdout_, buf, sizeof buf);
            if (n <= 0) return 0;
            line.append(buf, static_cast<std::size_t>(n));
        }
        return std::atoi(line.c_str());
    }

    void closePipes() {
        for (int* fd : {&stdin_, &stdout_})
            if (*fd >= 0) ::close(std::exchange(*fd, -1));
    }

    // SIGTERM ends the server at once; SIGKILL if it has not gone in time.
    void stop() {
        closePipes();
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        const auto giveUp = std::chrono::steady_clock::now() + kStopWait;
        while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > giveUp) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        pid_ = -1;
    }

    ScratchFolder dir_;
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    int port_ = 0;
};

// One server for the whole test program, started when a test first needs it.
ServerProcess& server() {
    static ServerProcess process;
    return process;
}

} // namespace

TestServer::TestServer() {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(server().files()))
        std::filesystem::remove(e.path(), ec);
    writeFile(server().log(), "");
}

int TestServer::port() const {
    return server().port();
}

std::string TestServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port()) + path;
}

void TestServer::serveFile(const std::string& name, const std::string& body) {
    writeFile(server().files() + "/" + name, body);
}

std::vector<Request> TestServer::requests() const {
    std::vector<Request> out;
    std::istringstream log(readFile(server().log()));
    for (std::string line; std::getline(log, line);) {
        const auto space = line.find(' ');
        out.push_back(
            {line.substr(0, space), space == std::string::npos ? "" : line.substr(space + 1)});
    }
    return out;
}

RefusingPort::RefusingPort() {
    fd_ = loopbackSocket(port_);
}

RefusingPort::~RefusingPort() {
    if (fd_ >= 0) ::close(fd_);
}

} // namespace testsupport
