#include "framework/replacement_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fw {

ReplacementFile::ReplacementFile(const std::string& target)
    : target_(target), name_(target + ".XXXXXX") {
    fd_ = ::mkstemp(name_.data());
    if (fd_ < 0) name_.clear();
}

ReplacementFile::~ReplacementFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!name_.empty()) ::unlink(name_.c_str());
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
    // empty or half-written file under the target's name.
    bool done = ::fchmod(fd_, mode) == 0 && ::fsync(fd_) == 0;
    done = ::close(fd_) == 0 && done;
    fd_ = -1;
    if (!done || ::rename(name_.c_str(), target_.c_str()) != 0) return false;
    name_.clear();
    return true;
}

} // namespace fw
