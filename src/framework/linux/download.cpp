#include "framework/linux/download.h"

#include "framework/linux/replacement_file.h"
#include "framework/ports/platform.h"

#include <curl/curl.h>

#include <mutex>
#include <thread>

namespace fw {

namespace {

CurlTimeouts timeouts;

// What the worker shares with the watching thread.
struct Shared {
    std::atomic<std::int64_t> done{0};
    std::atomic<std::int64_t> total{-1};
    std::atomic<bool> finished{false};
    const std::atomic<bool>* cancel = nullptr;

    bool cancelled() const { return cancel && cancel->load(); }
};

struct Sink {
    ReplacementFile* file;
    Shared* shared;
    std::int64_t maxBytes; // 0: no cap
    std::int64_t written = 0;
    bool overCap = false;
};

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    if (sink->shared && sink->shared->cancelled()) return 0;
    // A body without a length is capped here: libcurl checks only an
    // announced one. A short count makes libcurl stop with CURLE_WRITE_ERROR.
    sink->written += static_cast<std::int64_t>(size * count);
    if (sink->maxBytes > 0 && sink->written > sink->maxBytes) {
        sink->overCap = true;
        return 0;
    }
    return sink->file->write(data, size * count) ? size * count : 0;
}

// libcurl calls it about once a second even while nothing arrives, so a
// cancel also ends a stalled transfer.
int onProgress(void* user, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t, curl_off_t) {
    auto* shared = static_cast<Shared*>(user);
    shared->done = dlNow;
    shared->total = dlTotal > 0 ? dlTotal : -1;
    return shared->cancelled() ? 1 : 0;
}

void globalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

void setCurlTimeoutsForTests(const CurlTimeouts& t) {
    timeouts = t;
}

namespace {

DownloadOutcome failed(CURLcode code, std::string cause = {}) {
    return {DownloadOutcome::Result::Failed, code,
            cause.empty() ? curl_easy_strerror(code) : std::move(cause)};
}

DownloadOutcome transfer(const std::string& url, const std::string& path,
                         const DownloadBounds& bounds, Shared* shared) {
    globalInit();
    ReplacementFile tmp(path);
    if (!tmp.ok()) return failed(CURLE_WRITE_ERROR); // missing or read-only folder

    CURL* curl = curl_easy_init();
    if (!curl) return failed(CURLE_FAILED_INIT);
    char message[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, message);

    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    Sink sink{&tmp, shared, bounds.maxBytes};
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    if (shared) {
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, shared);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    }
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
    if (bounds.totalMs > 0)
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(bounds.totalMs));
    // An announced length over the cap ends the transfer before the body.
    if (bounds.maxBytes > 0)
        curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t{bounds.maxBytes});
    // Some front ends turn away requests without one.
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "launcher");

    CURLcode result = curl_easy_perform(curl);
    std::string cause = message;
    if (sink.overCap) {
        result = CURLE_FILESIZE_EXCEEDED;
        cause.clear();
    }
    if (result == CURLE_OK) {
        // Only a 2xx answer is the file. FAILONERROR lets a few statuses slip
        // through (401, 407), and a final 3xx (a 300, a 302 without Location)
        // ends the transfer as a success with its own body.
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        if (status < 200 || status > 299) {
            result = CURLE_HTTP_RETURNED_ERROR;
            cause = "HTTP status " + std::to_string(status);
        }
    }
    curl_easy_cleanup(curl);

    // A cancel counts until the file is in place, whatever stopped the
    // transfer.
    if (shared && shared->cancelled())
        return {DownloadOutcome::Result::Cancelled, CURLE_ABORTED_BY_CALLBACK, "cancelled"};
    if (result != CURLE_OK) return failed(result, cause);
    return tmp.commit() ? DownloadOutcome{} : failed(CURLE_WRITE_ERROR);
}

} // namespace

DownloadOutcome curlDownload(const std::string& url, const std::string& path,
                             const DownloadBounds& bounds, DownloadWatch* watcher,
                             const std::function<void()>& wait, const std::function<void()>& wake) {
    if (!watcher) return transfer(url, path, bounds, nullptr);
    DownloadWatch& watch = *watcher;
    Shared shared;
    shared.cancel = &watch.cancel;
    DownloadOutcome result;
    std::thread worker([&] {
        result = transfer(url, path, bounds, &shared);
        shared.finished = true;
        if (wake) wake();
    });
    try {
        while (!shared.finished) {
            wait();
            if (watch.progress) watch.progress(shared.done, shared.total);
        }
    } catch (...) {
        // The program is ending under the wait: stop the transfer first.
        watch.cancel = true;
        worker.join();
        throw;
    }
    worker.join();
    return result;
}

} // namespace fw
