// The entry procedure, the three window references and the window-flow
// actions that move the user between the login face and the game face.
#pragma once

#include "forms/WindowFlow.h"

#include <memory>

namespace forms {
class BackForm;
class LoginForm;
class MainForm;
} // namespace forms

namespace app {

// Set only here; never emptied while the launcher runs.
extern std::unique_ptr<forms::BackForm> backForm;
extern std::unique_ptr<forms::LoginForm> loginForm;
extern std::unique_ptr<forms::MainForm> mainForm;

void Main();
// Install hook: reserved for first-run work; it has none.
inline void runInstall() {}
// The window-flow actions (openLogin, openGame, openUrl, minimizeWindows,
// followBackWindow, dragWindow), as the windows reach them.
forms::WindowFlow& windowFlow();

// Login window corner relative to the background window's corner, twips.
inline constexpr int kLoginOffsetLeft = 3810;
inline constexpr int kLoginOffsetTop = 1045;

} // namespace app
