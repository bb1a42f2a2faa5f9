#include "framework/curl_download.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fw {

namespace {

CurlTimeouts timeouts;

// A file in the target's own folder, so that the final rename stays on one
// file system and is atomic; removed unless it was renamed over the target.
class TempFile {
public:
    explicit TempFile(const std::string& target) : name_(target + ".XXXXXX") {
        fd_ = ::mkstemp(name_.data());
        if (fd_ < 0) name_.clear();
    }
    ~TempFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!name_.empty()) ::unlink(name_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool ok() const { return fd_ >= 0; }

    bool write(const char* data, std::size_t size) {
        while (size > 0) {
            const ssize_t n = ::write(fd_, data, size);
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

    // Flushed to disk before the rename: a crash right after it must not
    // leave an empty or half-written file under the target's name.
    bool commit(const std::string& target) {
        // mkstemp gives 0600; keep the earlier file's mode, or the usual one.
        mode_t mode = 0644;
        struct stat st {};
        if (::stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;
        bool done = ::fchmod(fd_, mode) == 0 && ::fsync(fd_) == 0;
        done = ::close(fd_) == 0 && done;
        fd_ = -1;
        if (!done || ::rename(name_.c_str(), target.c_str()) != 0) return false;
        name_.clear();
        return true;
    }

private:
    std::string name_;
    int fd_ = -1;
};

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    // A short count makes libcurl stop with CURLE_WRITE_ERROR.
    return static_cast<TempFile*>(user)->write(data, size * count) ? size * count : 0;
}

void globalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

void setCurlTimeoutsForTests(const CurlTimeouts& t) {
    timeouts = t;
}

std::int32_t curlDownload(const std::string& url, const std::string& path) {
    globalInit();
    TempFile tmp(path);
    if (!tmp.ok()) return CURLE_WRITE_ERROR; // missing or read-only folder

    CURL* curl = curl_easy_init();
    if (!curl) return CURLE_FAILED_INIT;

    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &tmp);
    // Only the web: no file://, smb:// or the like from a configured address
    // or from a redirect.
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
#else
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS, long{CURLPROTO_HTTP | CURLPROTO_HTTPS});
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS, long{CURLPROTO_HTTP | CURLPROTO_HTTPS});
#endif
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    // An error page must not become the version file or the upgrade program.
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    // No signals for the timeouts: the process may have other threads.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, timeouts.connectTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, timeouts.lowSpeedBytesPerSecond);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, timeouts.lowSpeedSeconds);
    // Some front ends turn away requests without one.
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "launcher");

    CURLcode result = curl_easy_perform(curl);
    if (result == CURLE_OK) {
        // FAILONERROR lets a few statuses slip through (401, 407).
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 400) result = CURLE_HTTP_RETURNED_ERROR;
    }
    curl_easy_cleanup(curl);

    if (result != CURLE_OK) return result;
    return tmp.commit(path) ? 0 : CURLE_WRITE_ERROR;
}

} // namespace fw
