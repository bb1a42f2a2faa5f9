// download_probe.exe OUT COMMAND...: calls the Windows downloader as the
// launcher does and writes one UTF-8 line per command into OUT:
//   get URL PATH   -> "get <code as 8 hex digits> <milliseconds> <done|failed|cancelled>"
//   raw URL PATH   -> "raw <result> <milliseconds>": URLDownloadToFileW
//                     alone, the baseline for the downloader's own cost
//   limits BEFORE_RESPONSE_MS SILENCE_MS
//                  -> "limits 00000000 0.00": shorter stall limits for the
//                     calls that follow
//   drain MS -     -> "drain <transfers still running> <milliseconds>":
//                     waits up to MS for the transfers given up on to end
//   silence LAST NOW
//                  -> "silence <the watchdog's silence in ms> ...": its
//                     arithmetic on two clock readings
// Each line is flushed at once, so that a test can follow the run.
#include "framework/win32/download.h"
#include "framework/win32/text.h"
#include "framework/win32/win32_platform.h"

#include <urlmon.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
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
        const char* kind = "-";
        if (cmd == L"get") {
            const auto outcome =
                platform.download(fw::win32::narrow(argv[i + 1]), fw::win32::narrow(argv[i + 2]));
            result = static_cast<long>(outcome.code);
            kind = outcome.done()                                             ? "done"
                   : outcome.result == fw::DownloadOutcome::Result::Cancelled ? "cancelled"
                                                                              : "failed";
        } else if (cmd == L"raw")
            result = URLDownloadToFileW(nullptr, argv[i + 1], argv[i + 2], 0, nullptr);
        else if (cmd == L"limits")
            fw::win32::setDownloadLimitsForTests(
                {std::wcstoul(argv[i + 1], nullptr, 10), std::wcstoul(argv[i + 2], nullptr, 10)});
        else if (cmd == L"silence")
            result = static_cast<long>(fw::win32::silentForMs(
                std::wcstoull(argv[i + 1], nullptr, 10), std::wcstoull(argv[i + 2], nullptr, 10)));
        else if (cmd == L"drain")
            result = fw::win32::waitForAbandonedDownloadsForTests(
                std::wcstoul(argv[i + 1], nullptr, 10));
        else
            return 2;
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        std::fprintf(out, "%ls %08lx %.2f %s\n", cmd.c_str(), static_cast<unsigned long>(result),
                     ms, kind);
        std::fflush(out);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
