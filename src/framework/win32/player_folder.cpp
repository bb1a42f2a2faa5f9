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

} // namespace fw
