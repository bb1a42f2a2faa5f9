// face_probe.exe MODE [OUT]: the Windows imaging and control host adapters
// under conditions the launcher itself never sets up.
//   initerror  the launcher's own start-up with GDI+ refusing to start.
//   keyed OUT  a colour-keyed form at (100, 100), 300 x 200, holding two
//              control surfaces, A at (20, 20) in pure blue and B at
//              (120, 20) in RGB(0, 0, 254), both 80 x 80, and a label at
//              (20, 120, 260, 20). Presses are written to OUT, one line
//              each: "form BUTTON", "A BUTTON" or "B BUTTON".
#include "app/Application.h"
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
    if (mode == L"keyed" && __argc >= 3) {
        out = _wfopen(__wargv[2], L"w");
        if (!out) return 3;
        static KeyedForm form;
        form.Show();
        record("ready");
        return platform.run();
    }
    return 2;
}
