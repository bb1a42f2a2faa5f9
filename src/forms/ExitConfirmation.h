#pragma once

#include "framework/ports/platform.h"

namespace forms {
// "Leave the game?" asked by the login and game windows; true on OK.
inline bool confirmExit() {
    return fw::Platform::get().messageBox("此操作将会退出游戏，是否继续？", "退出提示",
                                          fw::kOkCancel) == fw::kIdOk;
}
} // namespace forms
