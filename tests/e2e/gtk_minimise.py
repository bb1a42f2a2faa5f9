"""Linux launcher under a window manager (openbox, on a display of its
own): the login window's minimise button iconifies the background window
and the login window; the window manager's restore of the background
window brings the pair back, the login window at its offset."""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import browser_site as site  # noqa: E402
import desktop  # noqa: E402
from gtk_env import GtkLauncher  # noqa: E402
from test_server import TestServer  # noqa: E402


def wm_state(display, wid):
    out = subprocess.run(["xprop", "-id", wid, "WM_STATE"], capture_output=True, text=True,
                         env=dict(os.environ, DISPLAY=display), timeout=10).stdout
    return "Iconic" if "Iconic" in out else "Normal" if "Normal" in out else out.strip()


def main():
    with desktop.Xvfb() as display, TestServer(pages=site.PAGES) as srv, \
            GtkLauncher(sys.argv[1]) as run:
        wm = desktop.spawn(["openbox", "--sm-disable"],
                           env=dict(os.environ, DISPLAY=display, HOME=run.home))
        try:
            desktop.wait_for(lambda: subprocess.run(
                ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], capture_output=True, text=True,
                env=dict(os.environ, DISPLAY=display)).stdout.count("window id"), 10,
                "the window manager")
            login = site.start_at_login(run, srv, display)
            back = run.wait_window("^Varnholt登录器$")
            site.click_button(run, login, "mini")
            for w in (back, login):
                desktop.wait_for(lambda: wm_state(display, w) == "Iconic", 5,
                                 "window %s minimised" % w)
            desktop.xdotool(display, "windowactivate", back, check=False)
            for w in (back, login):
                desktop.wait_for(lambda: wm_state(display, w) == "Normal", 5,
                                 "window %s restored" % w)
            bx, by = run.geometry(back)[:2]
            desktop.wait_for(lambda: run.geometry(login)[:2] == (bx + 254, by + 70), 5,
                             "the login window at its offset")
        finally:
            desktop.stop(wm)
    print("ok")


if __name__ == "__main__":
    main()
