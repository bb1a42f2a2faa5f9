"""Linux launcher with a bad launcher.ini or a folder it may not write: each
case of tests/support/bad_config.py gives the broken-configuration box or a
working launcher, as kernel32 would read the file; never a crash or a hang.

    gtk_bad_config.py LAUNCHER [CASE NAME ...]"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import bad_config  # noqa: E402
import desktop  # noqa: E402
import gtk_env  # noqa: E402
from test_server import TestServer  # noqa: E402

LOGIN_SIZE = (757, 563)


class Run:
    def __init__(self, launcher):
        self.l = launcher

    def running(self):
        return self.l.running()

    def login(self):
        return self.l.login_window()

    def face(self):
        return bool(self.l.windows("^Varnholt登录器$")) and self.login() is not None

    def box(self, title):
        return (self.l.windows(title) or [None])[0]

    def answer(self, box, key):
        self.l.key(box, key)

    def close_login(self):
        gtk_env.request_close(self.l.display, self.login())
        return self.l.wait_window(bad_config.CONFIRM, 20)

    def wait_exit(self, timeout):
        status = self.l.wait_exit(timeout)
        if status != 0:
            desktop.fail("the launcher ended with status %d" % status)

    def stop(self):
        desktop.stop(self.l.proc)


class Driver:
    def __init__(self, exe, display):
        self.exe, self.display, self.launchers = exe, display, []

    def install(self, name):
        self.launchers.append(gtk_env.GtkLauncher(self.exe, folder_name=name))
        return self.launchers[-1].folder

    def launch(self, folder, name, wrap):
        launcher = self.launchers[-1]
        launcher.start(self.display, wrap)
        return Run(launcher)


def main():
    page = "<html><body style='background:#fff'>login</body></html>"
    driver = None
    with desktop.Xvfb() as display, TestServer(pages={"/login.html": page}, lifetime=600) as srv:
        try:
            driver = Driver(sys.argv[1], display)
            bad_config.run_all(driver, srv, sys.argv[2:])
        finally:
            for launcher in driver.launchers if driver else []:
                launcher.__exit__(*sys.exc_info())
    print("ok")


if __name__ == "__main__":
    main()
