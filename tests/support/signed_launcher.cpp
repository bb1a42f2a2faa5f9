// The launcher as built with an operator's key, for the end-to-end tests of
// signed upgrades: the same start as the real entry points, with the test
// key (tests/support/upgrade_test_key.pub.pem) in place of the built-in one.
#include "app/Application.h"
#include "config/SignedUpgrade.h"

namespace testsupport {
extern const char kTestUpgradeKey[];
}

#ifdef _WIN32
#include "framework/win32/win32_platform.h"

#include <ole2.h>

#include <exception>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    static fw::win32::Win32Platform platform(instance);
    OleInitialize(nullptr);
    config::setUpgradeKeyForTests(testsupport::kTestUpgradeKey);
    try {
        app::Main();
    } catch (const std::exception& e) {
        platform.untrapped(e.what());
    }
    return platform.run();
}
#else
#include "framework/gtk/gtk_platform.h"

int main() {
    gdk_set_allowed_backends("x11");
    g_set_prgname("launcher");
    if (!gtk_init_check(nullptr, nullptr)) return 1;
    config::setUpgradeKeyForTests(testsupport::kTestUpgradeKey);
    fw::gtk::GtkPlatform platform;
    platform.deliver([] { app::Main(); });
    return platform.run();
}
#endif
