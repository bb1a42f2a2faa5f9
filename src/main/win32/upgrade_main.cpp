// upgrade.exe: the rules of src/upgrader on kernel32 and user32 alone, with
// its own small version record and the launcher's icon (resources/upgrade.rc).
#include "framework/portable/player_log.h"
#include "framework/win32/folder_lock.h"
#include "framework/win32/long_paths.h"
#include "framework/win32/text.h"
#include "launcher_identity.h"
#include "upgrader/Upgrader.h"

#include <windows.h>

// A test build waits less (cmake/win32.cmake).
#ifndef UPGRADE_WAIT_MS
#define UPGRADE_WAIT_MS 30000
#endif

namespace {

using fw::win32::narrow;
using fw::win32::widen;

// What the file calls take for `path`, at any length.
std::wstring filePath(const std::string& path) {
    return fw::win32::extendedPath(fw::win32::fullPath(widen(path)));
}

std::string failure(const std::string& what, DWORD error) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string said = text ? narrow(text) : std::string();
    LocalFree(text);
    while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == ' '))
        said.pop_back();
    return what + ": " + said + " (error " + std::to_string(error) + ")";
}

struct Handle {
    HANDLE h;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};

class Win32System final : public upgrader::System {
public:
    char separator() const override { return '\\'; }
    std::string launcherName() const override { return "launcher.exe"; }

    std::string ownPath() override {
        std::wstring path(MAX_PATH, L'\0');
        for (;;) {
            const DWORD n =
                GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
            if (n < path.size()) return narrow(path.substr(0, n));
            path.resize(path.size() * 2);
        }
    }

    bool readFile(const std::string& path, std::string& bytes, std::string& why) override {
        // A running program's file may be read, not written.
        Handle file{CreateFileW(filePath(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr)};
        LARGE_INTEGER size{};
        if (file.h == INVALID_HANDLE_VALUE || !GetFileSizeEx(file.h, &size) ||
            size.QuadPart > 0x7fffffff)
            return (why = failure("open " + path, GetLastError())), false;
        bytes.assign(static_cast<std::size_t>(size.QuadPart), '\0');
        DWORD got = 0;
        for (std::size_t done = 0; done < bytes.size(); done += got)
            if (!ReadFile(file.h, bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                          &got, nullptr) ||
                got == 0)
                return (why = failure("read " + path, GetLastError())), false;
        return true;
    }

    Claim claimFolder(const std::string& folder, int waitMs, std::string&) override {
        const std::wstring name = fw::win32::folderMutexName(widen(folder));
        const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(waitMs);
        for (;;) {
            HANDLE held = OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
            if (!held && GetLastError() == ERROR_FILE_NOT_FOUND) return Claim::Free;
            if (held) CloseHandle(held);
            if (GetTickCount64() >= deadline) return Claim::Busy;
            Sleep(100);
        }
    }

    void releaseFolder() override {}

    bool replaceFile(const std::string& path, std::string_view bytes, std::string& why) override {
        const std::wstring target = filePath(path);
        const std::wstring temporary = target + L".new";
        const char* failed = nullptr;
        DWORD error = 0;
        {
            Handle file{CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr)};
            DWORD put = 0;
            if (file.h == INVALID_HANDLE_VALUE) failed = "create ";
            for (std::size_t done = 0; !failed && done < bytes.size(); done += put)
                if (!WriteFile(file.h, bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                               &put, nullptr))
                    failed = "write ";
            if (!failed && !FlushFileBuffers(file.h)) failed = "flush ";
            if (failed) error = GetLastError();
        }
        if (failed) return discard(temporary, failed + path + ".new", error, why);
        // The image of a launcher that has just ended may stay locked for a
        // moment.
        for (int attempt = 0;; ++attempt) {
            if (MoveFileExW(temporary.c_str(), target.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                return true;
            const DWORD e = GetLastError();
            if (attempt == 50 || (e != ERROR_ACCESS_DENIED && e != ERROR_SHARING_VIOLATION &&
                                  e != ERROR_LOCK_VIOLATION))
                return discard(temporary, "rename over " + path, e, why);
            Sleep(100);
        }
    }

    bool writeVersion(const std::string& ini, const std::string& version,
                      std::string& why) override {
        const std::wstring path = fw::win32::profilePath(widen(ini));
        // The wide call keeps the file's encoding.
        if (WritePrivateProfileStringW(L"common", L"version", widen(version).c_str(), path.c_str()))
            return true;
        return (why = failure("write [common] version to " + ini, GetLastError())), false;
    }

    bool start(const std::string& program, const std::string& folder, std::string& why) override {
        if (fw::win32::startProgram(widen(program), L"", widen(folder))) return true;
        return (why = failure("start " + program, GetLastError())), false;
    }

    void tell(const std::string& title, const std::string& text) override {
        MessageBoxW(nullptr, widen(text).c_str(), widen(title).c_str(),
                    MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST);
    }

    void log(const std::string& line) override {
        SYSTEMTIME t;
        GetLocalTime(&t);
        fw::appendPlayerLog(fw::playerLogPathFor(LAUNCHER_BRAND_ID_TEXT),
                            {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond}, "upgrade",
                            line);
    }

private:
    static bool discard(const std::wstring& temporary, const std::string& what, DWORD error,
                        std::string& why) {
        why = failure(what, error);
        DeleteFileW(temporary.c_str());
        return false;
    }
};

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    Win32System system;
    return upgrader::run(system, {LAUNCHER_BRAND_TEXT, UPGRADE_WAIT_MS});
}
