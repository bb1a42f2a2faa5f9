#include "app/Application.h"

#include "config/AppConfig.h"
#include "forms/BackForm.h"
#include "forms/LoginForm.h"
#include "forms/MainForm.h"
#include "framework/ports/files.h"
#include "framework/ports/platform.h"
#include "upgrade/VersionCheck.h"

#include <utility>

namespace app {

std::unique_ptr<forms::BackForm> backForm;
std::unique_ptr<forms::LoginForm> loginForm;
std::unique_ptr<forms::MainForm> mainForm;

namespace {

struct Flow final : forms::WindowFlow {
    void showLoginFace() {
        // The replaced login face (hidden since the hand-over) is not used again.
        // Its windows go from the message loop once the new face is up, the
        // owned window first: a question of theirs may still be open below us.
        auto oldBack = std::exchange(backForm, std::make_unique<forms::BackForm>(*this));
        backForm->Show();
        auto oldLogin = std::exchange(app::loginForm, std::make_unique<forms::LoginForm>(*this));
        app::loginForm->Show(backForm.get());
        // At the start and back from the game the keyboard goes to the
        // page, also where no window manager hands it to a new window.
        app::loginForm->SetFocus();
        fw::Form::retire(std::move(oldLogin));
        fw::Form::retire(std::move(oldBack));
    }

    void openLogin() override {
        if (mainForm) mainForm->Unload();
        showLoginFace();
    }

    void openGame(std::string address) override {
        if (backForm) backForm->Hide();
        if (app::loginForm) app::loginForm->Hide();
        if (!mainForm) mainForm = std::make_unique<forms::MainForm>(*this);
        mainForm->Show();
        mainForm->navigateToUrl(address);
        // The hidden login face is not shown again (a new one replaces it):
        // what only showing it needs goes now, its page after the game's
        // browser was made beside it.
        if (app::loginForm) app::loginForm->releaseShowing();
        if (backForm) backForm->releaseShowing();
    }

    void openUrl(std::string address) override { fw::Platform::get().openUrl(address); }

    void minimizeWindows() override {
        if (backForm) backForm->setWindowState(fw::WindowState::Minimized);
        if (app::loginForm) app::loginForm->setWindowState(fw::WindowState::Minimized);
    }

    void followBackWindow() override {
        if (!backForm || !backForm->Visible() ||
            backForm->windowState() == fw::WindowState::Minimized || !app::loginForm)
            return;
        app::loginForm->setTop(backForm->Top() + kLoginOffsetTop);
        app::loginForm->setLeft(backForm->Left() + kLoginOffsetLeft);
    }

    void dragWindow() override {
        if (!backForm || !backForm->peer()) return;
        backForm->peer()->beginMoveDrag();
    }

    forms::LoginForm* loginForm() override { return app::loginForm.get(); }
} flow;

} // namespace

forms::WindowFlow& windowFlow() {
    return flow;
}

void Main() {
    config::loadConfig();
    runInstall();
    flow.showLoginFace();
    config::checkConfig();
    // Taken once the configuration is accepted: a broken one leaves the
    // folder exactly as it was.
    fw::holdFolderLock();
    upgrade::checkVersion([] { return backForm ? backForm->peer() : nullptr; });
}

} // namespace app
