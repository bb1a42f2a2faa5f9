// The application services on Windows: timers, posted work, the message
// loop, the program's end, the clock, programs, the default browser, and the
// files (kernel32's private-profile calls for "launcher.ini" among them). The
// windows and the message box are in window.cpp.
#include "framework/win32/platform.h"

#include "framework/portable/player_log.h"
#include "framework/win32/browser.h"
#include "framework/win32/folder_lock.h"
#include "framework/win32/long_paths.h"
#include "framework/win32/text.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <vector>

namespace fw::win32 {

namespace {

// A message-only window that runs posted work, also from the loop of a
// message box or a move (they dispatch window messages, not thread ones).
constexpr wchar_t kPostClass[] = L"VarnholtPosted";
constexpr UINT kPostedWork = WM_APP + 1;

Win32Platform* self = nullptr;
// Set by end(): from then on the window procedure raises no event at all.
bool endingNow = false;

HWND postWindow = nullptr;
std::deque<std::function<void()>> postedWork;

LRESULT CALLBACK postProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg != kPostedWork) return DefWindowProcW(hwnd, msg, wp, lp);
    if (endingNow || postedWork.empty()) return 0;
    auto work = std::move(postedWork.front());
    postedWork.pop_front();
    guarded(work);
    return 0;
}

// The .ico file of an icon group: the group directory with each entry's
// image id replaced by its file offset, then the images.
std::vector<std::uint8_t> iconFile(HINSTANCE instance, int id) {
#pragma pack(push, 2)
    struct GroupEntry {
        BYTE width, height, colours, reserved;
        WORD planes, bitCount;
        DWORD bytes;
        WORD imageId;
    };
#pragma pack(pop)
    auto load = [&](LPCWSTR name, LPCWSTR type) -> std::pair<const BYTE*, DWORD> {
        HRSRC r = FindResourceW(instance, name, type);
        if (!r) throw std::runtime_error("resource not found");
        HGLOBAL g = LoadResource(instance, r);
        return {static_cast<const BYTE*>(LockResource(g)), SizeofResource(instance, r)};
    };
    const auto [group, groupSize] = load(MAKEINTRESOURCEW(id), RT_GROUP_ICON);
    if (groupSize < 6) throw std::runtime_error("bad icon group");
    WORD count = 0;
    std::memcpy(&count, group + 4, 2);
    if (groupSize < 6 + count * sizeof(GroupEntry)) throw std::runtime_error("bad icon group");
    std::vector<std::uint8_t> out(group, group + 6);
    std::vector<std::uint8_t> images;
    DWORD offset = 6 + 16u * count;
    for (WORD i = 0; i < count; ++i) {
        GroupEntry e;
        std::memcpy(&e, group + 6 + i * sizeof(GroupEntry), sizeof e);
        const auto [image, imageSize] = load(MAKEINTRESOURCEW(e.imageId), RT_ICON);
        const BYTE* head = reinterpret_cast<const BYTE*>(&e);
        out.insert(out.end(), head, head + 12);
        for (int b = 0; b < 4; ++b) out.push_back(static_cast<std::uint8_t>(offset >> (8 * b)));
        images.insert(images.end(), image, image + imageSize);
        offset += imageSize;
    }
    out.insert(out.end(), images.begin(), images.end());
    return out;
}

} // namespace

bool ending() {
    return endingNow;
}

void registerWindowClass(HINSTANCE instance, const wchar_t* name, WNDPROC proc, HBRUSH background,
                         bool arrowCursor) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = arrowCursor ? LoadCursorW(nullptr, IDC_ARROW) : nullptr;
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    RegisterClassExW(&wc);
}

Win32Platform::Win32Platform(HINSTANCE instance) : instance_(instance) {
    self = this;
    registerFormClass(instance);
    registerWindowClass(instance, kPostClass, postProc, nullptr, false);
    postWindow = CreateWindowExW(0, kPostClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                                 nullptr);
}

Win32Platform::~Win32Platform() {
    self = nullptr;
}

