#include "app/Application.h"

#include "config/AppConfig.h"
#include "forms/BackForm.h"
#include "forms/LoginForm.h"
#include "forms/MainForm.h"
#include "framework/ports/platform.h"
#include "upgrade/VersionCheck.h"

#include <utility>

namespace app {

std::unique_ptr<forms::BackForm> backForm;
std::unique_ptr<forms::LoginForm> loginForm;
std::unique_ptr<forms::MainForm> mainForm;

namespace {
struct Flow final : forms::WindowFlow {
    void openGame(std::string address) override { app::openGame(std::move(address)); }
    void openLogin() override { app::openLogin(); }
    void openUrl(std::string address) override { app::openUrl(std::move(address)); }
    void minimizeWindows() override { app::minimizeWindows(); }
    void followBackWindow() override { app::followBackWindow(); }
    void dragWindow() override { app::dragWindow(); }
    forms::LoginForm* loginForm() override { return app::loginForm.get(); }
} flow;

void showLoginFace() {
    // The replaced login face (hidden since the hand-over) is not used again.
    // Its windows go from the message loop once the new face is up, the
    // owned window first: a question of theirs may still be open below us.
    auto oldBack = std::exchange(backForm, std::make_unique<forms::BackForm>(flow));
    backForm->Show();
    auto oldLogin = std::exchange(loginForm, std::make_unique<forms::LoginForm>(flow));
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
    upgrade::checkVersion([] { return backForm ? backForm->peer() : nullptr; });
}

forms::WindowFlow& windowFlow() {
    return flow;
}

void openLogin() {
    if (mainForm) mainForm->Unload();
    showLoginFace();
}

void openGame(std::string address) {
    if (backForm) backForm->Hide();
    if (loginForm) loginForm->Hide();
    if (!mainForm) mainForm = std::make_unique<forms::MainForm>(flow);
    mainForm->Show();
    mainForm->navigateToUrl(address);
    // The hidden login face is not shown again (a new one replaces it): its
    // page goes now, after the game's browser was made beside it.
    if (loginForm) loginForm->releaseBrowser();
}

void openUrl(std::string address) {
    fw::Platform::get().openUrl(address);
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

} // namespace app
