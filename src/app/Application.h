// The entry procedure, the three window references and the window-flow
// actions that move the user between the login face and the game face.
#pragma once

#include "framework/ports/platform.h"

#include <cstdint>
#include <memory>
#include <string>

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
void openLogin();
void openGame(std::string address);
void openUrl(std::string address);
// False when the program could not be started.
bool runProgram(std::string relativePath);
void minimizeWindows();
void followBackWindow();
void dragWindow();

// Blocking download of `address` + "?v=" + local-clock seconds into the file
// `relativePath` beside the executable: 0 on success. `watch`, `bounds`: see
// fw::Platform::download.
std::int32_t downloadFile(const std::string& address, const std::string& relativePath,
                          fw::DownloadWatch* watch = nullptr,
                          const fw::DownloadBounds& bounds = {});
std::string requestAddress(const std::string& address);

// Login window corner relative to the background window's corner, twips.
inline constexpr int kLoginOffsetLeft = 3810;
inline constexpr int kLoginOffsetTop = 1045;

} // namespace app
