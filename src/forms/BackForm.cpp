#include "forms/BackForm.h"

#include "forms/LoginForm.h"
#include "imaging/LayeredWindows.h"

#include <string>

namespace forms {

// The game's name given to the build (cmake/brand.cmake).
extern const char kGameName[];

namespace {
fw::FormLayout designLayout() {
    fw::FormLayout l;
    l.caption = std::string(kGameName) + "登录器";
    l.border = fw::Border::None;
    l.clientWidth = BackForm::kWidth;
    l.clientHeight = BackForm::kHeight;
    l.centred = true;
    l.taskbar = true;
    l.icon = true;
    // The picture's size in pixels, whatever the window's size: the layered
    // surface is made at this size and shows the picture pixel for pixel.
    l.scaleWidth = BackForm::kWidth;
    l.scaleHeight = BackForm::kHeight;
    return l;
}
} // namespace

BackForm::BackForm(WindowFlow& flow) : Form(designLayout()), flow_(flow) {}

void BackForm::Form_Load() {
    imaging::updateLayeredBackground(*this);
}

void BackForm::Form_QueryUnload(bool& cancel, fw::UnloadMode mode) {
    // Closing the launcher's taskbar face (Alt+F4, the taskbar's menu) is
    // closing the launcher: the login window asks, and OK ends the program.
    // Unloaded on its own, it would take the owned login window with it and
    // leave a process without windows.
    // A replaced one has no login window of its own any more.
    cancel = true;
    LoginForm* login = flow_.loginForm();
    if (login && !Retired()) login->Unload(mode);
}

void BackForm::Form_MouseDown(int, int, float, float) {
    flow_.dragWindow();
}

void BackForm::Form_Activate() {
    // The face takes the keyboard in its login page, however the background
    // got it (a click, the taskbar, alt-tab, the window manager at start).
    LoginForm* login = flow_.loginForm();
    if (login && login->Visible()) login->SetFocus();
}

} // namespace forms
