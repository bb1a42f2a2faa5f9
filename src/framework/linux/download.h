// Blocking HTTP(S) download with libcurl for the builds that have no urlmon.
#pragma once

#include "framework/ports/platform.h"

#include <functional>
#include <string>

namespace fw {

// Downloads `url` into `path` through a temporary file in the same folder that
// is renamed over `path` only when the transfer succeeded. The outcome's code
// is the libcurl error code, its cause libcurl's message (an HTTP status
// outside 2xx is a failure, so is a body cut short of its Content-Length; a
// transfer over `bounds` is CURLE_OPERATION_TIMEDOUT or
// CURLE_FILESIZE_EXCEEDED). Follows redirects, verifies TLS as libcurl does
// by default, and gives up on a dead server (connect timeout, low-speed
// abort) instead of hanging.
//
// With a `watch` the transfer runs on a worker thread, watched from the
// calling thread: there `wait` runs again and again until the transfer has
// ended (it should let the desktop's events through and return within about
// 100 ms), and `watch` is told the progress after each wait. `wake` runs on
// the worker when the transfer has ended, to cut the current wait short. A
// cancel stops the transfer within a second, stalled or not; a cancel that
// comes before the temporary file is renamed keeps the earlier file
// (Cancelled, CURLE_ABORTED_BY_CALLBACK).
DownloadOutcome curlDownload(const std::string& url, const std::string& path,
                             const DownloadBounds& bounds = {}, DownloadWatch* watch = nullptr,
                             const std::function<void()>& wait = {},
                             const std::function<void()>& wake = {});

// When curlDownload gives up. A transfer is aborted when fewer than
// lowSpeedBytesPerSecond arrive, averaged over libcurl's few-second window,
// for lowSpeedSeconds in a row.
struct CurlTimeouts {
    long connectTimeoutMs = 15000;
    long lowSpeedBytesPerSecond = 1;
    long lowSpeedSeconds = 30;
};

// Tests only: shorter limits so that a stalled server costs a second, not
// half a minute. Passing CurlTimeouts{} restores the launcher's own values.
void setCurlTimeoutsForTests(const CurlTimeouts& timeouts);

} // namespace fw
