// Text at the edge of the Windows API: the launcher's core speaks UTF-8, the
// wide API UTF-16, and the private-profile files the ANSI code page.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace fw::win32 {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

// To the ANSI code page, lossy, for texts (section, key, value): unmappable
// characters become the code page's default character, as the narrow API
// itself would do.
std::string toAnsiLossy(std::wstring_view wide);
std::wstring fromAnsi(std::string_view ansi);

// A narrow path that names the same file as `path` for the ANSI API. When the
// path has characters outside the ANSI code page, its folder is replaced by
// the folder's short (8.3) name; nothing when that does not help either (no
// short names on the volume, the folder is missing, or the file name itself
// is not representable).
std::optional<std::string> ansiPath(const std::wstring& path);

} // namespace fw::win32
