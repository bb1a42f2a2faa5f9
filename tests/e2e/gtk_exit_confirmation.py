"""Linux launcher: a close request on the login window asks "退出提示"
(OK and Cancel). Esc cancels and the login face stays; Return is OK and
ends the program at once."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
from gtk_env import GtkLauncher, request_close  # noqa: E402


def main():
    with desktop.Xvfb() as display, GtkLauncher(sys.argv[1]) as run:
        run.write_ini("[platform]\n"
                      "loginUrl=http://127.0.0.1:1/login.html\n"
                      # Not contained in loginUrl: the login page stays.
                      "mainUrl=http://127.0.0.1:1/game.html\n"
                      "[install]\n"
                      "installTime=[2001-02-03 04:05:06]\n")
        run.start(display)
        run.wait_window("^Varnholt登录器$")
        login = desktop.wait_for(lambda: run.login_window(), 10, "the login window")

        request_close(display, login)
        box = run.wait_window("^退出提示$")
        run.key(box, "Escape")
        desktop.wait_for(lambda: not run.windows("^退出提示$"), 5, "the question to go")
        if not run.running():
            desktop.fail("Esc ended the launcher (status %s)" % run.proc.returncode)
        if run.login_window() != login or not run.windows("^Varnholt登录器$"):
            desktop.fail("the login face did not stay after Esc")

        request_close(display, login)
        box = run.wait_window("^退出提示$")
        run.key(box, "Return")
        status = run.wait_exit(10)
        if status != 0:
            desktop.fail("the launcher ended with status %d" % status)
    print("ok")


if __name__ == "__main__":
    main()
