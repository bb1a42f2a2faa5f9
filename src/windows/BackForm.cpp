#include "windows/BackForm.h"

#include "app/Application.h"

namespace windows {

namespace {
fw::FormLayout designLayout() {
    fw::FormLayout l;
    l.caption = "Varnholt登录器";
    l.border = fw::Border::None;
    l.clientWidth = BackForm::kWidth;
    l.clientHeight = BackForm::kHeight;
    l.centred = true;
    l.taskbar = true;
    l.icon = true;
    return l;
}
} // namespace

BackForm::BackForm() : Form(designLayout()) {}

void BackForm::Form_MouseDown(int, int, float, float) { app::dragWindow(); }

} // namespace windows
