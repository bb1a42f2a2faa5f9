#include "windows/LoginForm.h"

#include "app/Application.h"
#include "windows/ExitConfirmation.h"

namespace windows {

namespace {
fw::FormLayout designLayout() {
    fw::FormLayout l;
    l.border = fw::Border::None;
    l.clientWidth = LoginForm::kWidth;
    l.clientHeight = LoginForm::kHeight;
    l.taskbar = false; // the background window carries the taskbar button
    return l;
}
} // namespace

LoginForm::LoginForm() : Form(designLayout()), timer_(10, [this] { timer_Timer(); }) {}

// The timer control is enabled from its creation with the window.
void LoginForm::createControls() { timer_.setEnabled(true); }

void LoginForm::destroyControls() { timer_.setEnabled(false); }

void LoginForm::Form_Load() {
    app::followBackWindow();
    timer_.setEnabled(true);
}

void LoginForm::Form_QueryUnload(bool& cancel, fw::UnloadMode) {
    if (confirmExit()) fw::Platform::get().end();
    cancel = true;
}

void LoginForm::Form_Unload(bool&) { timer_.setEnabled(false); }

void LoginForm::Form_MouseDown(int, int, float, float) { app::dragWindow(); }

void LoginForm::timer_Timer() { app::followBackWindow(); }

} // namespace windows
