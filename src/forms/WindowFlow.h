// What the windows ask of the window flow, which moves the player between the
// login face and the game face. The flow (app/) makes the windows and hands
// itself to each.
#pragma once

#include <string>

namespace forms {

class LoginForm;

class WindowFlow {
public:
    virtual ~WindowFlow() = default;
    virtual void openGame(std::string address) = 0;
    virtual void openLogin() = 0;
    virtual void openUrl(std::string address) = 0;
    virtual void minimizeWindows() = 0;
    virtual void followBackWindow() = 0;
    virtual void dragWindow() = 0;
    // The login window of the face shown now; null before the first.
    virtual LoginForm* loginForm() = 0;
};

} // namespace forms
