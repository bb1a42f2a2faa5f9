#include "framework/win32/long_paths.h"

#include <windows.h>

namespace fw::win32 {

namespace {

bool createProcess(const wchar_t* application, std::wstring commandLine,
                   const std::wstring& folder) {
    // CreateProcessW may write into the command line.
    commandLine.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(application, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

} // namespace

std::wstring fullPath(const std::wstring& path) {
    std::wstring full(GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
    full.resize(
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
    return full.empty() ? path : full;
}

std::wstring extendedPath(const std::wstring& full) {
    if (full.size() < MAX_PATH || full.rfind(L"\\\\", 0) == 0) return full;
    return L"\\\\?\\" + full;
}

std::wstring shortPath(const std::wstring& path) {
    for (const std::wstring& form : {path, L"\\\\?\\" + path}) {
        std::wstring out(GetShortPathNameW(form.c_str(), nullptr, 0), L'\0');
        out.resize(GetShortPathNameW(form.c_str(), out.data(), static_cast<DWORD>(out.size())));
        if (out.rfind(L"\\\\?\\", 0) == 0) out.erase(0, 4);
        if (!out.empty()) return out;
    }
    return {};
}

std::wstring profilePath(const std::wstring& path) {
    const auto slash = path.find_last_of(L'\\');
    if (path.size() < MAX_PATH || slash == std::wstring::npos) return path;
    // The file itself may not exist yet (a first write creates it).
    const std::wstring folder = shortPath(path.substr(0, slash));
    if (folder.empty() || folder.size() + path.size() - slash >= MAX_PATH) return path;
    return folder + path.substr(slash);
}

bool startCommandLine(const std::wstring& commandLine) {
    return createProcess(nullptr, commandLine, {});
}

bool startProgram(const std::wstring& program, const std::wstring& arguments,
                  const std::wstring& folder) {
    const std::wstring quoted = L"\"" + program + L"\"" + arguments;
    const auto slash = program.find_last_of(L'\\');
    if (program.size() < MAX_PATH || slash == std::wstring::npos)
        return createProcess(nullptr, quoted, folder);
    // CreateProcessW refuses a program whose full path is that long (under
    // Wine also through its short path or "\\?\"), but finds it by a name
    // relative to a current directory given as the folder's short path.
    const std::wstring own = shortPath(program.substr(0, slash));
    if (own.empty() || own.size() + program.size() - slash >= MAX_PATH)
        return createProcess(nullptr, quoted, folder);
    std::wstring previous(GetCurrentDirectoryW(0, nullptr), L'\0');
    previous.resize(GetCurrentDirectoryW(static_cast<DWORD>(previous.size()), previous.data()));
    if (!SetCurrentDirectoryW(own.c_str())) return createProcess(nullptr, quoted, folder);
    const std::wstring name = program.substr(slash + 1);
    const bool started =
        createProcess((L".\\" + name).c_str(), L"\"" + own + L"\\" + name + L"\"" + arguments, {});
    SetCurrentDirectoryW(previous.c_str());
    return started;
}

} // namespace fw::win32
