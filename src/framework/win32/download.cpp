// Downloads with WinHTTP (it replaced urlmon, which kept every body in the
// system's internet cache and could not be stopped; WinINet, under Wine,
// drains the rest of a body when its handle is closed). The transfer goes into
// a temporary file beside the target, and the target is replaced only when
// the whole body of a 2xx answer has arrived: a status outside 2xx, a body
// short of its announced length and a dropped connection are failures.
//
// WinHTTP has no cache, so nothing of a download reaches the system's
// internet cache. The system's proxy settings apply (the user's, read with
// WinHttpGetIEProxyConfigForCurrentUser, automatic configuration included)
// and the system checks HTTPS certificates. WinHTTP follows ten redirects;
// the next one is a failure.
//
// The transfer runs on a worker thread while the caller waits, dispatching
// nothing, or turning the message loop for a watched download
// (DownloadWatch: progress, cancel; Win32Platform::awaitTransfer). The caller gives up on a server
// silent too long (DownloadLimits), on the caller's bounds (DownloadBounds: the whole transfer over
// its time, a body announced or arriving over its cap) and on a cancel. Giving up closes the
// worker's WinHTTP handles from the caller's thread: a transfer that is receiving stops at once,
// its socket closed. Under Wine a read blocked on a server that sends nothing does not return on
// that close; it returns with the server's next bytes (which are dropped) or at the receive
// time-out, a second past the silence limit. It holds no file while it waits, so the caller deletes
// the temporary file at once; the worker writes nothing more and never touches the target. A worker
// still blocked when the process ends ends with it.
//
// The temporary file is "<target>.XXXXXX", as on the other builds
// (download_file.h).
//
// The outcome's code is an HRESULT (urlmon's INET_E_* codes, an HTTP status
// as FACILITY_HTTP), its cause from kCauses with WinHTTP's own error.
#include "framework/win32/download.h"

#include "framework/win32/download_file.h"
#include "framework/win32/platform.h"
#include "framework/win32/text.h"

#include <urlmon.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace fw::win32 {

namespace {

DownloadLimits limits;

const HRESULT kOverTime = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
const HRESULT kTooLarge = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);

// Transfers given up on whose worker has not yet returned.
std::atomic<int> abandonedWorkers{0};

// Why a download failed, by the result it gave. An answer other than 2xx
// gives 0x8019xxxx, the status in the low word.
struct Cause {
    HRESULT result;
    const char* cause;
};
const Cause kCauses[] = {
    {INET_E_UNKNOWN_PROTOCOL, "not an http or https address"},
    {INET_E_DOWNLOAD_FAILURE, "no HTTP answer, or a body cut short"},
    {INET_E_REDIRECT_FAILED, "more than ten redirects, or a redirect without a place"},
    {INET_E_CONNECTION_TIMEOUT, "the server went silent"},
    {INET_E_INVALID_CERTIFICATE, "the server's certificate was refused"},
    {kOverTime, "over the time bound"},
    {kTooLarge, "body over the size cap"},
    {E_OUTOFMEMORY, "no worker thread"},
};

// A cancel is E_ABORT when the watcher asked for it. `netError` is WinHTTP's
// error behind a network failure (0: none).
DownloadOutcome outcomeOf(HRESULT result, DWORD netError, bool cancelled) {
    using Result = DownloadOutcome::Result;
    const auto code = static_cast<std::uint32_t>(result);
    if (result == S_OK) return {};
    if (result == E_ABORT && cancelled) return {Result::Cancelled, code, "cancelled"};
    std::string cause = HRESULT_FACILITY(result) == FACILITY_HTTP
                            ? "HTTP status " + std::to_string(HRESULT_CODE(result))
                            : "WinHTTP or the file system";
    for (const Cause& c : kCauses)
        if (c.result == result) cause = c.cause;
    char hex[48];
    if (netError)
        std::snprintf(hex, sizeof hex, " (0x%08lX, WinHTTP %lu)", static_cast<unsigned long>(code),
                      static_cast<unsigned long>(netError));
    else
        std::snprintf(hex, sizeof hex, " (0x%08lX)", static_cast<unsigned long>(code));
    return {Result::Failed, code, cause + hex};
}

