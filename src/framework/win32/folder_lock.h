// Names of mutexes made from paths: the one each running launcher holds for
// its folder (the upgrade program waits until none is left), and those of
// running downloads (download.cpp). Object names are limited to MAX_PATH,
// paths are not: the name carries a hash of the full, upper-cased path.
#pragma once

#include <string>

namespace fw::win32 {

// "Local\launcher-folder-<16 hex digits>", the folder taken without a
// trailing backslash.
std::wstring folderMutexName(const std::wstring& folder);
// `prefix` followed by the 16 hex digits of FNV-1a 64 over the path's
// UTF-16 units, the path made full and upper-cased first.
std::wstring pathMutexName(const wchar_t* prefix, const std::wstring& path, bool folder = false);

} // namespace fw::win32
