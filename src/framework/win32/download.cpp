// Downloads with urlmon. urlmon alone reports success for an error page
// (404, 500), for a body cut short and for a missing folder, and it writes
// over the target as the bytes arrive. So the transfer goes into a temporary
// file beside the target, a bind-status callback watches the HTTP response,
// and the target is replaced only when the whole body of a 2xx answer has
// arrived.
//
// urlmon has no time-out of its own: a server that accepts and then goes
// silent holds URLDownloadToFileW for minutes. The call therefore runs on a
// worker thread while the caller waits, blocked as before and dispatching
// nothing, and watches the callback's last sign of life (DownloadLimits).
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
// The outcome's code is an HRESULT: urlmon's own, or the one each way of
// failing below gives (an answer other than 2xx: 0x8019xxxx, the status in
// the low word). A watched download (DownloadWatch) waits the same way but turns the
// message loop meanwhile, so that the progress window paints and its button
// works. A cancel abandons the worker as a time-out does: urlmon's next
// notification is answered with an abort; a transfer stalled in Wine makes
// none, so its temporary file is deleted at once as well.
#include "framework/win32/download.h"

#include "framework/win32/text.h"
#include "framework/win32/win32_platform.h"

#include <urlmon.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cwctype>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

namespace fw::win32 {

namespace {

// An original request and ten redirects. Wine follows a redirect loop for
// ever, a few hundred requests a second; giving up here at least frees the
// launcher (Wine's own loop goes on in the background after the abort).
constexpr int kMaxRequests = 11;

DownloadLimits limits;

const HRESULT kOverTime = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
const HRESULT kTooLarge = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);

// Transfers given up on whose worker has not yet returned.
std::atomic<int> abandonedWorkers{0};

bool startsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::towlower(text[i]) != prefix[i]) return false;
    return true;
}

std::wstring_view trim(std::wstring_view s) {
    while (!s.empty() && (s.front() == L' ' || s.front() == L'\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == L' ' || s.back() == L'\t' || s.back() == L'\r'))
        s.remove_suffix(1);
    return s;
}

// The length a response announces for the bytes that reach the file. A
// Content-Encoding makes Content-Length the size on the wire, not on disk:
// then nothing is announced. Wine decodes gzip itself and drops both headers.
std::optional<ULONGLONG> announcedLength(std::wstring_view headers) {
    std::optional<ULONGLONG> length;
    bool encoded = false;
    while (!headers.empty()) {
        const auto eol = headers.find(L'\n');
        const std::wstring_view line = headers.substr(0, eol);
        headers.remove_prefix(eol == std::wstring_view::npos ? headers.size() : eol + 1);
        if (startsWithNoCase(line, L"content-length:") && !length) {
            const std::wstring_view value = trim(line.substr(15));
            if (value.empty() || value.size() > 18) continue;
            ULONGLONG n = 0;
            bool digits = true;
            for (wchar_t c : value) {
                if (c < L'0' || c > L'9') digits = false;
                n = n * 10 + static_cast<ULONGLONG>(c - L'0');
            }
            if (digits) length = n;
        } else if (startsWithNoCase(line, L"content-encoding:")) {
            const std::wstring_view value = trim(line.substr(17));
            encoded = !value.empty() && !startsWithNoCase(value, L"identity");
        }
    }
    if (encoded) return std::nullopt;
    return length;
}

// urlmon calls it on the worker thread. The caller reads the results only
// once the worker has finished, the sign of life and `responded` at any
// time. urlmon releases every reference before URLDownloadToFileW returns;
// the count is kept for COM's sake only: the object lives as long as its
// Transfer.
class ResponseWatch final : public IBindStatusCallback, public IHttpNegotiate {
public:
    DWORD status = 0; // of the final response; 0 when there was none
    std::optional<ULONGLONG> length;
    bool tooManyRequests = false;

    explicit ResponseWatch(std::int64_t maxBytes) : maxBytes_(maxBytes) { touch(); }

    // The bytes of the body so far, and its announced length (-1: none),
    // for a watcher.
    std::int64_t received() const { return received_.load(std::memory_order_relaxed); }
    std::int64_t announced() const { return announced_.load(std::memory_order_relaxed); }

    // GetTickCount64 of the last notification of any kind.
    ULONGLONG lastSign() const { return lastSign_.load(std::memory_order_relaxed); }
    bool responded() const { return responded_.load(std::memory_order_relaxed); }
    // The body is over the cap (announced or received).
    bool tooLarge() const { return tooLarge_.load(std::memory_order_relaxed); }
    // The caller has stopped waiting: whatever urlmon reports next is
    // answered with an abort, so that a server waking up again does not
    // feed a transfer nobody will use.
    void abandon() { abandoned_.store(true, std::memory_order_relaxed); }

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBindStatusCallback)) {
            *out = static_cast<IBindStatusCallback*>(this);
        } else if (IsEqualIID(riid, IID_IHttpNegotiate)) {
            *out = static_cast<IHttpNegotiate*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override { return --refs_; }

    // IBindStatusCallback
    STDMETHODIMP OnStartBinding(DWORD, IBinding*) override {
        touch();
        return S_OK;
    }
    STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP OnLowResource(DWORD) override { return S_OK; }
    STDMETHODIMP OnProgress(ULONG progress, ULONG, ULONG statusCode, LPCWSTR) override {
        touch();
        if (statusCode == BINDSTATUS_DOWNLOADINGDATA || statusCode == BINDSTATUS_ENDDOWNLOADDATA) {
            received_.store(progress, std::memory_order_relaxed);
            checkCap(progress);
        }
        if (abandoned_.load(std::memory_order_relaxed) || tooLarge()) return E_ABORT;
        // One per request sent, redirects included.
        if (statusCode == BINDSTATUS_SENDINGREQUEST && ++requests_ > kMaxRequests) {
            tooManyRequests = true;
            return E_ABORT;
        }
        return S_OK;
    }
    STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override {
        touch();
        return S_OK;
    }
    // The bind flags stay urlmon's own.
    STDMETHODIMP GetBindInfo(DWORD*, BINDINFO*) override {
        touch();
        return S_OK;
    }
    STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
        touch();
        return S_OK;
    }
    STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

    // IHttpNegotiate: called with the final response, after redirects.
    STDMETHODIMP BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* extraHeaders) override {
        touch();
        if (extraHeaders) *extraHeaders = nullptr;
        return S_OK;
    }
    STDMETHODIMP OnResponse(DWORD code, LPCWSTR headers, LPCWSTR, LPWSTR* extraHeaders) override {
        touch();
        if (extraHeaders) *extraHeaders = nullptr;
        status = code;
        length = headers ? announcedLength(headers) : std::nullopt;
        announced_.store(length ? static_cast<std::int64_t>(*length) : -1,
                         std::memory_order_relaxed);
        responded_.store(true, std::memory_order_relaxed);
        // Wine goes on all the same; the caller gives up on it at once.
        return length && checkCap(*length) ? E_ABORT : S_OK;
    }