std::unique_ptr<BrowserPeer> Win32Platform::createBrowser(WindowPeer& parent, BrowserEvents& events,
                                                          const std::optional<Rect>& frame) {
    HWND hwnd = windowHandle(parent);
    if (!hwnd) throw std::runtime_error("the browser's window is gone");
    return createIeBrowser(hwnd, events, frame, [](const char* what) {
        // Events after end() reach nobody; before it, an error ends the program.
        if (self && !endingNow) self->untrapped(what);
    });
}

void CALLBACK Win32Platform::timerProc(HWND, UINT, UINT_PTR id, DWORD) {
    if (!self || endingNow) return;
    self->guarded([&] { self->timerDue(id); });
}

std::uintptr_t Win32Platform::armTimer(TimerId id, int intervalMs) {
    // A window's timer takes the id it is given; like posted work, it also
    // runs from the loop of a message box or a move.
    const auto native = static_cast<UINT_PTR>(id);
    if (!SetTimer(postWindow, native, static_cast<UINT>(intervalMs), timerProc))
        throw std::runtime_error("no timer available");
    return native;
}

void Win32Platform::disarmTimer(std::uintptr_t handle) {
    KillTimer(postWindow, handle);
}

void Win32Platform::teardown(UINT status) {
    endingNow = true;
    stopTimers();
    destroyWindows();
    ExitProcess(status);
}

DateTime Win32Platform::localNow() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

bool Win32Platform::startProcess(const std::string& commandLine) {
    // The program is the first word, or what stands between the first pair
    // of quotes; the rest are its arguments as given. Only a long path needs
    // more than CreateProcessW's own reading of the line.
    const std::wstring line = widen(commandLine);
    std::size_t end = 0;
    std::wstring program;
    if (!line.empty() && line[0] == L'"') {
        end = line.find(L'"', 1);
        if (end == std::wstring::npos) return startCommandLine(line);
        program = line.substr(1, end - 1);
        ++end;
    } else {
        end = std::min(line.find(L' '), line.size());
        program = line.substr(0, end);
    }
    if (program.size() < MAX_PATH) return startCommandLine(line);
    return startProgram(program, line.substr(end));
}

