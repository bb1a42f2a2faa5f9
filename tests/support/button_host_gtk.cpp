// A small window with one picture button for the gtk end-to-end test: a red
// normal picture, a green hot picture, and every event of the button printed
// on stdout, one line each ("MouseDown 1 45 17", "Click").
#include "controls/ImageButton.h"
#include "framework/form.h"
#include "framework/gtk/gtk_platform.h"

#include <cstdio>
#include <memory>

namespace {

fw::PictureRef solid(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    auto picture = std::make_shared<fw::Picture>();
    picture->width = width;
    picture->height = height;
    for (int i = 0; i < width * height; ++i) picture->bgr.insert(picture->bgr.end(), {b, g, r});
    return picture;
}

void print(const char* event, std::int16_t button, float x, float y) {
    std::printf("%s %d %.0f %.0f\n", event, button, static_cast<double>(x), static_cast<double>(y));
    std::fflush(stdout);
}

class HostForm : public fw::Form {
public:
    HostForm() : fw::Form(layout()) {}

private:
    static fw::FormLayout layout() {
        fw::FormLayout l;
        l.caption = "button host";
        l.clientWidth = 200;
        l.clientHeight = 100;
        return l;
    }

    void createControls() override {
        button_ = std::make_unique<controls::ImageButton>(*peer(), fw::Rect{40, 30, 90, 34}, 0);
        button_->setPicture(solid(90, 34, 200, 30, 30));
        button_->setHotPicture(solid(90, 34, 30, 200, 30));
        button_->MouseDown = [](std::int16_t& b, std::int16_t&, float& x, float& y) {
            print("MouseDown", b, x, y);
        };
        button_->MouseUp = [](std::int16_t& b, std::int16_t&, float& x, float& y) {
            print("MouseUp", b, x, y);
        };
        button_->MouseMove = [](std::int16_t& b, std::int16_t&, float& x, float& y) {
            print("MouseMove", b, x, y);
        };
        button_->Click = [] {
            std::printf("Click\n");
            std::fflush(stdout);
        };
    }
    void destroyControls() override { button_.reset(); }

    std::unique_ptr<controls::ImageButton> button_;
};

} // namespace

int main() {
    gdk_set_allowed_backends("x11");
    if (!gtk_init_check(nullptr, nullptr)) return 1;
    fw::gtk::GtkPlatform platform;
    HostForm form;
    platform.deliver([&form] { form.Show(); });
    std::printf("ready\n");
    std::fflush(stdout);
    return platform.run();
}
