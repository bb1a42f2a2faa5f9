// fake_launcher.exe: a launcher as the upgrade program meets it. "hold MS
// READY": holds its folder's mutex, creates READY and ends MS ms later.
// Without arguments: writes its working folder and argument count (UTF-8)
// to "started.txt" beside itself.
#include "framework/win32/folder_lock.h"

#include <windows.h>

#include <cstdlib>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), 32768));
    path.resize(path.find_last_of(L'\\'));
    if (__argc == 4) {
        CreateMutexW(nullptr, FALSE, fw::win32::folderMutexName(path).c_str());
        CloseHandle(CreateFileW(__wargv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        Sleep(static_cast<DWORD>(_wtoi(__wargv[2])));
        return 0;
    }
    std::wstring text(32768, L'\0');
    text.resize(GetCurrentDirectoryW(32768, text.data()));
    text += L"\n" + std::to_wstring(__argc - 1) + L"\n";
    std::string utf8(text.size() * 3, '\0');
    utf8.resize(static_cast<std::size_t>(
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(),
                            static_cast<int>(utf8.size()), nullptr, nullptr)));
    const std::wstring temporary = path + L"\\update\\started";
    HANDLE f = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD put = 0;
    WriteFile(f, utf8.data(), static_cast<DWORD>(utf8.size()), &put, nullptr);
    CloseHandle(f);
    return MoveFileW(temporary.c_str(), (path + L"\\started.txt").c_str()) ? 0 : 1;
}
