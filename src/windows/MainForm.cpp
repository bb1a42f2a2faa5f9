#include "windows/MainForm.h"

#include "app/Application.h"
#include "windows/ExitConfirmation.h"

namespace windows {

namespace {
fw::FormLayout designLayout() {
    fw::FormLayout l;
    l.border = fw::Border::Sizable;
    l.clientWidth = 1100;
    l.clientHeight = 600;
    l.centred = true;
    l.startState = fw::WindowState::Maximized;
    l.taskbar = true;
    l.icon = true;
    return l;
}
} // namespace

MainForm::MainForm() : Form(designLayout()) {}

void MainForm::Form_Load() {
    pageReady_ = false;
    loaded_ = true;
}

void MainForm::navigateToUrl(std::string url) {
    pageUrl_ = std::move(url);
}

void MainForm::Form_QueryUnload(bool& cancel, fw::UnloadMode) {
    if (confirmExit())
        app::openLogin(); // unloads this window, which is already closing
    else
        cancel = true;
}

} // namespace windows
