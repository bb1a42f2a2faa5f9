// A held file on Linux: nothing stops another process from renaming a file
// over a name, so the held file is read and moved through its open
// descriptor, a name is trusted only after it is seen to lead to it, and the
// build starts a program through the descriptor (startHeldProgram).
// A shared lock keeps another launcher's clean-up (removeLeftover) away.
#include "framework/linux/platform.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fw {

namespace {

bool leadsTo(const std::string& path, int fd) {
    struct stat mine {};
    struct stat named {};
    return ::fstat(fd, &mine) == 0 && ::stat(path.c_str(), &named) == 0 &&
           mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
}

class LinuxHeldFile final : public HeldFile {
public:
    LinuxHeldFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~LinuxHeldFile() override { ::close(fd_); }
    LinuxHeldFile(const LinuxHeldFile&) = delete;
    LinuxHeldFile& operator=(const LinuxHeldFile&) = delete;

    bool read(std::string& bytes, std::size_t maxBytes) override {
        bytes.clear();
        char buffer[64 * 1024];
        for (off_t at = 0;;) {
            const ssize_t n = ::pread(fd_, buffer, sizeof buffer, at);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return false;
            if (n == 0) return true;
            if (bytes.size() + static_cast<std::size_t>(n) > maxBytes) return false;
            bytes.append(buffer, static_cast<std::size_t>(n));
            at += n;
        }
    }

    bool moveTo(const std::string& target) override {
        // Whatever was renamed over the held file's name meanwhile is moved
        // instead: then the target does not lead to the held file.
        if (!leadsTo(path_, fd_) || ::rename(path_.c_str(), target.c_str()) != 0) return false;
        path_ = target;
        return leadsTo(path_, fd_);
    }

    bool start() override {
        // Execute wherever it may be read, as a freshly built program would be.
        struct stat st {};
        if (::fstat(fd_, &st) != 0) return false;
        const mode_t read = st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
        (void)::fchmod(fd_, (st.st_mode & 07777) | (read >> 2));
        return startHeldProgram(fd_, path_);
    }

private:
    int fd_;
    std::string path_;
};

} // namespace

std::unique_ptr<HeldFile> LinuxPlatform::holdFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    (void)::flock(fd, LOCK_SH | LOCK_NB);
    return std::make_unique<LinuxHeldFile>(fd, path);
}

} // namespace fw
