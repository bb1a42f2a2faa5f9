// The form windows: the window peer, its window procedure, and the message
// box, which disables the launcher's windows while it is up.
#include "framework/win32/platform.h"
#include "framework/win32/text.h"

#include <windowsx.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace fw::win32 {

namespace {

constexpr wchar_t kFormClass[] = L"VarnholtForm";
// The program icon's group id in launcher.rc.
constexpr int kIconGroup = 1;

class Win32WindowPeer;
// Live windows in creation order.
std::vector<Win32WindowPeer*> peers;
// The windows each open message box disabled, innermost box last: a window
// made while a box is up is disabled with the others.
std::vector<std::vector<HWND>*> boxDisabled;

int showCommand(WindowState s) {
    switch (s) {
    case WindowState::Minimized: return SW_SHOWMINIMIZED;
    case WindowState::Maximized: return SW_SHOWMAXIMIZED;
    case WindowState::Normal: break;
    }
    return SW_SHOW;
}

class Win32WindowPeer : public WindowPeer {
public:
    Win32WindowPeer(WindowEvents& form, WindowState start) : form_(form), pending_(start) {
        peers.push_back(this);
    }

    ~Win32WindowPeer() override {
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
    WindowEvents& form() const { return form_; }
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
    void activate() override {
        if (!hwnd_ || !IsWindowVisible(hwnd_)) return;
        if (IsIconic(hwnd_)) ShowWindow(hwnd_, SW_RESTORE);
        SetForegroundWindow(hwnd_); // WM_ACTIVATE tells the form
    }
    void backColorChanged() override {
        if (hwnd_) InvalidateRect(hwnd_, nullptr, TRUE);
    }

private:
    WindowEvents& form_;
    HWND hwnd_ = nullptr;
    WindowState pending_;
    bool hasPending_ = true;
    WPARAM lastSizeType_ = ~WPARAM{0};
    LPARAM lastSize_ = -1;
};

Win32WindowPeer* peerOf(HWND hwnd) {
    for (Win32WindowPeer* p : peers)
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
    auto* peer = windowObject<Win32WindowPeer>(hwnd, msg, lp);
    if (msg == WM_NCCREATE) peer->attach(hwnd);
    if (peer && msg == WM_NCDESTROY) {
        peer->detach();
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        peer = nullptr;
    }
    if (!peer || ending()) {
        // The window object decides about closing; nothing else may destroy it.
        if (msg == WM_CLOSE) return 0;
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    // The form outlives its peer, which a handler below may destroy.
    WindowEvents& form = peer->form();
    switch (msg) {
    case WM_CLOSE: guarded([&] { form.onCloseRequest(UnloadMode::ControlMenu); }); return 0;
    case WM_QUERYENDSESSION:
        guarded([&] { form.onCloseRequest(UnloadMode::WindowsSession); });
        return form.hasWindow() ? FALSE : TRUE;
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
    case WM_ACTIVATE: {
        // The system's focus to the window first; the form may move it on.
        const LRESULT result = DefWindowProcW(hwnd, msg, wp, lp);
        if (LOWORD(wp) != WA_INACTIVE && !HIWORD(wp)) guarded([&] { form.onActivate(); });
        return result;
    }
    case WM_ERASEBKGND: {
        // The window's own surface in its back colour (the colour key of
        // the login window is painted here).
        RECT r{};
        GetClientRect(hwnd, &r);
        HBRUSH brush = CreateSolidBrush(colorRef(form.backColor()));
        FillRect(reinterpret_cast<HDC>(wp), &r, brush);
        DeleteObject(brush);
        return 1;
    }
    default: break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

} // namespace

HWND windowHandle(const WindowPeer& window) {
    return static_cast<const Win32WindowPeer&>(window).hwnd();
}

OleColor backColorOf(const WindowPeer& window) {
    return static_cast<const Win32WindowPeer&>(window).form().backColor();
}

COLORREF colorRef(OleColor colour) {
    if (colour & 0x80000000u) return GetSysColor(static_cast<int>(colour & 0xFF));
    return colour & 0x00FFFFFFu;
}

void registerFormClass(HINSTANCE instance) {
    registerWindowClass(instance, kFormClass, formProc, GetSysColorBrush(COLOR_BTNFACE));
}

void destroyWindows() {
    // Owned windows first; their owners would take them along anyway.
    for (auto it = peers.rbegin(); it != peers.rend(); ++it)
        if (HWND h = (*it)->hwnd()) DestroyWindow(h);
}

std::unique_ptr<WindowPeer>
Win32Platform::createWindow(WindowEvents& events, const FormLayout& layout, WindowPeer* owner) {
    DWORD style = WS_CLIPCHILDREN;
    // No frame at all: the client area starts at the window's corner. The
    // minimise box lets the taskbar button minimise it.
    style |= layout.border == Border::None ? WS_POPUP | WS_MINIMIZEBOX : WS_OVERLAPPEDWINDOW;
    HWND ownerWnd = owner ? static_cast<Win32WindowPeer*>(owner)->hwnd() : nullptr;
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

    auto peer = std::make_unique<Win32WindowPeer>(events, layout.startState);
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
    for (Win32WindowPeer* p : peers)
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

} // namespace fw::win32
