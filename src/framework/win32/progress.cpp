// The progress window on Windows: a small captioned window of our own class
// with a text, a progress bar, a line of figures and a push button. While it
// lives every other window of the thread is disabled, as under a message
// box; the watched download (download.cpp) turns the message loop meanwhile.
#include "framework/win32/platform.h"
#include "framework/win32/text.h"

#include <commctrl.h>

#include <vector>

namespace fw::win32 {

namespace {

constexpr wchar_t kProgressClass[] = L"LauncherProgress";
constexpr int kWidth = 400; // client pixels
constexpr int kHeight = 128;
HWND current = nullptr; // the window that takes dialog keys

class Win32Progress final : public ProgressPeer {
public:
    Win32Progress(HWND owner, const std::string& title, const std::string& text,
                  const std::string& button, std::function<void()> onButton)
        : onButton_(std::move(onButton)) {
        HINSTANCE instance = GetModuleHandleW(nullptr);
        static const bool registered = [instance] {
            INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
            InitCommonControlsEx(&icc);
            registerWindowClass(instance, kProgressClass, proc, GetSysColorBrush(COLOR_BTNFACE));
            return true;
        }();
        (void)registered;

        const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
        RECT outer{0, 0, kWidth, kHeight};
        AdjustWindowRectEx(&outer, style, FALSE, WS_EX_DLGMODALFRAME);
        const int w = outer.right - outer.left, h = outer.bottom - outer.top;
        RECT around{};
        if (!owner || !GetWindowRect(owner, &around))
            SystemParametersInfoW(SPI_GETWORKAREA, 0, &around, 0);
        hwnd_ = CreateWindowExW(WS_EX_DLGMODALFRAME, kProgressClass, widen(title).c_str(), style,
                                (around.left + around.right - w) / 2,
                                (around.top + around.bottom - h) / 2, w, h, owner, nullptr,
                                instance, this);
        if (!hwnd_) throw std::runtime_error("the progress window could not be created");

        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
        font_ = CreateFontIndirectW(&metrics.lfMessageFont);
        auto child = [&](const wchar_t* cls, const std::wstring& caption, DWORD extra, int x, int y,
                         int cx, int cy, int id) {
            HWND c =
                CreateWindowExW(0, cls, caption.c_str(), WS_CHILD | WS_VISIBLE | extra, x, y, cx,
                                cy, hwnd_, reinterpret_cast<HMENU>(INT_PTR{id}), instance, nullptr);
            SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
            return c;
        };
        child(L"STATIC", widen(text), SS_LEFT, 12, 12, kWidth - 24, 18, 0);
        bar_ = child(PROGRESS_CLASSW, L"", 0, 12, 36, kWidth - 24, 16, 0);
        SendMessageW(bar_, PBM_SETRANGE32, 0, 1000);
        figures_ = child(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, 12, 60, kWidth - 24, 18, 0);
        HWND cancel = child(L"BUTTON", widen(button), BS_DEFPUSHBUTTON | WS_TABSTOP, kWidth - 96,
                            kHeight - 38, 84, 26, IDCANCEL);

        // Modal for the whole launcher, as a message box is.
        EnumThreadWindows(GetCurrentThreadId(), disableOther, reinterpret_cast<LPARAM>(this));
        ShowWindow(hwnd_, SW_SHOW);
        SetForegroundWindow(hwnd_);
        SetFocus(cancel);
        current = hwnd_;
    }
    ~Win32Progress() override {
        current = nullptr;
        // The others first, so that the activation goes back to them.
        for (HWND h : disabled_)
            if (IsWindow(h)) EnableWindow(h, TRUE);
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
        if (font_) DeleteObject(font_);
    }
    Win32Progress(const Win32Progress&) = delete;
    Win32Progress& operator=(const Win32Progress&) = delete;

    void update(double fraction, const std::string& figures) override {
        // Without a length there is nothing for the bar to show.
        ShowWindow(bar_, fraction >= 0 ? SW_SHOWNA : SW_HIDE);
        if (fraction >= 0) SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(fraction * 1000), 0);
        SetWindowTextW(figures_, widen(figures).c_str());
    }

private:
    static BOOL CALLBACK disableOther(HWND other, LPARAM self) {
        auto* p = reinterpret_cast<Win32Progress*>(self);
        if (other != p->hwnd_ && IsWindowVisible(other) && IsWindowEnabled(other)) {
            EnableWindow(other, FALSE);
            p->disabled_.push_back(other);
        }
        return TRUE;
    }
    static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        auto* self = windowObject<Win32Progress>(hwnd, msg, lp);
        // The button, Esc (through IsDialogMessage) and the close box all
        // ask to stop; the window stays until the transfer has ended.
        if (self && !ending() &&
            ((msg == WM_COMMAND && LOWORD(wp) == IDCANCEL) || msg == WM_CLOSE)) {
            guarded([self] { self->onButton_(); });
            return 0;
        }
        if (msg == WM_CLOSE) return 0;
        return DefWindowProcW(hwnd, msg, wp, lp);
    }

    std::function<void()> onButton_;
    HWND hwnd_ = nullptr;
    HWND bar_ = nullptr;
    HWND figures_ = nullptr;
    HFONT font_ = nullptr;
    std::vector<HWND> disabled_;
};

} // namespace

bool progressDialogMessage(MSG& msg) {
    return current && IsDialogMessageW(current, &msg);
}

std::unique_ptr<ProgressPeer> Win32Platform::createProgressWindow(WindowPeer* owner,
                                                                  const std::string& title,
                                                                  const std::string& text,
                                                                  const std::string& button,
                                                                  std::function<void()> onButton) {
    return std::make_unique<Win32Progress>(owner ? windowHandle(*owner) : nullptr, title, text,
                                           button, std::move(onButton));
}

} // namespace fw::win32
