"""Linux launcher without a usable launcher.ini: the install time is stamped,
the login face comes up, the broken-configuration message is shown over it
and OK ends the program at once (nothing after the end runs: the version
check never writes its outcome)."""
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
from gtk_env import GtkLauncher  # noqa: E402


def ini_keys(path):
    keys, section = [], None
    with open(path, "rb") as f:
        for line in f.read().decode("utf-8", "replace").splitlines():
            line = line.strip()
            if line.startswith("["):
                section = line[1:line.rindex("]")].lower()
            elif "=" in line:
                keys.append((section, line.split("=", 1)[0].strip().lower()))
    return keys


def main():
    with desktop.Xvfb() as display, GtkLauncher(sys.argv[1]) as run:
        # No launcher.ini at all.
        run.start(display)
        box = run.wait_window("^系统提示$")
        if not run.windows("^Varnholt登录器$"):
            desktop.fail("the background window was not visible under the message")
        if run.login_window() is None:
            desktop.fail("the login window was not visible under the message")

        run.key(box, "Return")
        status = run.wait_exit(10)
        if status != 0:
            desktop.fail("the launcher ended with status %d" % status)

        stamp = desktop.read_ini_value(run.ini, "install", "installTime")
        if stamp is None or not re.fullmatch(r"\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\]", stamp):
            desktop.fail("installTime is %r" % stamp)
        keys = ini_keys(run.ini)
        if keys != [("install", "installtime")]:
            desktop.fail("launcher.ini holds %r; only the install time was expected" % keys)
        if os.listdir(run.cwd):
            desktop.fail("the launcher wrote into the current directory: %r" % os.listdir(run.cwd))
    print("ok")


if __name__ == "__main__":
    main()
