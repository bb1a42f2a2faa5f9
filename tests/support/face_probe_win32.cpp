// face_probe.exe MODE [OUT]: the Windows imaging and control host adapters
// under conditions the launcher itself never sets up.
//   initerror  the launcher's own start-up with GDI+ refusing to start.
//   keyed OUT  a colour-keyed form at (100, 100), 300 x 200, holding two
//              control surfaces, A at (20, 20) in pure blue and B at
//              (120, 20) in RGB(0, 0, 254), both 80 x 80, and a label at
//              (20, 120, 260, 20). Presses are written to OUT, one line
//              each: "form BUTTON", "A BUTTON" or "B BUTTON".
//   button OUT a form at (100, 100), 200 x 100, holding one picture button
//              at (20, 20, 90, 34). Its normal picture is dark red over dark
//              grey, its hot picture yellow over cyan (top half over bottom
//              half). Its events are written to OUT, one line each:
//              "MouseDown B S X Y", "MouseUp ...", "KeyDown K S", "KeyUp K S",
//              "Click". A second button at (20, 60, 90, 30) has no picture
//              and the caption "确定".
#include "app/Application.h"
#include "controls/ImageButton.h"
#include "framework/control.h"
#include "framework/form.h"
#include "framework/win32/imaging_gdiplus.h"
#include "framework/win32/win32_platform.h"
#include "imaging/DllGdiPlus.h"

#include <cstdio>
#include <memory>
#include <string>

namespace {

std::FILE* out = nullptr;

void record(const std::string& line) {
    std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
}

class Recorder : public fw::ControlEvents {
public:
    explicit Recorder(std::string name) : name_(std::move(name)) {}
    void onMouseDown(std::int16_t& button, std::int16_t&, float&, float&) override {
        record(name_ + " " + std::to_string(button));
    }

private:
    std::string name_;
};

fw::FormLayout keyedLayout() {
    fw::FormLayout l;
    l.caption = "keyed-probe";
    l.clientWidth = 300;
    l.clientHeight = 200;
    l.taskbar = false;
    return l;
}

class KeyedForm : public fw::Form {
public:
    KeyedForm() : Form(keyedLayout()) {}

protected:
    void createControls() override {
        auto& p = fw::Platform::get();
        a_ = p.createControlSurface(*peer(), aEvents_, {20, 20, 80, 80}, 0);
        a_->setBackColor(fw::kPureBlue);
        b_ = p.createControlSurface(*peer(), bEvents_, {120, 20, 80, 80}, 1);
        b_->setBackColor(0x00FE0000);
        label_ =
            p.createLabel(*peer(), {20, 120, 260, 20}, fw::systemColor(fw::kColorHighlightText));
        label_->setCaption("版本:1.00");
    }
    void destroyControls() override {
        a_.reset();
        b_.reset();
        label_.reset();
    }
    void Form_Load() override {
        setLeft(100 * fw::kTwipsPerPixel);
        setTop(100 * fw::kTwipsPerPixel);
        imaging::makeColorKeyWindow(*this);
    }
    void Form_MouseDown(int button, int, float, float) override {
        record("form " + std::to_string(button));
    }

private:
    Recorder aEvents_{"A"}, bEvents_{"B"};
    std::unique_ptr<fw::ControlSurface> a_, b_;
    std::unique_ptr<fw::LabelPeer> label_;
};

// Two colours, the first over the second.
fw::PictureRef twoTone(int w, int h, std::uint32_t top, std::uint32_t bottom) {
    auto p = std::make_shared<fw::Picture>();
    p->width = w;
    p->height = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint32_t c = y < h / 2 ? top : bottom;
            p->bgr.push_back(static_cast<std::uint8_t>(c));
            p->bgr.push_back(static_cast<std::uint8_t>(c >> 8));
            p->bgr.push_back(static_cast<std::uint8_t>(c >> 16));
        }
    return p;
}

fw::FormLayout buttonLayout() {
    fw::FormLayout l;
    l.caption = "button-probe";
    l.clientWidth = 200;
    l.clientHeight = 100;
    l.taskbar = false;
    return l;
}

class ButtonForm : public fw::Form {
public:
    ButtonForm() : Form(buttonLayout()) {}

protected:
    void createControls() override {
        button_ = std::make_unique<controls::ImageButton>(*peer(), fw::Rect{20, 20, 90, 34}, 0);
        button_->setPicture(twoTone(90, 34, 0x800000, 0x404040));
        button_->setHotPicture(twoTone(90, 34, 0xFFFF00, 0x00FFFF));
        auto mouse = [](const char* name) {
            return [name](std::int16_t& b, std::int16_t& s, float& x, float& y) {
                record(std::string(name) + " " + std::to_string(b) + " " + std::to_string(s) + " " +
                       std::to_string(static_cast<int>(x)) + " " +
                       std::to_string(static_cast<int>(y)));
            };
        };
        button_->MouseDown = mouse("MouseDown");
        button_->MouseUp = mouse("MouseUp");
        button_->KeyDown = [](std::int16_t& k, std::int16_t& s) {
            record("KeyDown " + std::to_string(k) + " " + std::to_string(s));
        };
        button_->KeyUp = [](std::int16_t& k, std::int16_t& s) {
            record("KeyUp " + std::to_string(k) + " " + std::to_string(s));
        };
        button_->Click = [] { record("Click"); };
        // No picture: the themed background and a Chinese caption.
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
    if (__argc < 2) return 2;
    const std::wstring mode = __wargv[1];
    if (mode == L"initerror") {
        // A version GDI+ does not know: its start-up fails for real.
        fw::win32::setGdiPlusVersionForTests(99);
        try {
            app::Main();
        } catch (const std::exception& e) {
            platform.untrapped(e.what());
        }
        return platform.run();
    }
    if (__argc < 3) return 2;
    out = _wfopen(__wargv[2], L"w");
    if (!out) return 3;
    if (mode == L"keyed") {
        static KeyedForm form;
        form.Show();
        record("ready");
        return platform.run();
    }
    if (mode == L"button") {
        static ButtonForm form;
        form.Show();
        record("ready");
        return platform.run();
    }
    return 2;
}
