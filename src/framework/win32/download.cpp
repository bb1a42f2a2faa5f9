// Downloads with urlmon. urlmon alone reports success for an error page
// (404, 500), for a body cut short and for a missing folder, and it writes
// over the target as the bytes arrive. So the transfer goes into a temporary
// file beside the target, a bind-status callback watches the HTTP response,
// and the target is replaced only when the whole body of a 2xx answer has
// arrived.
//
// urlmon has no time-out of its own: a server that accepts and then goes
// silent holds URLDownloadToFileW for minutes. The call therefore runs on a
// worker thread while the caller waits, dispatching nothing, and watches
// the callback's last sign of life (DownloadLimits).
// When the server has been silent too long the caller stops waiting and the
// worker is left to finish on its own: it aborts the binding at the next
// notification, deletes its temporary file when the call returns and never
// touches the target. A worker still blocked when the process ends simply
// ends with it.
//
// The caller's bounds (DownloadBounds) end the wait too: the whole transfer
// over its time, or a body over its cap, announced in the response or
// reported by urlmon as it arrives; the worker is abandoned the same way.
//
// The temporary file is "<target>.XXXXXX", as on the other builds. While it
// exists, a named mutex made from its path says that a download of a running
// launcher owns it (removeLeftover leaves such a file alone); the mutex goes
// with the process, so the file of a launcher that was killed can be removed.
//
// The outcome's code is an HRESULT, its cause from kCauses. A watched
// download (DownloadWatch) waits the same way but turns the message loop
// meanwhile, so that the progress window paints and its button works. A
// cancel abandons the worker as a time-out does: urlmon's next notification
// is answered with an abort; a transfer stalled in Wine makes none, so its
// temporary file is deleted at once as well.
#include "framework/win32/download.h"

#include "framework/win32/folder_lock.h"
#include "framework/win32/text.h"
#include "framework/win32/win32_platform.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

