// The launcher for end-to-end tests, started as the real one: signed_launcher has the test key
// (tests/support/upgrade_test_key.pub.pem) in place of the built-in one, short_check_launcher a
// version check that gives up after LAUNCHER_TEST_CHECK_MS.
#include "app/Application.h"
#include "upgrade/SignedUpgrade.h"
#include "upgrade/VersionCheck.h"

namespace testsupport {
extern const char kTestUpgradeKey[];
}

static void testSettings() {
#ifdef LAUNCHER_TEST_CHECK_MS
    upgrade::setVersionCheckBoundsForTests({LAUNCHER_TEST_CHECK_MS, 1 << 20});
#else
    upgrade::setUpgradeKeyForTests(testsupport::kTestUpgradeKey);
#endif
}

#ifdef _WIN32
#include "framework/win32/platform.h"

#include <ole2.h>

#include <exception>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    static fw::win32::Win32Platform platform(instance);
    OleInitialize(nullptr);
    testSettings();
    try {
        app::Main();
    } catch (const std::exception& e) {
        platform.untrapped(e.what());
    }
    return platform.run();
}
#else
#include "framework/gtk/platform.h"

int main() {
    gdk_set_allowed_backends("x11");
    g_set_prgname("launcher");
    if (!gtk_init_check(nullptr, nullptr)) return 1;
    testSettings();
    fw::gtk::GtkPlatform platform;
    platform.deliver([] { app::Main(); });
    return platform.run();
}
#endif
