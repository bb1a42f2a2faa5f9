// download_probe.exe OUT COMMAND...: calls the Windows downloader as the
// launcher does and writes one UTF-8 line per command into OUT:
//   get URL PATH   -> "get <result as 8 hex digits> <milliseconds>"
//   raw URL PATH   -> "raw <result> <milliseconds>": URLDownloadToFileW
//                     alone, the baseline for the downloader's own cost
#include "framework/win32/text.h"
#include "framework/win32/win32_platform.h"

#include <urlmon.h>

#include <chrono>
#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    fw::win32::Win32Platform platform(GetModuleHandleW(nullptr));
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::FILE* out = _wfopen(argv[1], L"wb");
    if (!out) return 1;
    for (int i = 2; i + 2 < argc; i += 3) {
        const std::wstring cmd = argv[i];
        const auto start = std::chrono::steady_clock::now();
        long result = 0;
        if (cmd == L"get")
            result =
                platform.download(fw::win32::narrow(argv[i + 1]), fw::win32::narrow(argv[i + 2]));
        else if (cmd == L"raw")
            result = URLDownloadToFileW(nullptr, argv[i + 1], argv[i + 2], 0, nullptr);
        else
            return 2;
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        std::fprintf(out, "%ls %08lx %.2f\n", cmd.c_str(), static_cast<unsigned long>(result), ms);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
