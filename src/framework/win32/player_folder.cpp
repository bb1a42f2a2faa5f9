#include "framework/portable/player_log.h"
#include "framework/win32/text.h"

#include <windows.h>

#include <shlobj.h>

namespace fw {

// %LOCALAPPDATA%\<id>\launcher.log: the player's own, never roaming.
std::string playerLogPathFor(const std::string& brandId) {
    wchar_t folder[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
        return {};
    return win32::narrow(folder) + "\\" + brandId + "\\launcher.log";
}

namespace log_file {

std::int64_t size(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(win32::widen(path).c_str(), GetFileExInfoStandard, &data)) return -1;
    return static_cast<std::int64_t>((std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
}

void replace(const std::string& from, const std::string& to) {
    MoveFileExW(win32::widen(from).c_str(), win32::widen(to).c_str(), MOVEFILE_REPLACE_EXISTING);
}

void append(const std::string& path, const std::string& bytes) {
    const HANDLE file = CreateFileW(win32::widen(path).c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    // One write: lines of two programs appending at once do not mix.
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

void makeFolders(const std::string& folder) {
    const std::wstring wide = win32::widen(folder);
    for (std::size_t at = wide.find(L'\\') + 1; at != 0;) {
        at = wide.find(L'\\', at + 1);
        CreateDirectoryW(wide.substr(0, at).c_str(), nullptr);
        if (at == std::wstring::npos) break;
    }
}

} // namespace log_file

} // namespace fw