void Win32Platform::openUrl(const std::string& address) {
    ShellExecuteW(nullptr, nullptr, widen(address).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void Win32Platform::post(std::function<void()> work) {
    postedWork.push_back(std::move(work));
    PostMessageW(postWindow, kPostedWork, 0, 0);
}

void Win32Platform::writeDiagnostic(const std::string& line) {
    OutputDebugStringW(widen("launcher: " + line + "\n").c_str());
}

void dispatchPending(bool (*first)(MSG& msg)) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (first(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

int Win32Platform::run() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (translateBrowserAccelerator(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

void Win32Platform::showUntrapped(const std::string& text) {
    // From here on no event reaches the launcher; an error while the program
    // already ends shows nothing.
    if (endingNow) return;
    endingNow = true;
    MessageBoxW(nullptr, widen(text).c_str(), L"launcher",
                MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
}

// --- files -------------------------------------------------------------------

std::string Win32Platform::exeFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const auto slash = path.find_last_of(L'\\');
    if (slash != std::wstring::npos) path.resize(slash);
    // A drive's root keeps its "\": "C:\", not "C:".
    if (path.size() == 2 && path[1] == L':') path += L'\\';
    return narrow(path);
}

std::vector<std::uint8_t> Win32Platform::resource(int id, const std::string& type) {
    // An icon is stored as a group plus one resource per image; it is handed
    // out as the .ico file it was compiled from, as the other builds carry it.
    if (lstrcmpiA(type.c_str(), "ICON") == 0) return iconFile(instance_, id);
    HRSRC r = FindResourceW(instance_, MAKEINTRESOURCEW(id), widen(type).c_str());
    if (!r) throw std::runtime_error("resource not found");
    HGLOBAL g = LoadResource(instance_, r);
    const auto* data = static_cast<const std::uint8_t*>(LockResource(g));
    if (!data) throw std::runtime_error("resource not loaded");
    return {data, data + SizeofResource(instance_, r)};
}

std::string Win32Platform::playerLogPath() {
    return playerLogPathFor(kBrandId);
}

} // namespace fw::win32

namespace fw {

using win32::ansiPath, win32::folderMutexName, win32::fromAnsi, win32::narrow, win32::toAnsiLossy,
    win32::widen;

char pathSeparator() {
    return '\\';
}

bool pathExists(const std::string& path) {
    return GetFileAttributesW(widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool createFolder(const std::string& path) {
    return CreateDirectoryW(widen(path).c_str(), nullptr) != 0;
}
// "launcher.ini" is a file of ANSI bytes and goes through the narrow API as
// bytes. Its path may hold characters that the ANSI code page lacks (a
// Chinese folder name under code page 1252): then the folder's short name
// stands in. Without short names there is no narrow path to the file at all,
// and the wide API (which converts the file's text through the same code
// page) is used instead.
std::string readProfileString(const std::string& section, const std::string& key,
                              const std::string& defaultValue, std::size_t bufferSize,
                              const std::string& path) {
    if (bufferSize == 0) return {};
    const auto size = static_cast<DWORD>(bufferSize);
    const std::wstring widePath = win32::profilePath(widen(path));
    if (const auto narrowPath = ansiPath(widePath)) {
        std::string buffer(bufferSize, '\0');
        const DWORD n = GetPrivateProfileStringA(
            toAnsiLossy(widen(section)).c_str(), toAnsiLossy(widen(key)).c_str(),
            toAnsiLossy(widen(defaultValue)).c_str(), buffer.data(), size, narrowPath->c_str());
        buffer.resize(std::min<std::size_t>(n, bufferSize - 1));
        return narrow(fromAnsi(buffer));
    }
    std::wstring buffer(bufferSize, L'\0');
    const DWORD n = GetPrivateProfileStringW(widen(section).c_str(), widen(key).c_str(),
                                             widen(defaultValue).c_str(), buffer.data(), size,
                                             widePath.c_str());
    buffer.resize(std::min<std::size_t>(n, bufferSize - 1));
    return narrow(buffer);
}

bool writeProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path) {
    const std::wstring widePath = win32::profilePath(widen(path));
    if (const auto narrowPath = ansiPath(widePath))
        return WritePrivateProfileStringA(
                   toAnsiLossy(widen(section)).c_str(), toAnsiLossy(widen(key)).c_str(),
                   toAnsiLossy(widen(value)).c_str(), narrowPath->c_str()) != 0;
    return WritePrivateProfileStringW(widen(section).c_str(), widen(key).c_str(),
                                      widen(value).c_str(), widePath.c_str()) != 0;
}

std::vector<std::string> folderEntries(const std::string& path) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileExW((widen(path) + L"\\*").c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring_view name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(narrow(name));
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
}

void holdFolderLock() {
    // The folder held; its mutex is kept for the run and not inherited by
    // the programs we start (startProcess): it goes with us.
    static std::string held;
    const std::string folder = Platform::get().exeFolder();
    if (folder == held) return;
    if (CreateMutexW(nullptr, FALSE, folderMutexName(widen(folder)).c_str())) held = folder;
}

bool removeFile(const std::string& path) {
    return DeleteFileW(widen(path).c_str()) != 0;
}

bool readFile(const std::string& path, std::string& bytes, std::size_t maxBytes) {
    const HANDLE file = CreateFileW(widen(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    // Sized by the file, not the bound: launcher.ini is read at every start.
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) size.QuadPart = 0;
    bytes.resize(static_cast<std::size_t>(std::min<ULONGLONG>(size.QuadPart, maxBytes)));
    maxBytes = bytes.size();
    std::size_t got = 0;
    bool ok = true;
    while (got < maxBytes) {
        DWORD n = 0;
        const auto want = static_cast<DWORD>(std::min<std::size_t>(maxBytes - got, 1 << 20));
        if (!ReadFile(file, bytes.data() + got, want, &n, nullptr)) ok = false;
        if (!ok || n == 0) break;
        got += n;
    }
    CloseHandle(file);
    bytes.resize(got);
    return ok;
}

} // namespace fw
