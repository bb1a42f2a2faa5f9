// The temporary file of a download on Windows: "<target>.XXXXXX" beside
// its target, as on the other builds. While it exists, a named mutex made
// from its path says that a download of a running launcher owns it
// (removeLeftover leaves such a file alone); the mutex goes
// with the process, so the file of a launcher that was killed can be removed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace fw::win32 {

// The last Win32 error as an HRESULT; E_FAIL when there is none.
inline HRESULT lastError() {
    const DWORD e = GetLastError();
    return e ? HRESULT_FROM_WIN32(e) : E_FAIL;
}

// A uniquely named file beside the target (so that the final move is a
// rename on one volume); deleted unless it was moved over the target. Its
// owner mutex lives exactly as long as the file.
class TempFile {
public:
    explicit TempFile(const std::wstring& target);
    ~TempFile() { discard(); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    HRESULT error() const { return error_; }
    const std::wstring& path() const { return path_; }

    void discard() {
        if (!path_.empty()) DeleteFileW(path_.c_str());
        release();
    }

    HRESULT moveOver(const std::wstring& target);

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

} // namespace fw::win32
