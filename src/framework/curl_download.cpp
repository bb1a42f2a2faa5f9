#include "framework/curl_download.h"

#include "framework/replacement_file.h"

#include <curl/curl.h>

#include <mutex>

namespace fw {

namespace {

CurlTimeouts timeouts;

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    // A short count makes libcurl stop with CURLE_WRITE_ERROR.
    return static_cast<ReplacementFile*>(user)->write(data, size * count) ? size * count : 0;
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
    ReplacementFile tmp(path);
    if (!tmp.ok()) return CURLE_WRITE_ERROR; // missing or read-only folder

    CURL* curl = curl_easy_init();
    if (!curl) return CURLE_FAILED_INIT;

    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &tmp);
    // Large reads: a big upgrade arrives in a few thousand writes, not tens
    // of thousands (the default is 16 KiB).
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 512L * 1024L);
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
    return tmp.commit() ? 0 : CURLE_WRITE_ERROR;
}

} // namespace fw
