#include "forms/MainForm.h"

#include "forms/ExitConfirmation.h"

namespace forms {

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

constexpr const char* kClientTypeScript = "setClientTypeByVb()";
} // namespace

MainForm::MainForm(WindowFlow& flow) : Form(designLayout()), flow_(flow) {}

void MainForm::createControls() {
    webBrowser_ = fw::Platform::get().createBrowser(*peer(), webBrowserEvents_, std::nullopt);
    webBrowser_->place({6, 4, 1083, 591}); // design rectangle until the first resize
}

void MainForm::Form_Load() {
    pageReady_ = false;
    loaded_ = true;
    engineRestart_.reset();
    webBrowser_->setSilent(true);
    // At the first showing the address is still empty (a blank page); later
    // showings start from the previous game address. navigateToUrl follows
    // at once with the address that counts.
    webBrowser_->Navigate(pageUrl_);
}

void MainForm::navigateToUrl(std::string url) {
    pageUrl_ = std::move(url);
    if (loaded_ && webBrowser_) webBrowser_->Navigate(pageUrl_);
}

void MainForm::Form_Resize() {
    // Minimised gives 0 x 0 and is placed as it comes.
    webBrowser_->place(
        {0, 0, static_cast<int>(ScaleWidth()) + kRightOverhang, static_cast<int>(ScaleHeight())});
}

void MainForm::webBrowser_DocumentComplete() {
    if (!webBrowser_->hasDocument()) return;
    // A page without the function leaves pageReady as it was.
    if (!webBrowser_->runScript(kClientTypeScript)) return;
    pageReady_ = true;
}

void MainForm::webBrowser_DownloadComplete() {
    if (!pageReady_) return;
    webBrowser_->runScript(kClientTypeScript); // failures are ignored
}

void MainForm::webBrowser_TitleChange(const std::string& text) {
    if (!webBrowser_->hasDocument()) {
        setCaption(text);
        return;
    }
    // The document's title wins over the event's text; unreadable keeps the caption.
    if (auto title = webBrowser_->documentTitle()) setCaption(*title);
}

void MainForm::webBrowser_EngineTerminated() {
    if (engineRestart_.allowed()) webBrowser_->Navigate(pageUrl_);
}

void MainForm::Form_QueryUnload(bool& cancel, fw::UnloadMode) {
    if (confirmExit())
        flow_.openLogin(); // unloads this window, which is already closing
    else
        cancel = true;
}

} // namespace forms
