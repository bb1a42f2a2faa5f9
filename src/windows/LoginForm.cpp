#include "windows/LoginForm.h"

#include "app/Application.h"
#include "config/AppConfig.h"
#include "imaging/DllGdiPlus.h"
#include "windows/ExitConfirmation.h"
#include "windows/HandOver.h"

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

void LoginForm::createControls() {
    // The timer control is enabled from its creation with the window.
    timer_.setEnabled(true);
    webBrowser_ = fw::Platform::get().createBrowser(*peer(), webBrowserEvents_, kPictureBox);
    webBrowser_->place(kWebBrowser);
}

void LoginForm::destroyControls() {
    timer_.setEnabled(false);
    webBrowser_.reset();
}

void LoginForm::Form_Load() {
    app::followBackWindow();
    imaging::makeColorKeyWindow(*this);
    timer_.setEnabled(true);
    const auto& loginUrl = config::appConfig().loginUrl;
    if (!loginUrl.empty()) webBrowser_->Navigate(loginUrl);
}

void LoginForm::Form_QueryUnload(bool& cancel, fw::UnloadMode) {
    if (confirmExit()) fw::Platform::get().end();
    cancel = true;
}

void LoginForm::Form_Unload(bool&) {
    timer_.setEnabled(false);
}

void LoginForm::Form_MouseDown(int, int, float, float) {
    app::dragWindow();
}

void LoginForm::timer_Timer() {
    app::followBackWindow();
}

void LoginForm::webBrowser_BeforeNavigate2(const std::string& url, bool& cancel) {
    // Frames, form posts and script navigations count like top-level links;
    // a post reaches the game window as a plain navigation to its address.
    if (!isHandOver(url, config::appConfig().mainUrl)) return;
    cancel = true;
    app::openGame(url);
}

void LoginForm::webBrowser_NewWindow2(bool& cancel) {
    // Only the focused link counts, not the address the new window would load.
    std::string link;
    if (auto element = webBrowser_->activeElement(); element && element->tagName == "A")
        link = element->href;
    if (!isHandOver(link, config::appConfig().mainUrl)) return;
    cancel = true;
    app::openGame(link);
}

} // namespace windows
