#include "framework/win32/download_file.h"

#include "framework/win32/folder_lock.h"
#include "framework/win32/platform.h"
#include "framework/win32/text.h"

#include <atomic>

namespace fw::win32 {

namespace {

// The mutex that marks `path` (a temporary file's) as owned by a running
// download.
std::wstring ownerMutexName(const std::wstring& path) {
    return pathMutexName(L"Local\\launcher-download-", path);
}

} // namespace

TempFile::TempFile(const std::wstring& target) {
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

HRESULT TempFile::moveOver(const std::wstring& target) {
    if (!MoveFileExW(path_.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return lastError();
    release();
    return S_OK;
}

} // namespace fw::win32

namespace fw {

bool removeLeftover(const std::string& path) {
    const std::wstring wide = win32::widen(path);
    if (HANDLE owner = OpenMutexW(SYNCHRONIZE, FALSE, win32::ownerMutexName(wide).c_str())) {
        CloseHandle(owner);
        return false; // a running download's
    }
    return DeleteFileW(wide.c_str()) != 0;
}

} // namespace fw
