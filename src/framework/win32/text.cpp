#include "framework/win32/text.h"

#include <windows.h>

#include <vector>

namespace fw::win32 {

namespace {
std::wstring toWide(UINT codePage, std::string_view text) {
    if (text.empty()) return {};
    const int n =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

// usedDefault must be null for UTF-8.
std::string fromWide(UINT codePage, DWORD flags, BOOL* usedDefault, std::wstring_view wide) {
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, usedDefault);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                        nullptr, usedDefault);
    return out;
}

// To the ANSI code page; nothing when a character has no exact equivalent
// there (no best-fit guesses: a path must name the same file).
std::optional<std::string> toAnsi(std::wstring_view wide) {
    BOOL usedDefault = FALSE;
    std::string out = fromWide(CP_ACP, WC_NO_BEST_FIT_CHARS, &usedDefault, wide);
    if (usedDefault) return std::nullopt;
    return out;
}
} // namespace

std::wstring widen(std::string_view utf8) {
    return toWide(CP_UTF8, utf8);
}

std::string narrow(std::wstring_view wide) {
    return fromWide(CP_UTF8, 0, nullptr, wide);
}

std::string toAnsiLossy(std::wstring_view wide) {
    return fromWide(CP_ACP, 0, nullptr, wide);
}

std::wstring fromAnsi(std::string_view text) {
    return toWide(CP_ACP, text);
}

std::optional<std::string> ansiPath(const std::wstring& path) {
    if (auto direct = toAnsi(path)) return direct;
    // The file itself may not exist yet (a first write creates it), so only
    // its folder is shortened.
    const auto slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return std::nullopt;
    const std::wstring folder = path.substr(0, slash);
    const DWORD n = GetShortPathNameW(folder.c_str(), nullptr, 0);
    if (n == 0) return std::nullopt;
    std::vector<wchar_t> shortFolder(n);
    if (GetShortPathNameW(folder.c_str(), shortFolder.data(), n) == 0) return std::nullopt;
    return toAnsi(std::wstring(shortFolder.data()) + path.substr(slash));
}

} // namespace fw::win32
