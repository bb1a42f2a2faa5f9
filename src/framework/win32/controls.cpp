// The host surface of the picture button on Windows: a child window of our own
// class that the control paints. Every notification goes through `guarded`,
// as the forms' own do.
#include "framework/ports/control.h"
#include "framework/ports/imaging.h"
#include "framework/win32/accessible.h"
#include "framework/win32/browser.h"
#include "framework/win32/platform.h"
#include "framework/win32/text.h"

#include <oleacc.h>
#include <uxtheme.h>
#include <vssym32.h>
#include <windowsx.h>

#include <cmath>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <stdexcept>

namespace fw::win32 {

namespace {

constexpr wchar_t kSurfaceClass[] = L"VarnholtControl";

// uxtheme is loaded when first needed, so that the program also starts where
// it is missing; the themed background is then simply not drawn.
struct Theme {
    decltype(&OpenThemeData) open = nullptr;
    decltype(&DrawThemeBackground) draw = nullptr;
    decltype(&CloseThemeData) close = nullptr;

    static const Theme& get() {
        static const Theme theme = [] {
            Theme t;
            if (HMODULE dll = LoadLibraryW(L"uxtheme.dll")) {
                t.open = reinterpret_cast<decltype(open)>(
                    reinterpret_cast<void*>(GetProcAddress(dll, "OpenThemeData")));
                t.draw = reinterpret_cast<decltype(draw)>(
                    reinterpret_cast<void*>(GetProcAddress(dll, "DrawThemeBackground")));
                t.close = reinterpret_cast<decltype(close)>(
                    reinterpret_cast<void*>(GetProcAddress(dll, "CloseThemeData")));
                if (!t.open || !t.draw || !t.close) t = Theme{};
            }
            return t;
        }();
        return theme;
    }
};

int screenDpi(int axis) {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, axis);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

RECT toRect(const Bounds& b) {
    return {b.left, b.top, b.right, b.bottom};
}

// The default GUI font as a font object (size in points at the screen's
// resolution).
FontRef defaultFont() {
    LOGFONTW lf{};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
    auto f = std::make_shared<Font>();
    f->face = narrow(lf.lfFaceName);
    f->size = std::abs(lf.lfHeight) * 72.0 / screenDpi(LOGPIXELSY);
    f->weight = static_cast<int>(lf.lfWeight);
    f->charset = lf.lfCharSet;
    f->italic = lf.lfItalic != 0;
    f->underline = lf.lfUnderline != 0;
    f->strikethrough = lf.lfStrikeOut != 0;
    return f;
}

HFONT createFont(const Font& f) {
    LOGFONTW lf{};
    lf.lfHeight = -static_cast<LONG>(std::lround(f.size * screenDpi(LOGPIXELSY) / 72.0));
    lf.lfWeight = f.weight;
    lf.lfItalic = f.italic;
    lf.lfUnderline = f.underline;
    lf.lfStrikeOut = f.strikethrough;
    lf.lfCharSet = static_cast<BYTE>(f.charset);
    const std::wstring face = widen(f.face);
    wcsncpy(lf.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    return CreateFontIndirectW(&lf);
}

// Shift mask of the control events: 1 Shift, 2 Ctrl, 4 Alt, as they are now.
std::int16_t shiftMask() {
    std::int16_t m = 0;
    if (GetKeyState(VK_SHIFT) < 0) m |= 1;
    if (GetKeyState(VK_CONTROL) < 0) m |= 2;
    if (GetKeyState(VK_MENU) < 0) m |= 4;
    return m;
}

std::int16_t buttonMask(WPARAM wp) {
    std::int16_t m = 0;
    if (wp & MK_LBUTTON) m |= 1;
    if (wp & MK_RBUTTON) m |= 2;
    if (wp & MK_MBUTTON) m |= 4;
    return m;
}

class Surface final : public ControlSurface {
public:
    Surface(WindowPeer& parent, ControlEvents& events, const Rect& rect, int tabIndex,
            HINSTANCE instance)
        : parent_(parent), events_(events), tabIndex_(tabIndex) {
        HWND parentWnd = windowHandle(parent);
        if (!parentWnd) throw std::runtime_error("the control's window is gone");
        hwnd_ = CreateWindowExW(
            0, kSurfaceClass, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS, rect.left,
            rect.top, rect.width, rect.height, parentWnd, nullptr, instance, this);
        if (!hwnd_) throw std::runtime_error("the control could not be created");
        placeInTabOrder();
        // The control is still being made while the surface is created: the
        // system's first size reaches it later, before anything else.
        creating_ = false;
    }

    ~Surface() override {
        // Destroying the surface raises no event (a focus change included).
        accessible_.disconnect();
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

    // --- drawing ---
    void fillBackground(OleColor colour) override {
        if (!dc_) return;
        RECT client{};
        GetClientRect(hwnd_, &client);
        HBRUSH brush = CreateSolidBrush(colorRef(colour));
        FillRect(dc_, &client, brush);
        DeleteObject(brush);
    }

    bool drawThemeBackground(int state, const Bounds& rect, const Bounds& clip) override {
        const Theme& t = Theme::get();
        if (!dc_ || !t.open) return false;
        HTHEME theme = t.open(hwnd_, L"Button");
        if (!theme) return false;
        const RECT r = toRect(rect);
        const RECT c = toRect(clip);
        t.draw(theme, dc_, BP_PUSHBUTTON, state, &r, &c);
        t.close(theme);
        return true;
    }

    void drawFocusRect(const Bounds& rect) override {
        if (!dc_) return;
        const RECT r = toRect(rect);
        DrawFocusRect(dc_, &r);
    }

    void renderPicture(const Picture& picture, int x, int y, int width, int height, int srcX,
                       int srcY, int srcWidth, int srcHeight) override {
        if (!dc_ || picture.width <= 0 || picture.height <= 0) return;
        // A 24-bit top-down DIB section holding the picture's rows.
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = picture.width;
        info.bmiHeader.biHeight = -picture.height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (!bitmap) return;
        const std::size_t row = 3 * static_cast<std::size_t>(picture.width);
        const std::size_t stride = (row + 3) & ~std::size_t{3};
        if (picture.bgr.size() >= row * static_cast<std::size_t>(picture.height))
            for (int r = 0; r < picture.height; ++r)
                std::memcpy(static_cast<std::uint8_t*>(bits) + stride * r,
                            picture.bgr.data() + row * r, row);
        HDC source = CreateCompatibleDC(dc_);
        HGDIOBJ old = SelectObject(source, bitmap);
        // The source rectangle is HIMETRIC with y running up from the
        // picture's bottom edge; the bitmap's rows run down from its top.
        const double kx = static_cast<double>(picture.width) / picture.widthHimetric();
        const double ky = static_cast<double>(picture.height) / picture.heightHimetric();
        const int sx = static_cast<int>(std::lround(srcX * kx));
        const int sw = static_cast<int>(std::lround(srcWidth * kx));
        const int sy = static_cast<int>(std::lround((picture.heightHimetric() - srcY) * ky));
        const int sh = static_cast<int>(std::lround(-srcHeight * ky));
        SetStretchBltMode(dc_, COLORONCOLOR);
        StretchBlt(dc_, x, y, width, height, source, sx, sy, sw, sh, SRCCOPY);
        SelectObject(source, old);
        DeleteDC(source);
        DeleteObject(bitmap);
    }

    void drawText(const std::string& text, const Bounds& rect, unsigned flags, const Font& font,
                  OleColor colour) override {
        if (!dc_ || text.empty()) return;
        HFONT hfont = createFont(font);
        HGDIOBJ old = SelectObject(dc_, hfont);
        SetTextColor(dc_, colorRef(colour));
        SetBkMode(dc_, TRANSPARENT);
        RECT r = toRect(rect);
        const std::wstring wide = widen(text);
        DrawTextW(dc_, wide.c_str(), static_cast<int>(wide.size()), &r, flags);
        SelectObject(dc_, old);
        DeleteObject(hfont);
    }

    // --- geometry and input ---
    Bounds clientRect() const override {
        RECT r{};
        GetClientRect(hwnd_, &r);
        return {r.left, r.top, r.right, r.bottom};
    }
    float scaleWidth() const override {
        const Bounds b = clientRect();
        return static_cast<float>(b.right - b.left);
    }
    float scaleHeight() const override {
        const Bounds b = clientRect();
        return static_cast<float>(b.bottom - b.top);
    }
    float himetricToPixelsX(float himetric) const override {
        return himetric * static_cast<float>(screenDpi(LOGPIXELSX)) / 2540.0f;
    }
    float himetricToPixelsY(float himetric) const override {
        return himetric * static_cast<float>(screenDpi(LOGPIXELSY)) / 2540.0f;
    }
    Point cursorInClient() const override {
        POINT p{};
        GetCursorPos(&p);
        ScreenToClient(hwnd_, &p);
        return {p.x, p.y};
    }
    void setCapture() override { SetCapture(hwnd_); }
    // Only this surface's own capture: another window's stays.
    void releaseCapture() override {
        if (GetCapture() == hwnd_) ReleaseCapture();
    }
    void setCursor(Cursor cursor) override {
        SetCursor(LoadCursorW(nullptr, cursor == Cursor::Hand ? IDC_HAND : IDC_ARROW));
    }

    // --- properties and ambient values ---
    void setEnabled(bool on) override { EnableWindow(hwnd_, on ? TRUE : FALSE); }

    // The form's own back colour; forms draw text in the button-text colour
    // and the default GUI font.
    OleColor ambientForeColor() const override { return systemColor(kColorBtnText); }
    OleColor ambientBackColor() const override { return backColorOf(parent_); }
    FontRef ambientFont() const override {
        static const FontRef f = defaultFont();
        return f;
    }

    // The window text: the name our accessible object (and the system's
    // proxies) read.
    void setAccessibleName(const std::string& name) override {
        SetWindowTextW(hwnd_, widen(name).c_str());
    }

    void refresh() override {
        RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    }
    void doEvents() override { dispatchPending(translateBrowserAccelerator); }

private:
    void placeInTabOrder();
    void paint();
    void mouse(UINT msg, WPARAM wp, LPARAM lp);

    WindowPeer& parent_;
    ControlEvents& events_;
    int tabIndex_;
    HWND hwnd_ = nullptr;
    bool creating_ = true;
    bool resizePending_ = true;
    HDC dc_ = nullptr; // while onPaint runs
    AccessibleWindow accessible_{ROLE_SYSTEM_PUSHBUTTON};
};

Surface* surfaceOf(HWND hwnd) {
    return reinterpret_cast<Surface*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

// Tab order is the order of the siblings: the surface goes after the last
// sibling surface with a lower tab index.
// Only the windows of this class carry a Surface in their user data; a
// label or a browser beside them carries something else or nothing.
bool isSurface(HWND hwnd) {
    wchar_t name[std::size(kSurfaceClass) + 1]{};
    return GetClassNameW(hwnd, name, static_cast<int>(std::size(name))) > 0 &&
           std::wcscmp(name, kSurfaceClass) == 0;
}

void Surface::placeInTabOrder() {
    HWND after = HWND_TOP;
    for (HWND h = GetWindow(GetParent(hwnd_), GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) {
        Surface* s = h == hwnd_ || !isSurface(h) ? nullptr : surfaceOf(h);
        if (s && s->tabIndex_ < tabIndex_) after = h;
    }
    SetWindowPos(hwnd_, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void Surface::paint() {
    PAINTSTRUCT ps;
    HDC target = BeginPaint(hwnd_, &ps);
    RECT client{};
    GetClientRect(hwnd_, &client);
    // Drawn off screen and copied at once, so a repaint never flickers
    // through the background fill.
    HDC dc = CreateCompatibleDC(target);
    HBITMAP bitmap = CreateCompatibleBitmap(target, std::max<LONG>(client.right, 1),
                                            std::max<LONG>(client.bottom, 1));
    HGDIOBJ old = SelectObject(dc, bitmap);
    dc_ = dc;
    guarded([&] { events_.onPaint(); });
    dc_ = nullptr;
    BitBlt(target, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    EndPaint(hwnd_, &ps);
}

void Surface::mouse(UINT msg, WPARAM wp, LPARAM lp) {
    std::int16_t shift = shiftMask();
    auto x = static_cast<float>(GET_X_LPARAM(lp));
    auto y = static_cast<float>(GET_Y_LPARAM(lp));
    std::int16_t button = 0;
    switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP: button = 1; break;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP: button = 2; break;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP: button = 4; break;
    default: button = buttonMask(wp); break;
    }
    switch (msg) {
    case WM_MOUSEMOVE: guarded([&] { events_.onMouseMove(button, shift, x, y); }); break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        // A press focuses the control, as a click on any control does.
        if (GetFocus() != hwnd_) SetFocus(hwnd_);
        guarded([&] { events_.onMouseDown(button, shift, x, y); });
        break;
    default: guarded([&] { events_.onMouseUp(button, shift, x, y); }); break;
    }
}

LRESULT CALLBACK Surface::proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Surface* s = windowObject<Surface>(hwnd, msg, lp);
    if (msg == WM_NCCREATE) s->hwnd_ = hwnd;
    if (!s || s->creating_ || ending()) return DefWindowProcW(hwnd, msg, wp, lp);
    ControlEvents& ev = s->events_;
    const bool notification = msg == WM_PAINT || msg == WM_SIZE || msg == WM_SETFOCUS ||
                              msg == WM_KILLFOCUS || (msg >= WM_KEYFIRST && msg <= WM_KEYLAST) ||
                              (msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST);
    if (notification && s->resizePending_) {
        // Its size first, so that the control paints and hit-tests in its
        // real client rectangle.
        s->resizePending_ = false;
        guarded([&] { ev.onResize(); });
        if (msg == WM_SIZE) return 0;
    }
    switch (msg) {
    case WM_ERASEBKGND: return 1; // the paint fills the whole surface
    case WM_PAINT: s->paint(); return 0;
    case WM_SIZE: guarded([&] { ev.onResize(); }); return 0;
    case WM_SETFOCUS: guarded([&] { ev.onGotFocus(); }); return 0;
    case WM_KILLFOCUS: guarded([&] { ev.onLostFocus(); }); return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
        if (wp == VK_TAB && msg == WM_KEYDOWN) {
            // Tab moves on to the next control in tab order, as in a dialog.
            HWND next = GetNextDlgTabItem(GetParent(hwnd), hwnd, GetKeyState(VK_SHIFT) < 0);
            if (next && next != hwnd) SetFocus(next);
            return 0;
        }
        auto key = static_cast<std::int16_t>(wp);
        std::int16_t shift = shiftMask();
        guarded([&] { ev.onKeyDown(key, shift); });
        // Alt+F4 and the other system keys keep working.
        return msg == WM_SYSKEYDOWN ? DefWindowProcW(hwnd, msg, wp, lp) : 0;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP: {
        auto key = static_cast<std::int16_t>(wp);
        std::int16_t shift = shiftMask();
        guarded([&] { ev.onKeyUp(key, shift); });
        return msg == WM_SYSKEYUP ? DefWindowProcW(hwnd, msg, wp, lp) : 0;
    }
    case WM_CHAR: {
        if (wp == L'\t') return 0;
        auto ascii = static_cast<std::int16_t>(wp);
        guarded([&] { ev.onKeyPress(ascii); });
        return 0;
    }
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP: s->mouse(msg, wp, lp); return 0;
    case WM_GETOBJECT: return s->accessible_.answer(hwnd, wp, lp);
    // The accessible press: what the control does with it is its own rule.
    case kAccessibleActionMessage: guarded([&] { ev.onDefaultAction(); }); return 0;
    case WM_NCDESTROY: s->accessible_.disconnect(); break;
    default: break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

} // namespace

std::unique_ptr<ControlSurface> Win32Platform::createControlSurface(WindowPeer& parent,
                                                                    ControlEvents& events,
                                                                    const Rect& rect,
                                                                    int tabIndex) {
    // No double-click messages (no class styles): two quick clicks are two
    // presses. Registered again, the class stays as it was first registered.
    registerWindowClass(instance(), kSurfaceClass, Surface::proc);
    return std::make_unique<Surface>(parent, events, rect, tabIndex, instance());
}

} // namespace fw::win32
