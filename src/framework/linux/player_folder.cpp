#include "framework/portable/player_log.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fw {

// $XDG_STATE_HOME/<id>/launcher.log, else ~/.local/state/<id>/launcher.log;
// a relative setting counts as none, as the base-directory rules say.
std::string playerLogPathFor(const std::string& brandId) {
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    std::string base;
    if (state && state[0] == '/')
        base = state;
    else if (home && home[0] == '/')
        base = std::string(home) + "/.local/state";
    else
        return {};
    return base + "/" + brandId + "/launcher.log";
}

namespace log_file {

std::int64_t size(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

void replace(const std::string& from, const std::string& to) {
    (void)::rename(from.c_str(), to.c_str());
}

void append(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    // One write: lines of two programs appending at once do not mix.
    (void)!::write(fd, bytes.data(), bytes.size());
    ::close(fd);
}

void makeFolders(const std::string& folder) {
    for (std::size_t at = 1; at != std::string::npos;) {
        at = folder.find('/', at + 1);
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return;
    }
}

} // namespace log_file

} // namespace fw