private:
    void touch() { lastSign_.store(GetTickCount64(), std::memory_order_relaxed); }
    bool checkCap(ULONGLONG bytes) {
        if (maxBytes_ > 0 && bytes > static_cast<ULONGLONG>(maxBytes_))
            tooLarge_.store(true, std::memory_order_relaxed);
        return tooLarge();
    }

    const std::int64_t maxBytes_;
    std::atomic<bool> tooLarge_{false};

    std::atomic<ULONG> refs_{1};
    int requests_ = 0;
    std::atomic<ULONGLONG> lastSign_{0};
    std::atomic<std::int64_t> received_{0};
    std::atomic<std::int64_t> announced_{-1};
    std::atomic<bool> responded_{false};
    std::atomic<bool> abandoned_{false};
};

HRESULT lastError() {
    const DWORD e = GetLastError();
    return e ? HRESULT_FROM_WIN32(e) : E_FAIL;
}

// A failure: its HRESULT, and why, with the code, for the diagnostic output.
DownloadOutcome failed(HRESULT hr, const std::string& cause) {
    char code[16];
    std::snprintf(code, sizeof code, " (0x%08lX)", static_cast<unsigned long>(hr));
    return {DownloadOutcome::Result::Failed, static_cast<std::uint32_t>(hr), cause + code};
}

DownloadOutcome cancelled() {
    return {DownloadOutcome::Result::Cancelled, static_cast<std::uint32_t>(E_ABORT), "cancelled"};
}

