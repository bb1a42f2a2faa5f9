// Replacing a file without ever leaving it half written: the new content goes
// into a temporary file in the target's own folder (so the final rename stays
// on one file system and is atomic), is flushed to disk, and is renamed over
// the target only when complete. Until then the target is untouched, and a
// temporary file that is not committed is removed. The temporary file
// ("<target>.XXXXXX") stays locked (flock) while it is written, so that one
// left by a killed writer can be told from one still being written
// (removeLeftover, in replacement_file.cpp).
#pragma once

#include <cstddef>
#include <string>

namespace fw {

class ReplacementFile {
public:
    explicit ReplacementFile(const std::string& target) : target_(target) { open(); }
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // False when the temporary file could not be made (missing or read-only folder).
    bool ok() const { return fd_ >= 0; }
    bool write(const char* data, std::size_t size);
    // Takes the earlier file's mode (or 0644), flushes and renames over the
    // target; false (target untouched) on any failure.
    bool commit();

private:
    void open();

    std::string target_;
    std::string name_;
    int fd_ = -1;
    std::size_t written_ = 0; // bytes written so far
    std::size_t started_ = 0; // bytes whose way to the disk has been started
};

} // namespace fw
