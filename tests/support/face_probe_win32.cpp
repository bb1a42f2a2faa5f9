// face_probe.exe MODE [OUT]: the Windows imaging and control host adapters
// in conditions the launcher itself never sets up.
//   initerror   the launcher's own start-up with GDI+ refusing to start.
//   button OUT  a form at (100, 100), 200 x 100, with a picture button at
//               (20, 20, 90, 34): normal picture dark red over dark grey,
//               hot picture yellow over cyan (top half over bottom half).
//               Its events go to OUT, a line each: "MouseDown B S X Y",
//               "MouseUp B S X Y", "KeyDown K S", "KeyUp K S", "Click". A
//               second button at (20, 60, 90, 30) has no picture and the
//               caption "确定".
//   gone OUT    the same form; the HRESULTs of get_accName and
//               accDoDefaultAction of its first button's accessible object,
//               held while the button is destroyed.
#include "app/Application.h"
#include "controls/ImageButton.h"
#include "framework/portable/form.h"
#include "framework/win32/platform.h"

#include <oleacc.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

std::FILE* out = nullptr;

void record(const std::string& line) {
    std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
}

// 0xRRGGBB colours, the first over the second.
fw::PictureRef twoTone(int w, int h, std::uint32_t top, std::uint32_t bottom) {
    auto p = std::make_shared<fw::Picture>();
    p->width = w;
    p->height = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int shift : {0, 8, 16})
                p->bgr.push_back(static_cast<std::uint8_t>((y < h / 2 ? top : bottom) >> shift));
    return p;
}

fw::FormLayout layout() {
    fw::FormLayout l;
    l.caption = "button-probe";
    l.clientWidth = 200;
    l.clientHeight = 100;
    l.taskbar = false;
    return l;
}

class ButtonForm : public fw::Form {
public:
    ButtonForm() : Form(layout()) {}

protected:
    void createControls() override {
        button_ = std::make_unique<controls::ImageButton>(*peer(), fw::Rect{20, 20, 90, 34}, 0);
        button_->setPicture(twoTone(90, 34, 0x800000, 0x404040));
        button_->setHotPicture(twoTone(90, 34, 0xFFFF00, 0x00FFFF));
        auto mouse = [](std::string name) {
            return [name](std::int16_t& b, std::int16_t& s, float& x, float& y) {
                record(name + " " + std::to_string(b) + " " + std::to_string(s) + " " +
                       std::to_string(static_cast<int>(x)) + " " +
                       std::to_string(static_cast<int>(y)));
            };
        };
        auto key = [](std::string name) {
            return [name](std::int16_t& k, std::int16_t& s) {
                record(name + " " + std::to_string(k) + " " + std::to_string(s));
            };
        };
        button_->MouseDown = mouse("MouseDown");
        button_->MouseUp = mouse("MouseUp");
        button_->KeyDown = key("KeyDown");
        button_->KeyUp = key("KeyUp");
        button_->Click = [] { record("Click"); };
        caption_ = std::make_unique<controls::ImageButton>(*peer(), fw::Rect{20, 60, 90, 30}, 1);
        caption_->setValue("确定");
    }
    void destroyControls() override {
        button_.reset();
        caption_.reset();
    }
    void Form_Load() override {
        setLeft(100 * fw::kTwipsPerPixel);
        setTop(100 * fw::kTwipsPerPixel);
    }

private:
    std::unique_ptr<controls::ImageButton> button_, caption_;
};

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    static fw::win32::Win32Platform platform(instance);
    const std::wstring mode = __argc >= 2 ? __wargv[1] : L"";
    if (mode == L"initerror") {
        // A version GDI+ does not know: its start-up fails for real.
        fw::win32::setGdiPlusVersionForTests(99);
        try {
            app::Main();
        } catch (const std::exception& e) {
            platform.untrapped(e.what());
        }
    } else if (mode == L"button" && __argc >= 3 && (out = _wfopen(__wargv[2], L"w"))) {
        static ButtonForm form;
        form.Show();
        record("ready");
    } else if (mode == L"gone" && __argc >= 3 && (out = _wfopen(__wargv[2], L"w"))) {
        CoInitialize(nullptr);
        static ButtonForm form;
        form.Show();
        IAccessible* a = nullptr;
        AccessibleObjectFromWindow(FindWindowExW(fw::win32::windowHandle(*form.peer()), nullptr,
                                                 L"VarnholtControl", nullptr),
                                   OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&a));
        if (!a) return 3;
        form.Unload();
        VARIANT self{};
        self.vt = VT_I4; // CHILDID_SELF
        BSTR name = nullptr;
        record(std::to_string(a->get_accName(self, &name)) + " " +
               std::to_string(a->accDoDefaultAction(self)));
        a->Release();
        return 0;
    } else {
        return 2;
    }
    return platform.run();
}
