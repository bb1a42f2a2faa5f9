#include "framework/linux/platform.h"

#include "framework/linux/download.h"
#include "framework/linux/folder_lock.h"
#include "framework/linux/profile.h"
#include "framework/linux/resources.h"
#include "framework/portable/player_log.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>

namespace fw {

LinuxPlatform::LinuxPlatform() {
    tzset();
}

DateTime LinuxPlatform::localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

void LinuxPlatform::writeDiagnostic(const std::string& line) {
    std::fprintf(stderr, "launcher: %s\n", line.c_str());
}

std::string LinuxPlatform::exeFolder() {
    if (exeFolder_.empty()) {
        std::error_code ec;
        const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
        if (ec || !exe.is_absolute())
            throw std::runtime_error("cannot find the executable's folder");
        exeFolder_ = exe.parent_path().string(); // "/" for a program in the root
    }
    return exeFolder_;
}

std::vector<std::uint8_t> LinuxPlatform::resource(int id, const std::string& type) {
    for (const auto& r : embeddedResources())
        if (r.id == id && type == r.type) return {r.data, r.data + r.size};
    throw std::runtime_error("resource " + std::to_string(id) + " " + type + " not found");
}

std::string LinuxPlatform::playerLogPath() {
    return playerLogPathFor(kBrandId);
}

char pathSeparator() {
    return '/';
}

void holdFolderLock() {
    // The folder held; its descriptor is kept for the run.
    static std::string held;
    const std::string folder = Platform::get().exeFolder();
    if (folder == held) return;
    const int lock = openFolderLock(folder);
    // A folder where the lock cannot be made (read-only) runs unlocked.
    if (lock < 0) return;
    // Blocks only while an upgrade program replaces the launcher (a moment);
    // this run then goes on as the old launcher, whose image is whole.
    (void)::flock(lock, LOCK_SH);
    held = folder;
}

bool pathExists(const std::string& path) {
    // Not followed: a dangling link is a name too.
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool createFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0755) == 0;
}

std::vector<std::string> folderEntries(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    return names;
}

bool removeFile(const std::string& path) {
    return std::remove(path.c_str()) == 0;
}

std::string readProfileString(const std::string& section, const std::string& key,
                              const std::string& defaultValue, std::size_t bufferSize,
                              const std::string& path) {
    return profile::readFile(path, section, key, defaultValue, bufferSize);
}

bool writeProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path) {
    return profile::writeFile(path, section, key, value);
}

DownloadOutcome download(const std::string& url, const std::string& path, DownloadWatch* watch,
                         const DownloadBounds& bounds) {
    // Taken on the calling thread: the transfer's thread only wakes it.
    Desktop& desktop = Platform::get();
    return curlDownload(
        url, path, bounds, watch, [&desktop] { desktop.awaitTransfer(); },
        [&desktop] { desktop.transferEnded(); });
}

bool readFile(const std::string& path, std::string& bytes, std::size_t maxBytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    // Sized by the file, not the bound: launcher.ini is read at every start.
    struct stat st {};
    const auto size = ::fstat(::fileno(file), &st) == 0 ? static_cast<std::size_t>(st.st_size) : 0;
    bytes.resize(std::min(size, maxBytes));
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

} // namespace fw