namespace fw::win32 {

namespace {

DownloadLimits limits;

const HRESULT kOverTime = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
const HRESULT kTooLarge = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);

// Transfers given up on whose worker has not yet returned.
std::atomic<int> abandonedWorkers{0};

HRESULT lastError() {
    const DWORD e = GetLastError();
    return e ? HRESULT_FROM_WIN32(e) : E_FAIL;
}

// Why a download failed, by the result it gave. An answer other than 2xx
// gives 0x8019xxxx, the status in the low word; anything else here is
// urlmon's own failure or the file system's.
struct Cause {
    HRESULT result;
    const char* cause;
};
const Cause kCauses[] = {
    {INET_E_UNKNOWN_PROTOCOL, "not an http or https address"},
    {INET_E_DOWNLOAD_FAILURE, "no HTTP answer, or a body cut short"},
    {INET_E_REDIRECT_FAILED, "more than ten redirects"},
    {INET_E_CONNECTION_TIMEOUT, "the server went silent"},
    {kOverTime, "over the time bound"},
    {kTooLarge, "body over the size cap"},
    {E_OUTOFMEMORY, "no worker thread"},
};

// A cancel is E_ABORT when the watcher asked for it.
DownloadOutcome outcomeOf(HRESULT result, bool cancelled) {
    using Result = DownloadOutcome::Result;
    const auto code = static_cast<std::uint32_t>(result);
    if (result == S_OK) return {};
    if (result == E_ABORT && cancelled) return {Result::Cancelled, code, "cancelled"};
    std::string cause = HRESULT_FACILITY(result) == FACILITY_HTTP
                            ? "HTTP status " + std::to_string(HRESULT_CODE(result))
                            : "urlmon or the file system";
    for (const Cause& c : kCauses)
        if (c.result == result) cause = c.cause;
    char hex[16];
    std::snprintf(hex, sizeof hex, " (0x%08lX)", static_cast<unsigned long>(code));
    return {Result::Failed, code, cause + hex};
}

// The mutex that marks `path` (a temporary file's) as owned by a running
// download.
std::wstring ownerMutexName(const std::wstring& path) {
    return pathMutexName(L"Local\\launcher-download-", path);
}

// A uniquely named file beside the target, "<target>.XXXXXX" (so that the
// final move is a rename on one volume); deleted unless it was moved over the
// target. Its owner mutex lives exactly as long as the file.
class TempFile {
public:
    explicit TempFile(const std::wstring& target) {
        static std::atomic<std::uint64_t> counter{0};
        LARGE_INTEGER now{};
        QueryPerformanceCounter(&now);
        std::uint64_t seed = static_cast<std::uint64_t>(now.QuadPart) ^
                             (std::uint64_t{GetCurrentProcessId()} << 32) ^ ++counter;
        for (int attempt = 0; attempt < 16; ++attempt) {
            std::wstring path = target + L".";
            for (int i = 0; i < 6; ++i) path += randomChar(seed);
            HANDLE owner = CreateMutexW(nullptr, FALSE, ownerMutexName(path).c_str());
            if (!owner) break;
            if (GetLastError() == ERROR_ALREADY_EXISTS) {
                CloseHandle(owner);
                continue;
            }
            const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                CloseHandle(file);
                path_ = path;
                owner_ = owner;
                return;
            }
            const DWORD e = GetLastError();
            CloseHandle(owner);
            if (e != ERROR_FILE_EXISTS) {
                SetLastError(e);
                break;
            }
        }
        error_ = lastError();
    }
    ~TempFile() { discard(); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    HRESULT error() const { return error_; }
    const std::wstring& path() const { return path_; }

    // The size on disk, after the bytes have been flushed: a crash right
    // after the move must not leave a half-written file under the target's
    // name.
    HRESULT flush(ULONGLONG& size) const {
        HANDLE h = CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return lastError();
        LARGE_INTEGER n{};
        HRESULT hr = S_OK;
        if (!GetFileSizeEx(h, &n) || !FlushFileBuffers(h)) hr = lastError();
        CloseHandle(h);
        size = static_cast<ULONGLONG>(n.QuadPart);
        return hr;
    }

    void discard() {
        if (!path_.empty()) DeleteFileW(path_.c_str());
        release();
    }

    HRESULT moveOver(const std::wstring& target) {
        if (!MoveFileExW(path_.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return lastError();
        release();
        return S_OK;
    }

private:
    static wchar_t randomChar(std::uint64_t& state) {
        static constexpr wchar_t kChars[] =
            L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return kChars[(state >> 33) % 62];
    }
    void release() {
        path_.clear();
        if (owner_) CloseHandle(owner_);
        owner_ = nullptr;
    }

    std::wstring path_;
    HANDLE owner_ = nullptr;
    HRESULT error_ = S_OK;
};

// urlmon needs COM on the thread that calls it.
class ComScope {
public:
    ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT hr_;
};

// One download, shared by the caller and the worker. Whoever of the two
// moves `state` on first decides its outcome: the worker to kFinished (the
// caller then owns the temporary file and the results), or the caller to
// kAbandoned (the worker then deletes the temporary file when urlmon
// returns, and nobody reads the results).
struct Transfer {
    enum State { kRunning, kFinished, kAbandoned };

    Transfer(const std::wstring& target, std::int64_t maxBytes) : tmp(target), watch(maxBytes) {}
    ~Transfer() {
        if (done) CloseHandle(done);
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    TempFile tmp;
    ResponseWatch watch;
    HRESULT result = E_FAIL;
    std::atomic<int> state{kRunning};
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr); // set by the worker unless abandoned
};

void work(const std::shared_ptr<Transfer>& t, const std::wstring& url) {
    // Let go of only after the outcome has been handed over: the caller
    // needs nothing from that, and must not wait for it.
    ComScope com;
    // The wide call: the temporary file's folder may have characters outside
    // the ANSI code page, and an ANSI call with such a path "succeeds"
    // without writing anything. The address is ASCII, the same either way.
    t->result = URLDownloadToFileW(nullptr, url.c_str(), t->tmp.path().c_str(), 0, &t->watch);
    if (t->state.exchange(Transfer::kFinished) == Transfer::kAbandoned) {
        t->tmp.discard();
        --abandonedWorkers;
    } else {
        SetEvent(t->done);
    }
}

// Waits until the worker has finished, the server has been silent for longer
// than the limits allow, the transfer went beyond the caller's bounds or the
// watcher cancelled. Without a watcher nothing is dispatched meanwhile; with
// one the message loop turns and the watcher hears of the progress several
// times a second. S_OK when the worker finished; otherwise the transfer was
// abandoned and the result says why.
HRESULT waitForWorker(Transfer& t, DownloadWatch* watcher, const DownloadBounds& bounds) {
    const ULONGLONG started = GetTickCount64();
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const ULONGLONG limit = t.watch.responded() ? limits.silenceMs : limits.beforeResponseMs;
        const ULONGLONG quiet = silentForMs(t.watch.lastSign(), now);
        const ULONGLONG total = bounds.totalMs > 0 ? static_cast<ULONGLONG>(bounds.totalMs) : 0;
        HRESULT reason = S_OK;
        if (watcher && watcher->cancel)
            reason = E_ABORT;
        else if (t.watch.tooLarge())
            reason = kTooLarge;
        else if (total && now - started >= total)
            reason = kOverTime;
        else if (quiet >= limit)
            reason = INET_E_CONNECTION_TIMEOUT;
        if (reason == S_OK) {
            // On a time-out, look again: news may have come meanwhile. A
            // tenth of a second at most, so that a body over the cap is
            // given up on at once.
            ULONGLONG wait = std::min<ULONGLONG>(limit - quiet, 100);
            if (total) wait = std::min(wait, total - (now - started));
            if (watcher) {
                const DWORD woke = MsgWaitForMultipleObjects(1, &t.done, FALSE,
                                                             static_cast<DWORD>(wait), QS_ALLINPUT);
                if (woke != WAIT_OBJECT_0) {
                    dispatchPending(progressDialogMessage);
                    if (watcher->progress)
                        watcher->progress(t.watch.received(), t.watch.announced());
                    continue;
                }
            } else if (WaitForSingleObject(t.done, static_cast<DWORD>(wait)) != WAIT_OBJECT_0) {
                continue;
            }
            // Pairs with the worker's exchange: its results are visible now.
            return t.state.load() == Transfer::kFinished ? S_OK : E_UNEXPECTED;
        }
        ++abandonedWorkers;
        int running = Transfer::kRunning;
        if (t.state.compare_exchange_strong(running, Transfer::kAbandoned)) {
            t.watch.abandon();
            return reason;
        }
        // The worker finished in the last moment.
        --abandonedWorkers;
        return S_OK;
    }
}

HRESULT downloadTo(const std::wstring& url, const std::wstring& target, DownloadWatch* watcher,
                   const DownloadBounds& bounds) {
    // Only the web: urlmon would also copy a local file:// path.
    if (!startsWithNoCase(url, L"http://") && !startsWithNoCase(url, L"https://"))
        return INET_E_UNKNOWN_PROTOCOL;

    auto t = std::make_shared<Transfer>(target, bounds.maxBytes);
    if (FAILED(t->tmp.error())) return t->tmp.error();
    if (!t->done) return lastError();

    // The caller's own copy: once abandoned, the worker owns `t->tmp`.
    const std::wstring tmpPath = t->tmp.path();
    try {
        std::thread(work, t, url).detach();
    } catch (const std::system_error&) {
        return E_OUTOFMEMORY;
    }
    if (const HRESULT given = waitForWorker(*t, watcher, bounds); given != S_OK) {
        // Wine's urlmon writes the file only at the end, so it is unused
        // now; where it is in use the worker deletes it when urlmon lets go.
        if (given == E_ABORT) DeleteFileW(tmpPath.c_str());
        return given;
    }
    // A cancel counts until the file is in place (the temporary file goes
    // with `t`).
    if (watcher && watcher->cancel) return E_ABORT;

    const ResponseWatch& watch = t->watch;
    if (watch.tooManyRequests) return INET_E_REDIRECT_FAILED;
    if (watch.tooLarge()) return kTooLarge;
    if (FAILED(t->result)) return t->result;
    if (watch.status == 0) return INET_E_DOWNLOAD_FAILURE;
    if (watch.status < 200 || watch.status > 299)
        return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_HTTP, watch.status & 0xffff);

    ULONGLONG size = 0;
    if (const HRESULT flushed = t->tmp.flush(size); FAILED(flushed)) return flushed;
    if (watch.length && size != *watch.length) return INET_E_DOWNLOAD_FAILURE;
    // urlmon may report nothing of a fast body before it ends.
    if (bounds.maxBytes > 0 && size > static_cast<ULONGLONG>(bounds.maxBytes)) return kTooLarge;
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

DownloadOutcome Win32Platform::download(const std::string& url, const std::string& path,
                                        DownloadWatch* watch, const DownloadBounds& bounds) {
    const HRESULT result = downloadTo(widen(url), widen(path), watch, bounds);
    return outcomeOf(result, watch && watch->cancel);
}

bool Win32Platform::removeLeftover(const std::string& path) {
    const std::wstring wide = widen(path);
    if (HANDLE owner = OpenMutexW(SYNCHRONIZE, FALSE, ownerMutexName(wide).c_str())) {
        CloseHandle(owner);
        return false; // a running download's
    }
    return DeleteFileW(wide.c_str()) != 0;
}

} // namespace fw::win32
