#include "forms/LoginForm.h"

#include "config/AppConfig.h"
#include "controls/StoredLayout.h"
#include "forms/ExitConfirmation.h"
#include "forms/HandOver.h"
#include "imaging/LayeredWindows.h"

namespace forms {

extern const char kGameName[];

namespace {
fw::FormLayout designLayout() {
    fw::FormLayout l;
    // The background window's caption: pagers and screen readers list both.
    l.caption = std::string(kGameName) + "登录器";
    l.border = fw::Border::None;
    l.clientWidth = LoginForm::kWidth;
    l.clientHeight = LoginForm::kHeight;
    l.taskbar = false; // the background window carries the taskbar button
    return l;
}
} // namespace

LoginForm::LoginForm(WindowFlow& flow)
    : Form(designLayout()), flow_(flow), timer_(10, [this] { timer_Timer(); }) {}

void LoginForm::createControls() {
    // The timer control is enabled from its creation with the window.
    timer_.setEnabled(true);
    layout_ = controls::loadLayout(controls::kLoginLayoutId);
    fw::WindowPeer& window = *peer();
    // Made in tab order, which the platforms follow from the order of making.
    btnForum_ = controls::createImageButton(window, layout_, "btnForum", 0);
    btnMini_ = controls::createImageButton(window, layout_, "btnMini");
    btnClose_ = controls::createImageButton(window, layout_, "btnClose");
    btnHome_ = controls::createImageButton(window, layout_, "btnHome");
    btnCharge_ = controls::createImageButton(window, layout_, "btnCharge", 1);
    btnService_ = controls::createImageButton(window, layout_, "btnService", 2);
    btnForum_->Click = [this] { btnForum_Click(0); };
    btnMini_->Click = [this] { btnMini_Click(); };
    btnClose_->Click = [this] { btnClose_Click(); };
    btnHome_->Click = [this] { btnHome_Click(); };
    btnCharge_->Click = [this] { btnCharge_Click(1); };
    btnService_->Click = [this] { btnService_Click(2); };
    // What assistive technology reads: what each picture does.
    btnForum_->setAccessibleName("游戏论坛");
    btnMini_->setAccessibleName("最小化");
    btnClose_->setAccessibleName("关闭");
    btnHome_->setAccessibleName("官网首页");
    btnCharge_->setAccessibleName("游戏充值");
    btnService_->setAccessibleName("客服系统");

    const fw::LayoutControl* label = layout_.find("lblVersion");
    const fw::LayoutControl* frame = layout_.find("pictureBox");
    const fw::LayoutControl* view = layout_.find("webBrowser");
    if (!label || !frame || !view)
        layout_.errors.push_back("the login window's label, frame or browser has no entry");
    auto rectOf = [](const fw::LayoutControl* c) { return c && c->rect ? *c->rect : fw::Rect{}; };
    const fw::PropertyBag none;
    const fw::PropertyBag& labelBag = label ? label->properties : none;
    const auto highlightText = static_cast<std::int32_t>(fw::systemColor(fw::kColorHighlightText));
    lblVersion_ = fw::Platform::get().createLabel(
        window, rectOf(label),
        static_cast<fw::OleColor>(labelBag.readInt("ForeColor", highlightText)));
    lblVersion_->setCaption(labelBag.readString("Caption", ""));
    webBrowser_ = fw::Platform::get().createBrowser(window, webBrowserEvents_, rectOf(frame));
    webBrowser_->place(rectOf(view));
}

void LoginForm::destroyControls() {
    timer_.setEnabled(false);
    webBrowser_.reset();
    lblVersion_.reset();
    btnService_.reset();
    btnCharge_.reset();
    btnHome_.reset();
    btnClose_.reset();
    btnMini_.reset();
    btnForum_.reset();
}

void LoginForm::releaseDrawing() {
    // Hidden by a hand-over for good: the page, the buttons with their
    // pictures and the label go (a button may be raising the exit question
    // right now; it then touches nothing of itself). The timer stays.
    webBrowser_.reset();
    lblVersion_.reset();
    for (auto* button : {&btnService_, &btnCharge_, &btnHome_, &btnClose_, &btnMini_, &btnForum_})
        button->reset();
    layout_.controls.clear();
    layout_.controls.shrink_to_fit();
}

void LoginForm::Form_Load() {
    flow_.followBackWindow();
    imaging::makeColorKeyWindow(*this);
    timer_.setEnabled(true);
    lblVersion_->setCaption("版本:" + config::appConfig().version);
    const auto& loginUrl = config::appConfig().loginUrl;
    if (!loginUrl.empty()) webBrowser_->Navigate(loginUrl);
}

void LoginForm::Form_QueryUnload(bool& cancel, fw::UnloadMode) {
    // A question whose window was replaced while it was open (the player
    // went to the game and came back meanwhile) is void: it ends nothing.
    if (confirmExit() && !Retired()) fw::Platform::get().end();
    cancel = true;
}

void LoginForm::Form_Unload(bool&) {
    timer_.setEnabled(false);
}

void LoginForm::Form_MouseDown(int, int, float, float) {
    flow_.dragWindow();
}

void LoginForm::Form_Activate() {
    // The keyboard belongs to the page: its focused field takes the typing.
    if (webBrowser_) webBrowser_->focus();
}

void LoginForm::timer_Timer() {
    flow_.followBackWindow();
}

void LoginForm::btnMini_Click() {
    flow_.minimizeWindows();
}

void LoginForm::btnClose_Click() {
    // The close request asks the exit question.
    Unload();
}

// The addresses go out as configured, an empty one included.
void LoginForm::btnHome_Click() {
    flow_.openUrl(config::appConfig().homeUrl);
}

void LoginForm::btnCharge_Click(int) {
    flow_.openUrl(config::appConfig().chargeUrl);
}

void LoginForm::btnService_Click(int) {
    flow_.openUrl(config::appConfig().serviceUrl);
}

void LoginForm::btnForum_Click(int) {
    flow_.openUrl(config::appConfig().forumUrl);
}

void LoginForm::webBrowser_BeforeNavigate2(const std::string& url, bool& cancel) {
    // Frames, form posts and script navigations count like top-level links;
    // a post reaches the game window as a plain navigation to its address.
    if (!isHandOver(url, config::appConfig().mainUrl)) return;
    cancel = true;
    flow_.openGame(url);
}

void LoginForm::webBrowser_NewWindow2(bool& cancel) {
    // Only the focused link counts, not the address the new window would load.
    std::string link;
    if (auto element = webBrowser_->activeElement(); element && element->tagName == "A")
        link = element->href;
    if (!isHandOver(link, config::appConfig().mainUrl)) return;
    cancel = true;
    flow_.openGame(link);
}

void LoginForm::webBrowser_EngineTerminated() {
    // A face hidden by the hand-over (which normally drops its browser) is
    // never shown again: a page loaded there could only hand over a second
    // time under the game window.
    if (!Visible()) return;
    const auto& loginUrl = config::appConfig().loginUrl;
    if (loginUrl.empty() || !engineRestart_.allowed()) return;
    webBrowser_->Navigate(loginUrl);
}

} // namespace forms
