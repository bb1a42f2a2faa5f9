"""launcher.exe under Wine: the upgrade cases of tests/support/upgrade_cases.py,
the signed ones with the launcher built with the test key, whose signature the
system's CryptoAPI verifies. The served program is upgrade_marker.exe, which
records its arguments beside itself."""
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import upgrade_cases as cases  # noqa: E402
import wine_env  # noqa: E402
from browser_site import BUTTONS  # noqa: E402
from test_server import TestServer  # noqa: E402

QUIT = "^退出提示$"


class Run:
    """A copy of launcher.exe in a folder of its own, started from elsewhere."""

    def __init__(self, exe, display, folder):
        self.display = display
        self.folder = folder
        self.ini = os.path.join(folder, "launcher.ini")
        self.name = os.path.basename(os.path.dirname(folder))
        self.exe = desktop.copy_exe(exe, folder)
        self.proc = None

    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc, tb):
        desktop.stop(self.proc)
        # The next case must not find this one's windows.
        desktop.wait_for(lambda: not desktop.find_windows(self.display, cases.BACK), 10,
                         "the windows of %s to go" % self.name)

    def start(self):
        # Started from elsewhere: nothing may depend on the working folder.
        self.proc = wine_env.start_exe(self.exe, display=self.display, cwd=wine_env.state_dir(),
                                       logname="launcher-upgrade-%s.log" % self.name)

    def running(self):
        return self.proc.poll() is None

    def wait_exit(self, timeout):
        desktop.wait_for(lambda: not self.running(), timeout, "%s: the launcher to end" % self.name)
        return self.proc.returncode

    def windows(self, title=""):
        return desktop.find_windows(self.display, title)

    def wait_window(self, title, timeout=20):
        return desktop.wait_window(self.display, title, timeout=timeout)

    def geometry(self, wid):
        return desktop.window_geometry(self.display, wid)

    def screen_size(self):
        w, h = desktop.xdotool(self.display, "getdisplaygeometry").split()
        return int(w), int(h)

    def key(self, wid, key):
        wine_env.answer(self.display, wid, key)


class Build:
    name = "win32"
    big = b"MZ" + b"\x90" * (1600 * 1024)
    earlier = b"MZ earlier upgrade program"
    # Text: Wine starts an "MZ"-headed junk file as a DOS program, but refuses
    # this one (ERROR_BAD_EXE_FORMAT), so the failed start is what the test sees.
    junk = b"plain text, no program header\r\n" * 8
    marker = "arguments=0"
    cancel_key = "Return"  # on the focused Cancel button
    folder_name = "启动 器 dir"
    check_owner = check_started = None

    def __init__(self, display, base):
        with open(wine_env.launcher_exe("E2E_UPGRADE_MARKER"), "rb") as f:
            self.program = f.read()
        self.exe = {cases.PLAIN: wine_env.launcher_exe(),
                    cases.SIGNED: wine_env.launcher_exe("E2E_SIGNED_LAUNCHER")}
        self.display, self.base = display, base

    def launch(self, name, folder_name, launcher):
        return Run(self.exe[launcher], self.display, os.path.join(self.base, name, folder_name))

    def close_under(self, run):
        """A click on the login window's close button, which would ask
        whether to quit."""
        back, login = wine_env.face(self.display)
        if not login:
            desktop.fail("the login window is not visible under the progress window")
        left, top, width, height = BUTTONS["close"]
        for dx in (0, 1):
            desktop.xdotool(self.display, "mousemove", str(login[0] + left + width // 2 + dx),
                            str(login[1] + top + height // 2))
            time.sleep(0.3)
        desktop.xdotool(self.display, "click", "1")
        time.sleep(1)
        return bool(run.windows(QUIT))


def main():
    base = desktop.scratch_dir("launcher-upgrade-")
    try:
        with desktop.Xvfb() as display:
            build = Build(display, base)
            with TestServer(files=cases.served_files(build), lifetime=120) as srv:
                cases.run_rows(build, srv)
    finally:
        shutil.rmtree(base, ignore_errors=True)


if __name__ == "__main__":
    main()
