// The entry point of launcher.exe: install the platform, run Main, then the
// message loop. The program ends only through Platform::end().
#include "app/Application.h"
#include "framework/win32/platform.h"

#include <ole2.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    static fw::win32::Win32Platform platform(instance);
    // The embedded browser and the shell need an OLE apartment on this thread.
    OleInitialize(nullptr);
    platform.guarded([] { app::Main(); });
    return platform.run();
}
