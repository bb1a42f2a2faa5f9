#include "windows/ExitConfirmation.h"

#include "framework/platform.h"

namespace windows {

bool confirmExit() {
    return fw::Platform::get().messageBox("此操作将会退出游戏，是否继续？", "退出提示",
                                          fw::kOkCancel) == fw::kIdOk;
}

} // namespace windows
