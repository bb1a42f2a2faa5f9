// upgrade_marker.exe: the stand-in upgrade program of the end-to-end tests.
// It writes "upgrade-ran.txt" beside itself, holding the number of arguments
// it was given, and ends.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
    path.resize(path.find_last_of(L'\\') + 1);
    std::FILE* f = _wfopen((path + L"upgrade-ran.txt").c_str(), L"wb");
    if (!f) return 1;
    std::fprintf(f, "arguments=%d\n", __argc - 1);
    return std::fclose(f) == 0 ? 0 : 1;
}
