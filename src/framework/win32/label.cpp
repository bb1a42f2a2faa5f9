// The plain label on Windows: a child window of our own class that draws its
// text centred on one line over the form's own back colour, so that on a
// colour-keyed form only the glyphs show.
#include "framework/ports/control.h"
#include "framework/win32/accessible.h"
#include "framework/win32/platform.h"
#include "framework/win32/text.h"

#include <oleacc.h>

#include <stdexcept>

namespace fw::win32 {

namespace {

constexpr wchar_t kLabelClass[] = L"VarnholtLabel";

class Label final : public LabelPeer {
public:
    Label(WindowPeer& parent, const Rect& rect, OleColor colour, HINSTANCE instance)
        : parent_(parent), colour_(colour) {
        HWND parentWnd = windowHandle(parent);
        if (!parentWnd) throw std::runtime_error("the label's window is gone");
        hwnd_ =
            CreateWindowExW(0, kLabelClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, rect.left,
                            rect.top, rect.width, rect.height, parentWnd, nullptr, instance, this);
        if (!hwnd_) throw std::runtime_error("the label could not be created");
    }
    ~Label() override {
        accessible_.disconnect();
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
    Label(const Label&) = delete;
    Label& operator=(const Label&) = delete;

    std::string caption() const override { return caption_; }
    void setCaption(const std::string& text) override {
        caption_ = text;
        // The window text is the accessible name.
        SetWindowTextW(hwnd_, widen(text).c_str());
        InvalidateRect(hwnd_, nullptr, TRUE);
    }

    static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

private:
    void paint();

    WindowPeer& parent_;
    OleColor colour_;
    HWND hwnd_ = nullptr;
    std::string caption_;
    // Static text: the system's proxy would call our own class a client area.
    AccessibleWindow accessible_{ROLE_SYSTEM_STATICTEXT};
};

void Label::paint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd_, &ps);
    RECT r{};
    GetClientRect(hwnd_, &r);
    HBRUSH brush = CreateSolidBrush(colorRef(backColorOf(parent_)));
    FillRect(dc, &r, brush);
    DeleteObject(brush);
    HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetTextColor(dc, colorRef(colour_));
    SetBkMode(dc, TRANSPARENT);
    const std::wstring text = widen(caption_);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
              DT_SINGLELINE | DT_CENTER | DT_NOPREFIX);
    SelectObject(dc, old);
    EndPaint(hwnd_, &ps);
}

LRESULT CALLBACK Label::proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* l = windowObject<Label>(hwnd, msg, lp);
    if (msg == WM_NCCREATE) l->hwnd_ = hwnd;
    if (!l || ending()) return DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: guarded([&] { l->paint(); }); return 0;
    case WM_GETOBJECT: return l->accessible_.answer(hwnd, wp, lp);
    case WM_NCDESTROY: l->accessible_.disconnect(); break;
    default: break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

} // namespace

std::unique_ptr<LabelPeer> Win32Platform::createLabel(WindowPeer& parent, const Rect& rect,
                                                      OleColor colour) {
    registerWindowClass(instance(), kLabelClass, Label::proc); // the first registration stands
    return std::make_unique<Label>(parent, rect, colour, instance());
}

} // namespace fw::win32
