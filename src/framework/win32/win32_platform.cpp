#include "framework/win32/win32_platform.h"

#include "framework/portable/form.h"
#include "framework/win32/browser_ie.h"
#include "framework/win32/text.h"

#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <vector>

namespace fw::win32 {

namespace {

constexpr wchar_t kFormClass[] = L"VarnholtForm";
// A message-only window that runs posted work, also from the loop of a
// message box or a move (they dispatch window messages, not thread ones).
constexpr wchar_t kPostClass[] = L"VarnholtPosted";
constexpr UINT kPostedWork = WM_APP + 1;
// The program icon's group id in launcher.rc.
constexpr int kIconGroup = 1;

Win32Platform* self = nullptr;
// Set by end(): from then on the window procedure raises no event at all.
bool endingNow = false;

class Peer;
// Live windows in creation order.
std::vector<Peer*> peers;
// The windows each open message box disabled, innermost box last: a window
// made while a box is up is disabled with the others.
std::vector<std::vector<HWND>*> boxDisabled;

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

int showCommand(WindowState s) {
    switch (s) {
    case WindowState::Minimized: return SW_SHOWMINIMIZED;
    case WindowState::Maximized: return SW_SHOWMAXIMIZED;
    case WindowState::Normal: break;
    }
    return SW_SHOW;
}

class Peer : public WindowPeer {
public:
    Peer(Form& form, WindowState start) : form_(form), pending_(start) { peers.push_back(this); }

    ~Peer() override {
        peers.erase(std::remove(peers.begin(), peers.end(), this), peers.end());
        if (hwnd_) {
            // Destroying the peer raises no event.
            SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
            DestroyWindow(hwnd_);
        }
    }

    void attach(HWND hwnd) { hwnd_ = hwnd; }
    // The system destroyed the window (for example with its owner).
    void detach() { hwnd_ = nullptr; }
    HWND hwnd() const { return hwnd_; }
    Form& form() { return form_; }
    // Restored together with its owner: the system showed it itself.
    void shownBySystem() { hasPending_ = false; }
    bool newSize(WPARAM type, LPARAM size) {
        if (type == lastSizeType_ && size == lastSize_) return false;
        lastSizeType_ = type;
        lastSize_ = size;
        return true;
    }

