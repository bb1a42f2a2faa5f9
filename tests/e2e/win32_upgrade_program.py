"""upgrade.exe under Wine: the rows of upgrade_rows.py. Both launchers are
fake_launcher.exe, told apart by bytes appended to it."""
import glob
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import upgrade_rows  # noqa: E402
import wine_env  # noqa: E402


class Win32:
    name, mode = "launcher.exe", None

    def __init__(self, display):
        self.display = display
        fake = upgrade_rows.read(os.environ["E2E_FAKE_LAUNCHER"])
        self.old, self.new = fake + b"old launcher", fake + b"new launcher 1.01"
        self.log = glob.glob(os.path.join(wine_env.prefix(), "drive_c", "users", "*", "AppData",
                                          "Local"))[0] + "/varnholt/launcher.log"

    def program(self, short):
        return os.environ["E2E_SHORT_WAIT_UPGRADE" if short else "E2E_UPGRADE"]

    def native(self, path):
        return wine_env.winpath(path)

    def hold(self, folder, seconds):
        ready = os.path.join(wine_env.state_dir(), "held")
        proc = wine_env.start_exe(os.path.join(folder, self.name), [
            "hold", str(int(seconds * 1000)), wine_env.winpath(ready)], display=self.display)
        desktop.wait_for(lambda: os.path.exists(ready), 20, "the old launcher's mutex")
        os.remove(ready)
        return proc

    def start(self, program, cwd):
        return wine_env.start_exe(program, display=self.display, cwd=cwd, logname="upgrade.log")

    def answer(self, proc):
        # Into the box itself, again until it goes: a key sent before Wine has given it the
        # focus is lost.
        box = lambda: proc.poll() is None and desktop.find_windows(  # noqa: E731
            self.display, upgrade_rows.TITLE)
        deadline = time.monotonic() + 40
        while proc.poll() is None and time.monotonic() < deadline:
            for wid in box() or []:
                desktop.xdotool(self.display, "windowfocus", "--sync", wid, "key", "Return",
                                check=False)
            time.sleep(1)
        if proc.poll() is None:
            desktop.fail("upgrade.exe's message did not come up or did not take Return")


if __name__ == "__main__":
    upgrade_rows.run_rows(Win32(wine_env.fixture_display()))
