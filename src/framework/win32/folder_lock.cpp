#include "framework/win32/folder_lock.h"

#include <windows.h>

#include <cstdint>

namespace fw::win32 {

std::wstring pathMutexName(const wchar_t* prefix, const std::wstring& path, bool folder) {
    std::wstring key(GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
    key.resize(GetFullPathNameW(path.c_str(), static_cast<DWORD>(key.size()), key.data(), nullptr));
    if (key.empty()) key = path;
    while (folder && key.size() > 1 && key.back() == L'\\') key.pop_back();
    CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (wchar_t c : key) hash = (hash ^ static_cast<std::uint16_t>(c)) * 1099511628211ull;
    std::wstring name = prefix;
    for (int shift = 60; shift >= 0; shift -= 4) name += L"0123456789abcdef"[(hash >> shift) & 15];
    return name;
}

std::wstring folderMutexName(const std::wstring& folder) {
    return pathMutexName(L"Local\\launcher-folder-", folder, true);
}

} // namespace fw::win32