// The mutex that marks `path` (a temporary file's) as owned by a running
// download: its name comes from the full, upper-cased path (names are
// limited to MAX_PATH, paths are not).
std::wstring ownerMutexName(const std::wstring& path) {
    std::wstring key(GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
    key.resize(GetFullPathNameW(path.c_str(), static_cast<DWORD>(key.size()), key.data(), nullptr));
    if (key.empty()) key = path;
    CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (wchar_t c : key) hash = (hash ^ static_cast<std::uint16_t>(c)) * 1099511628211ull;
    std::wstring name = L"Local\\launcher-download-";
    for (int shift = 60; shift >= 0; shift -= 4) name += L"0123456789abcdef"[(hash >> shift) & 15];
    return name;
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

// Everything queued for the thread's windows, the progress window's dialog
// keys first.
void dispatchMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // For the message loop proper, once the download has returned.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (progressDialogMessage(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Waits until the worker has finished, the server has been silent for longer
// than the limits allow, the transfer went beyond the caller's bounds or the
// watcher cancelled. Without a watcher nothing is dispatched meanwhile; with
// one the message loop turns and the watcher hears of the progress several
// times a second. Nothing when the worker finished; otherwise the transfer
// was abandoned and the outcome says why.
std::optional<DownloadOutcome> waitForWorker(Transfer& t, DownloadWatch* watcher,
                                             const DownloadBounds& bounds) {
    const ULONGLONG started = GetTickCount64();
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const ULONGLONG limit = t.watch.responded() ? limits.silenceMs : limits.beforeResponseMs;
        const ULONGLONG quiet = silentForMs(t.watch.lastSign(), now);
        const ULONGLONG total = bounds.totalMs > 0 ? static_cast<ULONGLONG>(bounds.totalMs) : 0;
        std::optional<DownloadOutcome> reason;
        if (watcher && watcher->cancel)
            reason = cancelled();
        else if (t.watch.tooLarge())
            reason = failed(kTooLarge, "body over the size cap");
        else if (total && now - started >= total)
            reason = failed(kOverTime, "over the time bound");
        else if (quiet >= limit)
            reason = failed(INET_E_CONNECTION_TIMEOUT, "the server went silent");
        if (!reason) {
            // On a time-out, look again: news may have come meanwhile. A
            // tenth of a second at most, so that a body over the cap is
            // given up on at once.
            ULONGLONG wait = std::min<ULONGLONG>(limit - quiet, 100);
            if (total) wait = std::min(wait, total - (now - started));
            if (watcher) {
                const DWORD woke = MsgWaitForMultipleObjects(1, &t.done, FALSE,
                                                             static_cast<DWORD>(wait), QS_ALLINPUT);
                if (woke != WAIT_OBJECT_0) {
                    dispatchMessages();
                    if (watcher->progress)
                        watcher->progress(t.watch.received(), t.watch.announced());
                    continue;
                }
            } else if (WaitForSingleObject(t.done, static_cast<DWORD>(wait)) != WAIT_OBJECT_0) {
                continue;
            }
            // Pairs with the worker's exchange: its results are visible now.
            if (t.state.load() == Transfer::kFinished) return std::nullopt;
            return failed(E_UNEXPECTED, "the worker ended without an outcome");
        }
        ++abandonedWorkers;
        int running = Transfer::kRunning;
        if (t.state.compare_exchange_strong(running, Transfer::kAbandoned)) {
            t.watch.abandon();
            return reason;
        }
        // The worker finished in the last moment.
        --abandonedWorkers;
        return std::nullopt;
    }
}

DownloadOutcome downloadTo(const std::wstring& url, const std::wstring& target,
                           DownloadWatch* watcher, const DownloadBounds& bounds) {
    // Only the web: urlmon would also copy a local file:// path.
    if (!startsWithNoCase(url, L"http://") && !startsWithNoCase(url, L"https://"))
        return failed(INET_E_UNKNOWN_PROTOCOL, "not an http or https address");

    auto t = std::make_shared<Transfer>(target, bounds.maxBytes);
    if (FAILED(t->tmp.error())) return failed(t->tmp.error(), "cannot make a temporary file");
    if (!t->done) return failed(lastError(), "cannot make an event");

    // The caller's own copy: once abandoned, the worker owns `t->tmp`.
    const std::wstring tmpPath = t->tmp.path();
    try {
        std::thread(work, t, url).detach();
    } catch (const std::system_error&) {
        return failed(E_OUTOFMEMORY, "no worker thread");
    }
    if (auto given = waitForWorker(*t, watcher, bounds)) {
        // Wine's urlmon writes the file only at the end, so it is unused
        // now; where it is in use the worker deletes it when urlmon lets go.
        if (given->result == DownloadOutcome::Result::Cancelled) DeleteFileW(tmpPath.c_str());
        return *given;
    }
    // A cancel counts until the file is in place (the temporary file goes
    // with `t`).
    if (watcher && watcher->cancel) return cancelled();

    const ResponseWatch& watch = t->watch;
    if (watch.tooManyRequests) return failed(INET_E_REDIRECT_FAILED, "more than ten redirects");
    if (watch.tooLarge()) return failed(kTooLarge, "body over the size cap");
    if (FAILED(t->result)) return failed(t->result, "urlmon refused the transfer");
    if (watch.status == 0) return failed(INET_E_DOWNLOAD_FAILURE, "no HTTP answer");
    if (watch.status < 200 || watch.status > 299)
        return failed(MAKE_HRESULT(SEVERITY_ERROR, FACILITY_HTTP, watch.status & 0xffff),
                      "HTTP status " + std::to_string(watch.status));

    ULONGLONG size = 0;
    if (const HRESULT flushed = t->tmp.flush(size); FAILED(flushed))
        return failed(flushed, "cannot flush the temporary file");
    if (watch.length && size != *watch.length)
        return failed(INET_E_DOWNLOAD_FAILURE, "body of " + std::to_string(size) + " bytes, " +
                                                   std::to_string(*watch.length) + " announced");
    // urlmon may report nothing of a fast body before it ends.
    if (bounds.maxBytes > 0 && size > static_cast<ULONGLONG>(bounds.maxBytes))
        return failed(kTooLarge, "body over the size cap");
    if (const HRESULT moved = t->tmp.moveOver(target); FAILED(moved))
        return failed(moved, "cannot replace the target");
    return {};
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
    return downloadTo(widen(url), widen(path), watch, bounds);
}

std::vector<std::string> Win32Platform::folderEntries(const std::string& path) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileExW((widen(path) + L"\\*").c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring_view name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(narrow(name));
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
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
