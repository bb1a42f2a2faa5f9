"""Linux launcher: the upgrade cases of tests/support/upgrade_cases.py, the
signed ones with the launcher built with the test key (E2E_SIGNED_LAUNCHER). The
Linux build keeps the name "update/upgrade.exe"; the server hands it a shell
script that records its arguments and whether the launcher had logged the
download before starting it."""
import os
import stat
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import upgrade_cases as cases  # noqa: E402
from gtk_env import GtkLauncher, request_close  # noqa: E402
from test_server import TestServer  # noqa: E402

PROGRAM = (b"#!/bin/sh\n"
           b"here=$(dirname \"$0\")\n"
           b"if grep -q 'versionUpdateLog=load version application success' "
           b"\"$here/../launcher.ini\"; then logged=yes; else logged=no; fi\n"
           b"printf 'arguments=%d logged=%s\\n' \"$#\" \"$logged\" > \"$here/upgrade-ran.txt.tmp\"\n"
           b"mv \"$here/upgrade-ran.txt.tmp\" \"$here/upgrade-ran.txt\"\n")


class Run(GtkLauncher):
    def __init__(self, exe, display, folder_name):
        super().__init__(exe, folder_name=folder_name)
        self.display = display

    def env(self, display):
        return dict(super().env(display), TZ=cases.TZ)

    def start(self):
        super().start(self.display)


class Build:
    name = "gtk"
    program = PROGRAM
    big = b"#!/bin/sh\n" + b"#" * (1600 * 1024)
    earlier = b"#!/bin/sh\n# earlier upgrade program\nexit 3\n"
    junk = None
    marker = "arguments=0 logged=yes"
    cancel_key = "Escape"  # as the Cancel button
    # A Linux folder name may hold what a command line would quote or escape.
    folder_name = '启动 "器" back\\slash $HOME dir'

    def __init__(self, exe, display):
        self.exe = {cases.PLAIN: exe, cases.SIGNED: os.environ.get("E2E_SIGNED_LAUNCHER")
                    or desktop.fail("E2E_SIGNED_LAUNCHER is not set")}
        self.display = display

    def launch(self, name, folder_name, launcher):
        return Run(self.exe[launcher], self.display, folder_name)

    def check_owner(self, c, progress):
        back = c.run.windows(cases.BACK)
        transient = subprocess.run(["xprop", "-id", progress, "WM_TRANSIENT_FOR"],
                                   env=dict(os.environ, DISPLAY=self.display),
                                   capture_output=True, text=True, timeout=10).stdout
        if not back or int(transient.rsplit("#", 1)[-1].strip(), 16) != int(back[0]):
            c.fail("the progress window is not owned by the background window: %r" % transient)

    def close_under(self, run):
        before = sorted(run.windows())
        request_close(self.display, run.login_window())
        time.sleep(0.5)
        return sorted(run.windows()) != before

    def check_started(self, c):
        if not os.stat(os.path.join(c.update, "upgrade.exe")).st_mode & stat.S_IXUSR:
            c.fail("update/upgrade.exe has no execute bit")


def main():
    with desktop.Xvfb() as display, TestServer(files=cases.served_files(Build), lifetime=120,
                                               pages={"/login.html": "<html>登录</html>"}) as srv:
        cases.run_rows(Build(sys.argv[1], display), srv)


if __name__ == "__main__":
    main()
