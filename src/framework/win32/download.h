// The Windows downloader (download.cpp): its limits, the hooks that let its
// tests shorten them, and urlmon's bind-status callback, which records the
// final response's status and announced length, counts the body as it
// arrives, keeps the time of the last sign of life, and answers urlmon with
// an abort once the transfer is over its cap, has too many requests or was
// given up on.
#pragma once

#include <windows.h>

#include <urlmon.h>

#include <atomic>
#include <cstdint>
#include <cwctype>
#include <optional>
#include <string_view>

namespace fw::win32 {

// A download gives up on a server that has gone silent: nothing at all for
// beforeResponseMs while the answer's headers are awaited (connecting and
// sending included), or nothing for silenceMs once they have arrived. Wine
// reports nothing of a body until a few hundred bytes of it have arrived, so
// a body that starts slower than that counts as silence.
struct DownloadLimits {
    unsigned long beforeResponseMs = 15000;
    unsigned long silenceMs = 30000;
};

// How long the worker has been silent at `now` (GetTickCount64). The worker
// may give a sign between the caller's two reads, newer than `now`: that is
// no silence at all, not a wrap-around to an enormous one.
unsigned long long silentForMs(unsigned long long lastSign, unsigned long long now);

// Tests only: shorter limits, so that a stalled server costs a second.
// DownloadLimits{} restores the launcher's own values.
void setDownloadLimitsForTests(const DownloadLimits& limits);

// Tests only: waits up to `ms` for the transfers that were given up on to
// end and remove their temporary files; returns how many are still running.
int waitForAbandonedDownloadsForTests(unsigned long ms);

// An original request and ten redirects. Wine follows a redirect loop for
// ever, a few hundred requests a second; giving up here at least frees the
// launcher (Wine's own loop goes on in the background after the abort).
constexpr int kMaxRequests = 11;

inline bool startsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::towlower(text[i]) != prefix[i]) return false;
    return true;
}

inline std::wstring_view trim(std::wstring_view s) {
    while (!s.empty() && (s.front() == L' ' || s.front() == L'\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == L' ' || s.back() == L'\t' || s.back() == L'\r'))
        s.remove_suffix(1);
    return s;
}

// The length a response announces for the bytes that reach the file. A
// Content-Encoding makes Content-Length the size on the wire, not on disk:
// then nothing is announced. Wine decodes gzip itself and drops both headers.
inline std::optional<ULONGLONG> announcedLength(std::wstring_view headers) {
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
    STDMETHODIMP OnStartBinding(DWORD, IBinding*) override { return touch(); }
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
    STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override { return touch(); }
    // The bind flags stay urlmon's own.
    STDMETHODIMP GetBindInfo(DWORD*, BINDINFO*) override { return touch(); }
    STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return touch(); }
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
    // Any notification is a sign of life; S_OK, urlmon's answer to most.
    HRESULT touch() {
        lastSign_.store(GetTickCount64(), std::memory_order_relaxed);
        return S_OK;
    }
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

} // namespace fw::win32
