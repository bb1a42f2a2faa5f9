// download_probe.exe OUT COMMAND...: calls the Windows downloader as the
// launcher does and writes one UTF-8 line per command into OUT:
//   get URL PATH   -> "get <code as 8 hex digits> <milliseconds> <done|failed|cancelled>"
//   raw URL PATH   -> "raw <result> <milliseconds>": URLDownloadToFileW
//                     alone, the baseline for the downloader's own cost
//   capped URL PATH   as get, bounded to 1 MiB
//   cancel URL PATH   as get, watched and cancelled after a second
//   start PROGRAM -   -> "start <1: started>": Host::startProcess of
//                     the quoted path
//   hold PATH TARGET  -> "hold <bits>": holds PATH; 1: a rename over it is
//                     refused, 2: so is its deletion, 4: it reads whole,
//                     8: moveTo(TARGET) moved it, 16: a rename over its new
//                     name is refused, 32: it started while held
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
#include "framework/win32/platform.h"
#include "framework/win32/text.h"

#include <urlmon.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {
long hold(fw::Platform& platform, const std::wstring& path, const std::wstring& target) {
    const std::wstring other = path + L".other";
    if (HANDLE f = CreateFileW(other.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        f != INVALID_HANDLE_VALUE)
        CloseHandle(f);
    auto held = platform.holdFile(fw::win32::narrow(path));
    if (!held) return 0;
    long bits = 0;
    std::string bytes;
    if (!MoveFileExW(other.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) bits |= 1;
    if (!DeleteFileW(path.c_str())) bits |= 2;
    if (held->read(bytes, 64 << 20) && bytes.size() > 2 && bytes.compare(0, 2, "MZ") == 0)
        bits |= 4;
    if (held->moveTo(fw::win32::narrow(target))) bits |= 8;
    if (!MoveFileExW(other.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) bits |= 16;
    if (held->start()) bits |= 32;
    DeleteFileW(other.c_str());
    return bits;
}
} // namespace

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
        if (cmd == L"get" || cmd == L"capped" || cmd == L"cancel") {
            fw::DownloadWatch watch;
            watch.progress = [&](std::int64_t, std::int64_t) {
                if (std::chrono::steady_clock::now() - start > std::chrono::seconds(1))
                    watch.cancel = true;
            };
            const auto outcome = fw::download(
                fw::win32::narrow(argv[i + 1]), fw::win32::narrow(argv[i + 2]),
                cmd == L"cancel" ? &watch : nullptr,
                cmd == L"capped" ? fw::DownloadBounds{0, 1 << 20} : fw::DownloadBounds{});
            result = static_cast<long>(outcome.code);
            kind = outcome.done()                                             ? "done"
                   : outcome.result == fw::DownloadOutcome::Result::Cancelled ? "cancelled"
                                                                              : "failed";
        } else if (cmd == L"raw")
            result = URLDownloadToFileW(nullptr, argv[i + 1], argv[i + 2], 0, nullptr);
        else if (cmd == L"start")
            result = platform.startProcess("\"" + fw::win32::narrow(argv[i + 1]) + "\"");
        else if (cmd == L"hold")
            result = hold(platform, argv[i + 1], argv[i + 2]);
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
