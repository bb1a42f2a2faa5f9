"""launcher.exe under Wine with a bad launcher.ini or a folder it may not
write: each case of tests/support/bad_config.py gives the broken-configuration
box or a working launcher, never a crash or a hang. kernel32 here is the
reference the Linux build's own INI engine follows.

    win32_bad_config.py [CASE NAME ...]"""
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import bad_config  # noqa: E402
import desktop  # noqa: E402
import wine_env  # noqa: E402
from test_server import TestServer  # noqa: E402
from wine_env import LOGIN_SIZE, answer, face  # noqa: E402

LAUNCHER = wine_env.launcher_exe()


class Run:
    def __init__(self, display, proc, own_server):
        self.display, self.proc, self.own_server = display, proc, own_server

    def running(self):
        return self.proc.poll() is None

    def face(self):
        return all(face(self.display))

    def box(self, title):
        return (desktop.find_windows(self.display, title) or [None])[0]

    def answer(self, box, key):
        answer(self.display, box, key)

    def close_login(self):
        for w in desktop.xdotool(self.display, "search", "--onlyvisible", "--class",
                                 "launcher.exe", check=False).split():
            if (desktop.window_geometry(self.display, w) or ())[2:] == LOGIN_SIZE:
                answer(self.display, w, "alt+F4")
                return desktop.wait_window(self.display, bad_config.CONFIRM, timeout=20)
        desktop.fail("no login window to close")

    def wait_exit(self, timeout):
        desktop.wait_for(lambda: not self.running(), timeout, "the launcher to end")

    def stop(self):
        desktop.stop(self.proc)
        if self.own_server:
            wine_env.stop()


class Driver:
    def __init__(self, display, base):
        self.display, self.base = display, base
        self.replaced_server = False

    def install(self, name):
        folder = os.path.join(self.base, name)
        desktop.copy_exe(LAUNCHER, folder)
        return folder

    def launch(self, folder, name, wrap):
        if wrap:
            # The wineserver opens, writes and renames the files: the run's
            # server goes, and the launcher starts one under its own wrapper.
            wine_env.stop()
            self.replaced_server = True
        exe = os.path.join(folder, os.path.basename(LAUNCHER))
        proc = desktop.spawn(wrap + ["wine", exe], env=wine_env.env(self.display),
                             cwd=wine_env.state_dir(),
                             log=wine_env.log("bad-config-%s.log" % bad_config.slug(name)))
        return Run(self.display, proc, bool(wrap))


def main():
    base = desktop.scratch_dir()
    driver = None
    try:
        with desktop.Xvfb() as display, \
                TestServer(pages={"/login.html": "<html><body>login</body></html>"},
                           lifetime=600) as srv:
            driver = Driver(display, base)
            bad_config.run_all(driver, srv, sys.argv[1:])
    finally:
        if driver and driver.replaced_server and not wine_env.server_pids():
            wine_env.start()  # the run's server again, for the tests after this one
        shutil.rmtree(base, ignore_errors=True)
    print("win32 bad configuration: all cases passed")


if __name__ == "__main__":
    main()
