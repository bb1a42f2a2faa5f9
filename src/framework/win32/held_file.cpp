// A held file (fw::HeldFile): open for reading and deleting, shared for
// reading only, so that while it is held no process can write it, delete it
// or rename anything over its name. It is read, renamed and started through
// that one open file, so what was checked is what is moved and started.
#include "framework/win32/long_paths.h"
#include "framework/win32/platform.h"
#include "framework/win32/text.h"

#include <cstring>
#include <vector>

namespace fw::win32 {

namespace {

bool sameFile(HANDLE held, const std::wstring& path) {
    const HANDLE other = CreateFileW(extendedPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (other == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    const bool same = GetFileInformationByHandle(held, &a) &&
                      GetFileInformationByHandle(other, &b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                      a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(other);
    return same;
}

class Win32HeldFile final : public HeldFile {
public:
    Win32HeldFile(HANDLE file, std::wstring path) : file_(file), path_(std::move(path)) {}
    ~Win32HeldFile() override { CloseHandle(file_); }
    Win32HeldFile(const Win32HeldFile&) = delete;
    Win32HeldFile& operator=(const Win32HeldFile&) = delete;

    bool read(std::string& bytes, std::size_t maxBytes) override {
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(file_, &size) || static_cast<ULONGLONG>(size.QuadPart) > maxBytes ||
            !SetFilePointerEx(file_, LARGE_INTEGER{}, nullptr, FILE_BEGIN))
            return false;
        bytes.assign(static_cast<std::size_t>(size.QuadPart), '\0');
        std::size_t at = 0;
        while (at < bytes.size()) {
            DWORD got = 0;
            const DWORD want =
                static_cast<DWORD>(std::min<std::size_t>(bytes.size() - at, 1 << 20));
            if (!ReadFile(file_, bytes.data() + at, want, &got, nullptr) || got == 0) return false;
            at += got;
        }
        return true;
    }

    bool moveTo(const std::string& target) override {
        // A full path, as the system turns it into its own form (under Wine
        // a bare name is taken from the current directory, not the file's).
        const std::wstring to = fullPath(widen(target));
        const std::wstring& name = to;
        const std::size_t nameBytes = name.size() * sizeof(wchar_t);
        std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
        auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        info->ReplaceIfExists = TRUE;
        info->RootDirectory = nullptr;
        info->FileNameLength = static_cast<DWORD>(nameBytes);
        std::memcpy(info->FileName, name.data(), nameBytes);
        if (!SetFileInformationByHandle(file_, FileRenameInfo, info,
                                        static_cast<DWORD>(buffer.size())))
            return false;
        path_ = to;
        return sameFile(file_, path_);
    }

    bool start() override { return startProgram(path_, L""); }

private:
    HANDLE file_;
    std::wstring path_; // full, without the "\\?\" prefix
};

} // namespace

std::unique_ptr<HeldFile> Win32Platform::holdFile(const std::string& path) {
    const std::wstring full = fullPath(widen(path));
    const HANDLE file =
        CreateFileW(extendedPath(full).c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32HeldFile>(file, full);
}

} // namespace fw::win32