// What a failed WinHTTP call means for the outcome.
HRESULT netFailure(DWORD error) {
    switch (error) {
    case ERROR_WINHTTP_TIMEOUT: return INET_E_CONNECTION_TIMEOUT;
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
    case ERROR_WINHTTP_INVALID_URL: return INET_E_UNKNOWN_PROTOCOL;
    case ERROR_WINHTTP_REDIRECT_FAILED: return INET_E_REDIRECT_FAILED;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT: return INET_E_INVALID_CERTIFICATE;
    default: return INET_E_DOWNLOAD_FAILURE;
    }
}

// The system's user agent, as urlmon sent it.
const std::wstring& userAgent() {
    static const std::wstring agent = [] {
        char text[512];
        DWORD size = sizeof text;
        if (ObtainUserAgentString(0, text, &size) != S_OK) return std::wstring(L"Mozilla/4.0");
        return std::wstring(text, text + std::strlen(text));
    }();
    return agent;
}

// One download, shared by the caller and the worker. Whoever of the two
// moves `state` on first decides its outcome: the worker to kFinished (the
// caller then owns the temporary file and the result), or the caller to
// kAbandoned (the worker then deletes the temporary file when it returns,
// and nobody reads the result).
struct Transfer {
    enum State { kRunning, kFinished, kAbandoned };

    Transfer(const std::wstring& target, std::int64_t maxBytes) : tmp(target), cap(maxBytes) {
        touch();
    }
    ~Transfer() {
        if (done) CloseHandle(done);
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    bool abandoned() const { return state.load() == kAbandoned; }
    void touch() { lastSign.store(GetTickCount64(), std::memory_order_relaxed); }

    // The worker's WinHTTP handles, which the caller closes to stop it. Each
    // is closed once, by whoever comes first: the worker hands a new handle
    // over here and closes it itself when the transfer was stopped already.
    bool adopt(HINTERNET& slot, HINTERNET handle) {
        std::lock_guard<std::mutex> hold(handles);
        if (stopped) {
            WinHttpCloseHandle(handle);
            return false;
        }
        slot = handle;
        return true;
    }
    // Closes the handles: a read under way returns at once.
    void stop() {
        std::lock_guard<std::mutex> hold(handles);
        stopped = true;
        for (HINTERNET* h : {&request, &connection, &session}) {
            if (*h) WinHttpCloseHandle(*h);
            *h = nullptr;
        }
    }

    TempFile tmp;
    const std::int64_t cap;
    HRESULT result = E_FAIL;
    DWORD netError = 0;
    std::atomic<int> state{kRunning};
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr); // set by the worker unless abandoned
    // The desktop turning its loop for a watched transfer, woken by the end.
    Desktop* waiter = nullptr;

    // For the caller at any time: GetTickCount64 of the last sign of life,
    // whether the final answer's headers have come, the body so far and its
    // announced length (-1: none), and whether it is over the cap.
    std::atomic<ULONGLONG> lastSign{0};
    std::atomic<bool> responded{false};
    std::atomic<std::int64_t> received{0};
    std::atomic<std::int64_t> announced{-1};
    std::atomic<bool> tooLarge{false};

    std::mutex handles;
    HINTERNET session = nullptr;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;
    bool stopped = false;
};

bool overCap(const Transfer& t, ULONGLONG bytes) {
    return t.cap > 0 && bytes > static_cast<ULONGLONG>(t.cap);
}

std::wstring header(HINTERNET request, DWORD what) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size,
                        WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    const std::size_t room = text.size() * sizeof(wchar_t);
    size = static_cast<DWORD>(room);
    if (!WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                             WINHTTP_NO_HEADER_INDEX))
        return {};
    text.resize(size / sizeof(wchar_t));
    return text;
}

