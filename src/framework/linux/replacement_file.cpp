#include "framework/linux/replacement_file.h"

#include "framework/ports/network.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fw {

namespace {
bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
} // namespace

void ReplacementFile::open() {
    // Another launcher's clean-up may take the new file for a leftover in the
    // moment before it is locked: then it is gone, and another name is tried.
    for (int attempt = 0; attempt < 3; ++attempt) {
        name_ = target_ + ".XXXXXX";
        fd_ = ::mkstemp(name_.data());
        if (fd_ < 0) break;
        // A file system without locks writes unlocked, as before.
        (void)::flock(fd_, LOCK_EX);
        struct stat mine {};
        struct stat named {};
        if (::fstat(fd_, &mine) == 0 && ::stat(name_.c_str(), &named) == 0 && sameFile(mine, named))
            return;
        ::close(fd_);
        fd_ = -1;
    }
    name_.clear();
}

ReplacementFile::~ReplacementFile() {
    if (!name_.empty()) ::unlink(name_.c_str());
    if (fd_ >= 0) ::close(fd_);
}

bool ReplacementFile::write(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        written_ += static_cast<std::size_t>(n);
    }
#ifdef __linux__
    // Hands each full stretch to the disk while the rest still arrives, so
    // the flush before the rename has little left to wait for; nothing here
    // waits for the disk.
    constexpr std::size_t kStretch = 8u << 20;
    if (written_ - started_ >= kStretch) {
        ::sync_file_range(fd_, static_cast<off_t>(started_),
                          static_cast<off_t>(written_ - started_), SYNC_FILE_RANGE_WRITE);
        started_ = written_;
    }
#endif
    return true;
}

bool ReplacementFile::commit() {
    if (fd_ < 0) return false;
    // mkstemp gives 0600; keep the earlier file's mode, or the usual one.
    mode_t mode = 0644;
    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0) mode = st.st_mode & 07777;
    // Flushed before the rename: a crash right after it must not leave an
    // empty or half-written file under the target's name. Closed (and so
    // unlocked) only once renamed.
    const bool done = ::fchmod(fd_, mode) == 0 && ::fsync(fd_) == 0 &&
                      ::rename(name_.c_str(), target_.c_str()) == 0;
    ::close(fd_);
    fd_ = -1;
    if (!done) return false;
    name_.clear();
    return true;
}

// A file found unlocked, then locked by us and still under its name, has no
// writer: one that a writer still holds stays.
bool removeLeftover(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    struct stat named {};
    // Unlinked while locked: no writer can take the file meanwhile.
    const bool removed = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                         ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::stat(path.c_str(), &named) == 0 &&
                         sameFile(st, named) && ::unlink(path.c_str()) == 0;
    ::close(fd);
    return removed;
}

} // namespace fw