    void show() override {
        if (!hwnd_) return;
        // Under an open question the question keeps the keyboard: a window
        // shown meanwhile would take it, and Return would answer nothing.
        HWND question = boxDisabled.empty() ? nullptr : GetActiveWindow();
        // A state set while hidden (and the design-time state at the first
        // show) takes effect with the show.
        ShowWindow(hwnd_, hasPending_ ? showCommand(pending_) : SW_SHOW);
        hasPending_ = false;
        if (question && question != hwnd_) SetActiveWindow(question);
    }
    void hide() override {
        if (hwnd_) ShowWindow(hwnd_, SW_HIDE);
    }
    bool visible() const override { return hwnd_ && IsWindowVisible(hwnd_); }
    Point position() const override {
        RECT r{};
        if (hwnd_) GetWindowRect(hwnd_, &r);
        return {r.left, r.top};
    }
    void move(Point p) override {
        if (!hwnd_) return;
        // Asked every 10 ms by the login window's timer: a window already in
        // place is left alone.
        const Point now = position();
        if (now.x == p.x && now.y == p.y) return;
        SetWindowPos(hwnd_, nullptr, p.x, p.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    WindowState state() const override {
        if (!hwnd_) return pending_;
        if (hasPending_ && !IsWindowVisible(hwnd_)) return pending_;
        if (IsIconic(hwnd_)) return WindowState::Minimized;
        if (IsZoomed(hwnd_)) return WindowState::Maximized;
        return WindowState::Normal;
    }
    void setState(WindowState s) override {
        if (!hwnd_) return;
        // ShowWindow would also show a hidden window; keep it for the show.
        if (!IsWindowVisible(hwnd_)) {
            pending_ = s;
            hasPending_ = true;
            return;
        }
        ShowWindow(hwnd_, s == WindowState::Minimized   ? SW_MINIMIZE
                          : s == WindowState::Maximized ? SW_MAXIMIZE
                                                        : SW_RESTORE);
        // Windows hides a minimised window's owned windows until it is
        // restored; Wine leaves them up, to be minimised on their own and
        // stay so when the owner comes back. Hidden this way, the owner's
        // restore (SC_RESTORE) shows them again there too.
        if (s == WindowState::Minimized) ShowOwnedPopups(hwnd_, FALSE);
    }
    std::string caption() const override {
        if (!hwnd_) return {};
        std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd_)) + 1, L'\0');
        text.resize(static_cast<std::size_t>(
            GetWindowTextW(hwnd_, text.data(), static_cast<int>(text.size()))));
        return narrow(text);
    }
    void setCaption(const std::string& text) override {
        if (hwnd_) SetWindowTextW(hwnd_, widen(text).c_str());
    }
    Size clientSize() const override {
        RECT r{};
        if (hwnd_) GetClientRect(hwnd_, &r);
        return {r.right - r.left, r.bottom - r.top};
    }
    void beginMoveDrag() override {
        if (!hwnd_) return;
        ReleaseCapture();
        // The system's move loop; returns when the button is released.
        SendMessageW(hwnd_, WM_NCLBUTTONDOWN, HTCAPTION, 0);
    }
    OleColor backColor() const override { return backColor_; }
    void setBackColor(OleColor colour) override {
        backColor_ = colour;
        if (hwnd_) InvalidateRect(hwnd_, nullptr, TRUE);
    }

private:
    Form& form_;
    HWND hwnd_ = nullptr;
    WindowState pending_;
    bool hasPending_ = true;
    WPARAM lastSizeType_ = ~WPARAM{0};
    LPARAM lastSize_ = -1;
    OleColor backColor_ = 0x8000000F; // the button face
};

Peer* peerOf(HWND hwnd) {
    for (Peer* p : peers)
        if (p->hwnd() == hwnd) return p;
    return nullptr;
}

int modifierKeys(WPARAM wp) {
    int shift = 0;
    if (wp & MK_SHIFT) shift |= 1;
    if (wp & MK_CONTROL) shift |= 2;
    if (GetKeyState(VK_MENU) < 0) shift |= 4;
    return shift;
}

LRESULT CALLBACK formProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* peer = static_cast<Peer*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        peer->attach(hwnd);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(peer));
    }
    auto* peer = reinterpret_cast<Peer*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (peer && msg == WM_NCDESTROY) {
        peer->detach();
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        peer = nullptr;
    }
    if (!peer || endingNow) {
        // The Form decides about closing; nothing else may destroy it.
        if (msg == WM_CLOSE) return 0;
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    // The form outlives its peer, which a handler below may destroy.
    Form& form = peer->form();
    switch (msg) {
    case WM_CLOSE: guarded([&] { form.onCloseRequest(UnloadMode::ControlMenu); }); return 0;
    case WM_QUERYENDSESSION:
        guarded([&] { form.onCloseRequest(UnloadMode::WindowsSession); });
        return form.Loaded() ? FALSE : TRUE;
    case WM_SIZE:
        // One resize event for each new size or state: the system may
        // repeat the same WM_SIZE (a maximised first show sends two).
        if (peer->newSize(wp, lp)) guarded([&] { form.onResize(); });
        return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: {
        const int button = msg == WM_LBUTTONDOWN ? 1 : msg == WM_RBUTTONDOWN ? 2 : 4;
        const int shift = modifierKeys(wp);
        const auto x = static_cast<float>(GET_X_LPARAM(lp));
        const auto y = static_cast<float>(GET_Y_LPARAM(lp));
        guarded([&] { form.onMouseDown(button, shift, x, y); });
        return 0;
    }
    case WM_SHOWWINDOW:
        if (wp && lp == SW_PARENTOPENING) peer->shownBySystem();
        break;
    case WM_ERASEBKGND: {
        // The window's own surface in its back colour (the colour key of
        // the login window is painted here).
        RECT r{};
        GetClientRect(hwnd, &r);
        HBRUSH brush = CreateSolidBrush(colorRef(peer->backColor()));
        FillRect(reinterpret_cast<HDC>(wp), &r, brush);
        DeleteObject(brush);
        return 1;
    }
    default: break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
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

HWND windowHandle(const WindowPeer& window) {
    return static_cast<const Peer&>(window).hwnd();
}

COLORREF colorRef(OleColor colour) {
    if (colour & 0x80000000u) return GetSysColor(static_cast<int>(colour & 0xFF));
    return colour & 0x00FFFFFFu;
}

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
    Platform::install(this);
    registerWindowClass(instance, kFormClass, formProc, GetSysColorBrush(COLOR_BTNFACE));
    registerWindowClass(instance, kPostClass, postProc, nullptr, false);
    postWindow = CreateWindowExW(0, kPostClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                                 nullptr);
}

Win32Platform::~Win32Platform() {
    Platform::install(nullptr);
    self = nullptr;
}

std::unique_ptr<WindowPeer> Win32Platform::createWindow(Form& events, const FormLayout& layout,
                                                        WindowPeer* owner) {
    DWORD style = WS_CLIPCHILDREN;
    // No frame at all: the client area starts at the window's corner. The
    // minimise box lets the taskbar button minimise it.
    style |= layout.border == Border::None ? WS_POPUP | WS_MINIMIZEBOX : WS_OVERLAPPEDWINDOW;
    HWND ownerWnd = owner ? static_cast<Peer*>(owner)->hwnd() : nullptr;
    DWORD exStyle = 0;
    // An owned window has no taskbar button of its own anyway.
    if (!layout.taskbar && !ownerWnd) exStyle |= WS_EX_TOOLWINDOW;
    if (layout.taskbar && ownerWnd) exStyle |= WS_EX_APPWINDOW;

    RECT outer{0, 0, layout.clientWidth, layout.clientHeight};
    AdjustWindowRectEx(&outer, style, FALSE, exStyle);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    int x = layout.border == Border::None ? 0 : CW_USEDEFAULT;
    int y = layout.border == Border::None ? 0 : CW_USEDEFAULT;
    if (layout.centred) {
        RECT work{};
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        x = work.left + (work.right - work.left - width) / 2;
        y = work.top + (work.bottom - work.top - height) / 2;
    }

    auto peer = std::make_unique<Peer>(events, layout.startState);
    CreateWindowExW(exStyle, kFormClass, widen(layout.caption).c_str(), style, x, y, width, height,
                    ownerWnd, nullptr, instance_, peer.get());
    if (!peer->hwnd()) throw std::runtime_error("the window could not be created");
    // Opened while a question is up (a page that hands over by itself): it
    // takes no input until the answer, as the windows that were there.
    if (!boxDisabled.empty()) {
        EnableWindow(peer->hwnd(), FALSE);
        boxDisabled.front()->push_back(peer->hwnd());
    }
    // The form raises the load's first resize itself; the system's first
    // WM_SIZE for the same size (sent at the first show) is not a new one.
    RECT client{};
    GetClientRect(peer->hwnd(), &client);
    peer->newSize(SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
    if (layout.icon) {
        auto icon = [&](int cx, int cy) {
            return reinterpret_cast<LPARAM>(LoadImageW(instance_, MAKEINTRESOURCEW(kIconGroup),
                                                       IMAGE_ICON, GetSystemMetrics(cx),
                                                       GetSystemMetrics(cy), LR_SHARED));
        };
        SendMessageW(peer->hwnd(), WM_SETICON, ICON_BIG, icon(SM_CXICON, SM_CYICON));
        SendMessageW(peer->hwnd(), WM_SETICON, ICON_SMALL, icon(SM_CXSMICON, SM_CYSMICON));
    }
    return peer;
}

std::unique_ptr<BrowserPeer> Win32Platform::createBrowser(WindowPeer& parent, BrowserEvents& events,
                                                          const std::optional<Rect>& frame) {
    HWND hwnd = static_cast<Peer&>(parent).hwnd();
    if (!hwnd) throw std::runtime_error("the browser's window is gone");
    return createIeBrowser(hwnd, events, frame, [](const char* what) {
        // Events after end() reach nobody; before it, an error ends the program.
        if (self && !endingNow) self->untrapped(what);
    });
}

void CALLBACK Win32Platform::timerProc(HWND, UINT, UINT_PTR id, DWORD) {
    if (!self || endingNow) return;
    const auto it = self->timers_.find(id);
    if (it == self->timers_.end()) return;
    // The tick may stop its own timer.
    const auto tick = it->second;
    guarded([&] { (*tick)(); });
}

TimerId Win32Platform::startTimer(int intervalMs, std::function<void()> tick) {
    // A thread timer: no window needed, and the system's ids are never 0.
    const UINT_PTR id = SetTimer(nullptr, 0, static_cast<UINT>(std::max(intervalMs, 1)), timerProc);
    if (id == 0) throw std::runtime_error("no timer available");
    timers_[id] = std::make_shared<std::function<void()>>(std::move(tick));
    return id;
}

void Win32Platform::stopTimer(TimerId id) {
    const auto it = timers_.find(static_cast<UINT_PTR>(id));
    if (it == timers_.end()) return;
    KillTimer(nullptr, it->first);
    timers_.erase(it);
}

namespace {

// A message box breaks its text at blanks and line breaks only and grows as
// wide as the longest run without one. A run wider than half the work area
// of the box's monitor is therefore broken into lines that fit there,
// measured in the font message boxes use, so that the box and its buttons
// stay on the screen; shorter runs are left to the box.
std::wstring fitToScreen(HWND owner, const std::wstring& text) {
    HMONITOR monitor = MonitorFromWindow(owner, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO screen{};
    screen.cbSize = sizeof screen;
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!GetMonitorInfoW(monitor, &screen) ||
        !SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        return text;
    const int limit = (screen.rcWork.right - screen.rcWork.left) / 2;
    HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    std::wstring out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of(L" \t\r\n", pos);
        if (end == std::wstring::npos) end = text.size();
        while (pos < end) {
            int fit = 0;
            SIZE size{};
            GetTextExtentExPointW(dc, text.data() + pos, static_cast<int>(end - pos), limit, &fit,
                                  nullptr, &size);
            auto take = static_cast<std::size_t>(std::max(fit, 1));
            // A surrogate pair stays whole.
            if (pos + take < end && IS_HIGH_SURROGATE(text[pos + take - 1]))
                take = take > 1 ? take - 1 : take + 1;
            out.append(text, pos, take);
            pos += take;
            if (pos < end) out += L'\n';
        }
        if (end < text.size()) out += text[end];
        pos = end + 1;
    }
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    DeleteObject(font);
    return out;
}

} // namespace

int Win32Platform::messageBox(const std::string& text, const std::string& title, int style) {
    // Over the launcher's windows: owned by the active one, or by the newest
    // visible one when another program is active.
    HWND owner = nullptr;
    HWND active = GetActiveWindow();
    if (active && peerOf(active) && IsWindowVisible(active)) owner = active;
    for (auto it = peers.rbegin(); !owner && it != peers.rend(); ++it)
        if ((*it)->visible()) owner = (*it)->hwnd();
    // Modal for the whole launcher, not only for the owner: no other window
    // takes a click (a second close, a drag) while the question is open.
    std::vector<HWND> disabled;
    for (Peer* p : peers)
        if (p->hwnd() && p->hwnd() != owner && IsWindowEnabled(p->hwnd())) {
            EnableWindow(p->hwnd(), FALSE);
            disabled.push_back(p->hwnd());
        }
    UINT flags = (style & kOkCancel) ? MB_OKCANCEL : MB_OK;
    if (style & kCritical) flags |= MB_ICONERROR;
    flags |= owner ? MB_APPLMODAL : MB_TASKMODAL;
    flags |= MB_SETFOREGROUND;
    boxDisabled.push_back(&disabled);
    const int answer =
        MessageBoxW(owner, fitToScreen(owner, widen(text)).c_str(), widen(title).c_str(), flags);
    boxDisabled.pop_back();
    for (HWND h : disabled)
        if (IsWindow(h)) EnableWindow(h, TRUE);
    // Esc and the close box answer IDCANCEL (IDOK for an OK-only box); a box
    // that could not be shown counts as not confirmed.
    return answer == IDOK ? kIdOk : kIdCancel;
}

void Win32Platform::end() {
    teardown(0);
}

void Win32Platform::teardown(UINT status) {
    endingNow = true;
    for (const auto& t : timers_) KillTimer(nullptr, t.first);
    // Owned windows first; their owners would take them along anyway.
    for (auto it = peers.rbegin(); it != peers.rend(); ++it)
        if (HWND h = (*it)->hwnd()) DestroyWindow(h);
    ExitProcess(status);
}

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

DateTime Win32Platform::localNow() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

bool Win32Platform::pathExists(const std::string& path) {
    return GetFileAttributesW(widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Win32Platform::createFolder(const std::string& path) {
    return CreateDirectoryW(widen(path).c_str(), nullptr) != 0;
}

bool Win32Platform::startProcess(const std::string& commandLine) {
    // CreateProcessW may write into the command line.
    std::wstring cmd = widen(commandLine);
    cmd.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

void Win32Platform::openUrl(const std::string& address) {
    ShellExecuteW(nullptr, nullptr, widen(address).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// "launcher.ini" is a file of ANSI bytes and goes through the narrow API as
// bytes. Its path may hold characters that the ANSI code page lacks (a
// Chinese folder name under code page 1252): then the folder's short name
// stands in. Without short names there is no narrow path to the file at all,
// and the wide API (which converts the file's text through the same code
// page) is used instead.
std::string Win32Platform::readProfileString(const std::string& section, const std::string& key,
                                             const std::string& defaultValue,
                                             std::size_t bufferSize, const std::string& path) {
    if (bufferSize == 0) return {};
    const auto size = static_cast<DWORD>(bufferSize);
    const std::wstring widePath = widen(path);
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

bool Win32Platform::writeProfileString(const std::string& section, const std::string& key,
                                       const std::string& value, const std::string& path) {
    const std::wstring widePath = widen(path);
    if (const auto narrowPath = ansiPath(widePath))
        return WritePrivateProfileStringA(
                   toAnsiLossy(widen(section)).c_str(), toAnsiLossy(widen(key)).c_str(),
                   toAnsiLossy(widen(value)).c_str(), narrowPath->c_str()) != 0;
    return WritePrivateProfileStringW(widen(section).c_str(), widen(key).c_str(),
                                      widen(value).c_str(), widePath.c_str()) != 0;
}

void Win32Platform::post(std::function<void()> work) {
    postedWork.push_back(std::move(work));
    PostMessageW(postWindow, kPostedWork, 0, 0);
}

void Win32Platform::diagnostic(const std::string& line) {
    OutputDebugStringW(widen("launcher: " + line + "\n").c_str());
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

void Win32Platform::untrapped(const char* what) {
    // The program is ending from here on: one error box, and while it is up
    // no event reaches the launcher, so a timer or a page that keeps failing
    // cannot stack more boxes behind it.
    const bool first = !endingNow;
    endingNow = true;
    if (first) {
        const std::wstring text = L"运行时错误：\n\n" + widen(what);
        MessageBoxW(nullptr, text.c_str(), L"launcher",
                    MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
    }
    teardown(1);
}

} // namespace fw::win32
