// The Windows downloader (download.cpp): its limits, the hooks that let its
// tests shorten them, and the reading of a response's announced length.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cwctype>
#include <optional>
#include <string_view>

namespace fw::win32 {

// A download gives up on a server that has gone silent: nothing at all for
// beforeResponseMs while the answer's headers are awaited (connecting and
// sending included), or nothing for silenceMs once they have arrived.
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

// An original request and ten redirects; the eleventh redirect is a failure.
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
// then nothing is announced (none is asked for, but a server may send one).
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

} // namespace fw::win32
