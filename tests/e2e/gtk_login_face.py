"""Linux launcher with a valid launcher.ini: the login face (background
window centred, login window at its fixed offset on top) and dragging it
with the right button on the background window and with the middle button
on the login window: the background window moves and the login window
follows."""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
from gtk_env import GtkLauncher  # noqa: E402

INSTALL_TIME = "[2001-02-03 04:05:06]"
BACK_SIZE = (1039, 652)
LOGIN_SIZE = (757, 563)
# 3810 x 1045 twips at 15 twips per pixel.
LOGIN_OFFSET = (254, 70)


def main():
    with desktop.Xvfb() as display, GtkLauncher(sys.argv[1]) as run:
        run.write_ini("[platform]\n"
                      "loginUrl=http://127.0.0.1:1/login.html\n"
                      # Not contained in loginUrl: the login page stays.
                      "mainUrl=http://127.0.0.1:1/game.html\n"
                      "[install]\n"
                      "installTime=%s\n" % INSTALL_TIME)
        run.start(display)
        back = run.wait_window("^Varnholt登录器$")
        login = desktop.wait_for(lambda: run.window_of_size(*LOGIN_SIZE), 10, "the login window")
        print("login face after %.0f ms" % ((time.monotonic() - run.started_at) * 1000))

        bx, by, bw, bh = run.geometry(back)
        if (bw, bh) != BACK_SIZE:
            desktop.fail("background window is %dx%d" % (bw, bh))
        sw, sh = run.screen_size()
        if abs(bx - (sw - bw) // 2) > 2 or abs(by - (sh - bh) // 2) > 2:
            desktop.fail("background window at %d,%d is not centred on %dx%d" % (bx, by, sw, sh))

        def pair_at(x, y):
            b = run.geometry(back)[:2]
            l_ = run.geometry(login)[:2]
            return b == (x, y) and l_ == (x + LOGIN_OFFSET[0], y + LOGIN_OFFSET[1])

        desktop.wait_for(lambda: pair_at(bx, by), 5,
                         "the login window at +%d,+%d from the background window" % LOGIN_OFFSET)

        stamp = desktop.read_ini_value(run.ini, "install", "installTime")
        if stamp != INSTALL_TIME:
            desktop.fail("installTime changed to %r" % stamp)

        # Right button on the background window, left of the login window.
        run.drag(bx + 100, by + 300, 40, 30, button=3)
        desktop.wait_for(lambda: pair_at(bx + 40, by + 30), 5,
                         "the pair dragged by the background window to %d,%d" % (bx + 40, by + 30))

        # Middle button near the login window's corner: its own surface (or,
        # where that is see-through, the background window's) drags the pair.
        lx, ly = run.geometry(login)[:2]
        run.drag(lx + 6, ly + 6, -50, -20, button=2)
        desktop.wait_for(lambda: pair_at(bx - 10, by + 10), 5,
                         "the pair dragged by the login window to %d,%d" % (bx - 10, by + 10))

        if not run.running():
            desktop.fail("the launcher ended (status %s)" % run.proc.returncode)
    print("ok")


if __name__ == "__main__":
    main()
