// A small window with picture buttons for the gtk end-to-end test, every
// event of theirs printed on stdout, one line each ("a MouseDown 1 45 17",
// "a Click", "b KeyDown 65 0").
#include "controls/ImageButton.h"
#include "framework/gtk/platform.h"
#include "framework/portable/form.h"

#include <cstdio>
#include <memory>
#include <string>

namespace {

fw::PictureRef solid(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    auto picture = std::make_shared<fw::Picture>();
    picture->width = width;
    picture->height = height;
    for (int i = 0; i < width * height; ++i) picture->bgr.insert(picture->bgr.end(), {b, g, r});
    return picture;
}

void line(const char* text) {
    std::printf("%s\n", text);
    std::fflush(stdout);
}

// Every event of `button`, each line starting with its name.
void wire(controls::ImageButton& button, std::string name) {
    auto mouse = [name](const char* event) {
        return [name, event](std::int16_t& b, std::int16_t&, float& x, float& y) {
            std::printf("%s %s %d %.0f %.0f\n", name.c_str(), event, b, static_cast<double>(x),
                        static_cast<double>(y));
            std::fflush(stdout);
        };
    };
    auto key = [name](const char* event) {
        return [name, event](std::int16_t& code, std::int16_t& shift) {
            std::printf("%s %s %d %d\n", name.c_str(), event, code, shift);
            std::fflush(stdout);
        };
    };
    button.MouseDown = mouse("MouseDown");
    button.MouseUp = mouse("MouseUp");
    button.MouseMove = mouse("MouseMove");
    button.KeyDown = key("KeyDown");
    button.KeyUp = key("KeyUp");
    button.KeyPress = [name](std::int16_t& c) {
        std::printf("%s KeyPress %d\n", name.c_str(), c);
        std::fflush(stdout);
    };
    button.Click = [name] { line((name + " Click").c_str()); };
}

// Two buttons: "a" with the pictures, and below it "b", first in the tab
// order although it was created second.
class HostForm : public fw::Form {
public:
    HostForm() : fw::Form(layout()) {}

private:
    static fw::FormLayout layout() {
        fw::FormLayout l;
        l.caption = "button host";
        l.clientWidth = 200;
        l.clientHeight = 120;
        return l;
    }

    void createControls() override {
        a_ = std::make_unique<controls::ImageButton>(*peer(), fw::Rect{40, 30, 90, 34}, 1);
        a_->setPicture(solid(90, 34, 200, 30, 30));
        a_->setHotPicture(solid(90, 34, 30, 200, 30));
        wire(*a_, "a");
        b_ = std::make_unique<controls::ImageButton>(*peer(), fw::Rect{40, 80, 90, 30}, 0);
        wire(*b_, "b");
    }
    void destroyControls() override {
        a_.reset();
        b_.reset();
    }

    std::unique_ptr<controls::ImageButton> a_;
    std::unique_ptr<controls::ImageButton> b_;
};

} // namespace

int main() {
    gdk_set_allowed_backends("x11");
    if (!gtk_init_check(nullptr, nullptr)) return 1;
    fw::gtk::GtkPlatform platform;
    HostForm form;
    platform.deliver([&form] { form.Show(); });
    line("ready");
    return platform.run();
}