// The user's proxy settings for `url` on `request`: the automatic
// configuration (a script, or detection) when it names one, else the
// proxy set by hand; none at all means a direct connection.
void useSystemProxy(HINTERNET session, HINTERNET request, const std::wstring& url) {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user{};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&user)) return;
    WINHTTP_PROXY_INFO found{};
    bool automatic = false;
    if (user.fAutoDetect || user.lpszAutoConfigUrl) {
        WINHTTP_AUTOPROXY_OPTIONS options{};
        options.dwFlags = user.lpszAutoConfigUrl ? WINHTTP_AUTOPROXY_CONFIG_URL : 0;
        if (user.fAutoDetect) {
            options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
            options.dwAutoDetectFlags =
                WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        }
        options.lpszAutoConfigUrl = user.lpszAutoConfigUrl;
        options.fAutoLogonIfChallenged = TRUE;
        automatic = WinHttpGetProxyForUrl(session, url.c_str(), &options, &found);
    }
    if (automatic) {
        WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &found, sizeof found);
    } else if (user.lpszProxy) {
        WINHTTP_PROXY_INFO manual{WINHTTP_ACCESS_TYPE_NAMED_PROXY, user.lpszProxy,
                                  user.lpszProxyBypass};
        WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &manual, sizeof manual);
    }
    for (LPWSTR text : {user.lpszAutoConfigUrl, user.lpszProxy, user.lpszProxyBypass,
                        found.lpszProxy, found.lpszProxyBypass})
        if (text) GlobalFree(text);
}

// Sends the request and waits for the final answer's headers, redirects
// followed. S_OK for a 2xx answer, or why it failed.
HRESULT sendRequest(Transfer& t, const std::wstring& url) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = DWORD(-1);
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return INET_E_UNKNOWN_PROTOCOL;
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    // The path and the query, as given.
    const std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength + parts.dwExtraInfoLength);
    HINTERNET c = WinHttpConnect(t.session, host.c_str(), parts.nPort, 0);
    if (!c) {
        t.netError = GetLastError();
        return netFailure(t.netError);
    }
    if (!t.adopt(t.connection, c)) return E_ABORT;
    const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    HINTERNET r = WinHttpOpenRequest(c, L"GET", path.empty() ? L"/" : path.c_str(), nullptr,
                                     WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                     secure | WINHTTP_FLAG_REFRESH);
    if (!r) {
        t.netError = GetLastError();
        return netFailure(t.netError);
    }
    if (!t.adopt(t.request, r)) return E_ABORT;
    useSystemProxy(t.session, r, url);
    DWORD redirects = kMaxRequests - 1;
    WinHttpSetOption(r, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects, sizeof redirects);
    t.touch();
    if (!WinHttpSendRequest(r, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                            0) ||
        !WinHttpReceiveResponse(r, nullptr)) {
        t.netError = GetLastError();
        return t.abandoned() ? E_ABORT : netFailure(t.netError);
    }
    t.touch();
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(r, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return INET_E_DOWNLOAD_FAILURE;
    if (status >= 200 && status <= 299) return S_OK;
    return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_HTTP, status & 0xffff);
}

