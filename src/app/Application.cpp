#include "app/Application.h"

#include "config/AppConfig.h"
#include "config/ProgramFiles.h"
#include "framework/ports/platform.h"
#include "forms/BackForm.h"
#include "forms/LoginForm.h"
#include "forms/MainForm.h"

#include <utility>

namespace app {

std::unique_ptr<forms::BackForm> backForm;
std::unique_ptr<forms::LoginForm> loginForm;
std::unique_ptr<forms::MainForm> mainForm;

namespace {
void showLoginFace() {
    // The replaced login face (hidden since the hand-over) is not used again.
    // Its windows go from the message loop once the new face is up, the
    // owned window first: a question of theirs may still be open below us.
    auto oldBack = std::exchange(backForm, std::make_unique<forms::BackForm>());
    backForm->Show();
    auto oldLogin = std::exchange(loginForm, std::make_unique<forms::LoginForm>());
    loginForm->Show(backForm.get());
    fw::Form::retire(std::move(oldLogin));
    fw::Form::retire(std::move(oldBack));
}
} // namespace

void Main() {
    config::loadConfig();
    runInstall();
    showLoginFace();
    config::checkConfig();
    config::checkVersion();
}

void openLogin() {
    if (mainForm) mainForm->Unload();
    showLoginFace();
}

void openGame(std::string address) {
    if (backForm) backForm->Hide();
    if (loginForm) loginForm->Hide();
    if (!mainForm) mainForm = std::make_unique<forms::MainForm>();
    mainForm->Show();
    mainForm->navigateToUrl(address);
    // The hidden login face is not shown again (a new one replaces it): its
    // page goes now, after the game's browser was made beside it.
    if (loginForm) loginForm->releaseBrowser();
}

void openUrl(std::string address) {
    fw::Platform::get().openUrl(address);
}

bool runProgram(std::string relativePath) {
    const std::string path = config::programPath(relativePath);
    fw::Platform::get().markExecutable(path);
    // Quoted, so that a folder with blanks cannot start another program.
    return fw::Platform::get().startProcess("\"" + path + "\"");
}

void minimizeWindows() {
    if (backForm) backForm->setWindowState(fw::WindowState::Minimized);
    if (loginForm) loginForm->setWindowState(fw::WindowState::Minimized);
}

void followBackWindow() {
    if (!backForm || !backForm->Visible() ||
        backForm->windowState() == fw::WindowState::Minimized || !loginForm)
        return;
    loginForm->setTop(backForm->Top() + kLoginOffsetTop);
    loginForm->setLeft(backForm->Left() + kLoginOffsetLeft);
}

void dragWindow() {
    if (!backForm || !backForm->peer()) return;
    backForm->peer()->beginMoveDrag();
}

std::string requestAddress(const std::string& address) {
    // Appended even after an existing "?": servers may rely on the exact form.
    return address +
           "?v=" + std::to_string(config::secondsSince1970(fw::Platform::get().localNow()));
}

std::int32_t downloadFile(const std::string& address, const std::string& relativePath,
                          fw::DownloadWatch* watch, const fw::DownloadBounds& bounds) {
    const std::string url = requestAddress(address);
    config::ensureFolder(relativePath);
    return fw::Platform::get().download(url, config::programPath(relativePath), watch, bounds);
}

} // namespace app