// The body into the temporary file, read as it arrives (a read asks for no
// more than has come, so that a slow body is seen as it trickles in).
HRESULT receiveBody(Transfer& t) {
    HINTERNET r = t.request;
    const std::optional<ULONGLONG> length =
        announcedLength(header(r, WINHTTP_QUERY_RAW_HEADERS_CRLF));
    t.announced.store(length ? static_cast<std::int64_t>(*length) : -1);
    t.responded.store(true);
    if (length && overCap(t, *length)) {
        t.tooLarge.store(true);
        return kTooLarge;
    }
    // Opened for each piece only: a worker blocked in a read holds no file,
    // so the caller that gives up can delete it, and it is never made again.
    const auto open = [&t](DWORD access) {
        return CreateFileW(t.tmp.path().c_str(), access, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    std::vector<char> buffer(64 * 1024);
    ULONGLONG total = 0;
    HRESULT hr = S_OK;
    for (;;) {
        DWORD ready = 0;
        DWORD got = 0;
        if (t.abandoned()) {
            hr = E_ABORT;
            break;
        }
        if (!WinHttpQueryDataAvailable(r, &ready) ||
            (ready > 0 &&
             !WinHttpReadData(r, buffer.data(),
                              std::min<DWORD>(ready, static_cast<DWORD>(buffer.size())), &got))) {
            t.netError = GetLastError();
            hr = t.abandoned() ? E_ABORT : netFailure(t.netError);
            break;
        }
        t.touch();
        if (got == 0) break; // the end of the body
        total += got;
        t.received.store(static_cast<std::int64_t>(total), std::memory_order_relaxed);
        if (overCap(t, total)) {
            t.tooLarge.store(true);
            hr = kTooLarge;
            break;
        }
        const HANDLE file = open(FILE_APPEND_DATA);
        DWORD written = 0;
        const bool wrote = file != INVALID_HANDLE_VALUE &&
                           WriteFile(file, buffer.data(), got, &written, nullptr) && written == got;
        if (!wrote) hr = lastError();
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        if (!wrote) break;
    }
    if (hr == S_OK && length && total != *length) hr = INET_E_DOWNLOAD_FAILURE;
    // Flushed before the move: a crash right after it must not leave a
    // half-written file under the target's name.
    if (hr == S_OK) {
        const HANDLE file = open(GENERIC_WRITE);
        if (file == INVALID_HANDLE_VALUE || !FlushFileBuffers(file)) hr = lastError();
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    return hr;
}

HRESULT fetch(Transfer& t, const std::wstring& url) {
    const HINTERNET session = WinHttpOpen(userAgent().c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY,
                                          WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) {
        t.netError = GetLastError();
        return INET_E_DOWNLOAD_FAILURE;
    }
    if (!t.adopt(t.session, session)) return E_ABORT;
    // WinHTTP's own time-outs only end a worker that was given up on while
    // blocked (see above); the caller applies the limits. They lie a second
    // beyond them, so that the caller always gives up first: a read that
    // times out on its own fails under Wine with another error, which would
    // read as a broken transfer rather than a silent server.
    constexpr ULONGLONG kMargin = 1000;
    const int connect = static_cast<int>(limits.beforeResponseMs + kMargin);
    const int silence =
        static_cast<int>(std::max(limits.beforeResponseMs, limits.silenceMs) + kMargin);
    WinHttpSetTimeouts(session, connect, connect, connect, silence);
    const HRESULT sent = sendRequest(t, url);
    return sent == S_OK ? receiveBody(t) : sent;
}

void work(const std::shared_ptr<Transfer>& t, const std::wstring& url) {
    t->result = fetch(*t, url);
    t->stop();
    if (t->state.exchange(Transfer::kFinished) == Transfer::kAbandoned) {
        t->tmp.discard();
        --abandonedWorkers;
    } else {
        SetEvent(t->done);
        if (t->waiter) t->waiter->transferEnded();
    }
}

// Waits until the worker has finished, the server has been silent for longer
// than the limits allow, the transfer went beyond the caller's bounds or the
// watcher cancelled. Without a watcher nothing is dispatched meanwhile; with
// one the message loop turns and the watcher hears of the progress several
// times a second. S_OK when the worker finished; otherwise the transfer was
// stopped and abandoned, and the result says why.
HRESULT waitForWorker(Transfer& t, DownloadWatch* watcher, const DownloadBounds& bounds) {
    const ULONGLONG started = GetTickCount64();
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const ULONGLONG limit = t.responded.load() ? limits.silenceMs : limits.beforeResponseMs;
        const ULONGLONG quiet = silentForMs(t.lastSign.load(std::memory_order_relaxed), now);
        const ULONGLONG total = bounds.totalMs > 0 ? static_cast<ULONGLONG>(bounds.totalMs) : 0;
        HRESULT reason = S_OK;
        if (watcher && watcher->cancel)
            reason = E_ABORT;
        else if (t.tooLarge.load())
            reason = kTooLarge;
        else if (total && now - started >= total)
            reason = kOverTime;
        else if (quiet >= limit)
            reason = INET_E_CONNECTION_TIMEOUT;
        if (reason == S_OK) {
            // On a time-out, look again: news may have come meanwhile. A
            // tenth of a second at most, so that a cancel stops the
            // transfer at once (the desktop's wait is as long, woken by the
            // worker's end).
            if (watcher) {
                if (WaitForSingleObject(t.done, 0) != WAIT_OBJECT_0) t.waiter->awaitTransfer();
                if (WaitForSingleObject(t.done, 0) != WAIT_OBJECT_0) {
                    if (watcher->progress)
                        watcher->progress(t.received.load(std::memory_order_relaxed),
                                          t.announced.load());
                    continue;
                }
            } else {
                ULONGLONG wait = std::min<ULONGLONG>(limit - quiet, 100);
                if (total) wait = std::min(wait, total - (now - started));
                if (WaitForSingleObject(t.done, static_cast<DWORD>(wait)) != WAIT_OBJECT_0)
                    continue;
            }
            // Pairs with the worker's exchange: its results are visible now.
            return t.state.load() == Transfer::kFinished ? S_OK : E_UNEXPECTED;
        }
        ++abandonedWorkers;
        int running = Transfer::kRunning;
        if (t.state.compare_exchange_strong(running, Transfer::kAbandoned)) {
            t.stop();
            return reason;
        }
        // The worker finished in the last moment.
        --abandonedWorkers;
        return S_OK;
    }
}

HRESULT downloadTo(const std::wstring& url, const std::wstring& target, DownloadWatch* watcher,
                   const DownloadBounds& bounds, DWORD& netError) {
    if (!startsWithNoCase(url, L"http://") && !startsWithNoCase(url, L"https://"))
        return INET_E_UNKNOWN_PROTOCOL;

    auto t = std::make_shared<Transfer>(target, bounds.maxBytes);
    if (FAILED(t->tmp.error())) return t->tmp.error();
    if (!t->done) return lastError();
    if (watcher) t->waiter = &Platform::get();

    // The caller's own copy: once abandoned, the worker owns `t->tmp`.
    const std::wstring tmpPath = t->tmp.path();
    try {
        std::thread(work, t, url).detach();
    } catch (const std::system_error&) {
        return E_OUTOFMEMORY;
    }
    if (const HRESULT given = waitForWorker(*t, watcher, bounds); given != S_OK) {
        // Gone now, unless the worker is writing a piece this moment; then
        // it deletes the file as it returns.
        DeleteFileW(tmpPath.c_str());
        return given;
    }
    // A cancel counts until the file is in place (the temporary file goes
    // with `t`).
    if (watcher && watcher->cancel) return E_ABORT;
    netError = t->netError;
    if (FAILED(t->result)) return t->result;
    return t->tmp.moveOver(target);
}

} // namespace

unsigned long long silentForMs(unsigned long long lastSign, unsigned long long now) {
    return now > lastSign ? now - lastSign : 0;
}

void setDownloadLimitsForTests(const DownloadLimits& l) {
    limits = l;
}

int waitForAbandonedDownloadsForTests(unsigned long ms) {
    const ULONGLONG start = GetTickCount64();
    while (abandonedWorkers.load() > 0 && GetTickCount64() - start < ms) Sleep(10);
    return abandonedWorkers.load();
}

void Win32Platform::awaitTransfer() {
    if (MsgWaitForMultipleObjects(1, &transferEnded_, FALSE, 100, QS_ALLINPUT) != WAIT_OBJECT_0)
        dispatchPending(progressDialogMessage);
}

} // namespace fw::win32

namespace fw {

DownloadOutcome download(const std::string& url, const std::string& path, DownloadWatch* watch,
                         const DownloadBounds& bounds) {
    DWORD netError = 0;
    const HRESULT result =
        win32::downloadTo(win32::widen(url), win32::widen(path), watch, bounds, netError);
    return win32::outcomeOf(result, netError, watch && watch->cancel);
}

} // namespace fw
