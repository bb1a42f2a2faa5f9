"""Linux launcher with a valid launcher.ini: the login face over a plain
backdrop, without a compositor and with xcompmgr.

- The background window: centred, exactly 1039 x 652, caption and 48 x 48
  icon, on the taskbar (the login window is not); the login window at its
  fixed offset on top.
- What the screen shows, read over two backdrop colours: see-through
  surroundings show the backdrop, opaque pixels stay the same, and pixels
  that change with the backdrop without being it (blended edges) exist
  only where a compositor runs - premultiplied, never brighter than their
  alpha allows.
- The login window's pure-blue surface is invisible (and so is a pure-blue
  square of its page); its frame and page are opaque, blue 254 included.
- A press on a see-through pixel reaches the backdrop; a right-button drag
  on the figure and a middle-button drag on the login window's surface over
  the panel move both windows and keep the offset."""
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import browser_site  # noqa: E402
import desktop  # noqa: E402
from gtk_env import GtkLauncher  # noqa: E402
from test_server import TestServer  # noqa: E402

INSTALL_TIME = "[2001-02-03 04:05:06]"
BACK_SIZE = (1039, 652)
LOGIN_SIZE = (757, 563)
# 3810 x 1045 twips at 15 twips per pixel.
LOGIN_OFFSET = (254, 70)
MAGENTA, CYAN, BLUE = (255, 0, 255), (0, 255, 255), (0, 0, 255)

# Places of the background picture (its own pixels).
CORNER = (2, 2)        # the see-through surroundings
FIGURE = (180, 450)    # the figure's robe
# Places of the login window (its own pixels).
LOGIN_CORNER = (3, 3)  # its blue surface over the picture's see-through top
OVER_PANEL = (41, 330)  # its blue surface beside the frame, over the panel

# A green page with a pure-blue square (keyed like the window's own blue)
# and a blue-254 square (shown) at these page pixels, 40 x 40 each.
KEYED_SQUARE, SHOWN_SQUARE = (100, 100), (200, 100)
PAGE = """<!DOCTYPE html><html><head><meta charset="utf-8"><style>
html, body { margin: 0; overflow: hidden; background: #00c000; }
div { position: absolute; top: 100px; width: 40px; height: 40px; }
</style></head><body>
<div style="left: 100px; background: #0000ff"></div>
<div style="left: 200px; background: #0000fe"></div>
</body></html>"""


def xprop(display, wid, *names):
    r = subprocess.run(["xprop", "-id", wid] + list(names), capture_output=True, text=True,
                       env=dict(os.environ, DISPLAY=display), timeout=10)
    return r.stdout


def check_window_properties(run, back, login):
    props = xprop(run.display, back, "_NET_WM_NAME", "_NET_WM_ICON", "_NET_WM_STATE")
    if '"Varnholt登录器"' not in props:
        desktop.fail("background window caption: %s" % props)
    icons = re.findall(r"Icon \((\d+) x (\d+)\)", props)
    if icons != [("48", "48")]:
        desktop.fail("background window icons: %s, not one of 48 x 48" % icons)
    if "SKIP_TASKBAR" in props:
        desktop.fail("the background window is kept off the taskbar")
    if "SKIP_TASKBAR" not in xprop(run.display, login, "_NET_WM_STATE"):
        desktop.fail("the login window has a taskbar button of its own")


def check_pixels(run, backdrop, back_at, login_at, composited):
    bx, by = back_at
    lx, ly = login_at
    w, h = BACK_SIZE
    shot_a = backdrop.grab(bx, by, w, h)
    backdrop.set_colour(CYAN)
    corner = (bx + CORNER[0], by + CORNER[1])
    desktop.wait_for(lambda: backdrop.grab(*corner, 1, 1).at(*corner) == CYAN, 5,
                     "the backdrop's new colour at the picture's corner")
    time.sleep(0.3)  # the compositor paints the rest
    shot_b = backdrop.grab(bx, by, w, h)
    backdrop.set_colour(MAGENTA)

    blended = []
    for y in range(by, by + h):
        for x in range(bx, bx + w):
            a, b = shot_a.at(x, y), shot_b.at(x, y)
            if a == BLUE or b == BLUE:
                desktop.fail("pure blue on the screen at %d,%d of the background window"
                             % (x - bx, y - by))
            if a != b and (a != MAGENTA or b != CYAN):
                blended.append((x, y, a, b))
    if not composited and blended:
        desktop.fail("%d pixels blend without a compositor, e.g. %s" % (len(blended), blended[0]))
    if composited:
        if len(blended) < 100:
            desktop.fail("only %d blended pixels with a compositor" % len(blended))
        for x, y, a, b in blended:
            # Over magenta then cyan: red drops by (1 - alpha) * 255, green
            # rises by as much, blue stays; the picture's own colour is what
            # remains and, premultiplied, never exceeds its alpha.
            drop, rise = a[0] - b[0], b[1] - a[1]
            alpha = 255 - drop
            own = (b[0], a[1], a[2] - drop)
            if abs(drop - rise) > 3 or abs(a[2] - b[2]) > 1 or max(own) > alpha + 3:
                desktop.fail("pixel %d,%d blends as %s / %s" % (x - bx, y - by, a, b))

    def same_and_opaque(x, y, what):
        a, b = shot_a.at(x, y), shot_b.at(x, y)
        if a != b or a in (MAGENTA, CYAN):
            desktop.fail("%s at %d,%d is not opaque: %s / %s" % (what, x, y, a, b))
        return a

    if (shot_a.at(*corner), shot_b.at(*corner)) != (MAGENTA, CYAN):
        desktop.fail("the picture's corner is not see-through")
    same_and_opaque(lx + OVER_PANEL[0], ly + OVER_PANEL[1], "the panel beside the frame")
    same_and_opaque(bx + FIGURE[0], by + FIGURE[1], "the figure")
    corner_l = (lx + LOGIN_CORNER[0], ly + LOGIN_CORNER[1])
    if (shot_a.at(*corner_l), shot_b.at(*corner_l)) != (MAGENTA, CYAN):
        desktop.fail("the login window's corner is not see-through")
    page = browser_site.login_point((lx, ly), (0, 0))
    keyed = same_and_opaque(page[0] + KEYED_SQUARE[0] + 20, page[1] + KEYED_SQUARE[1] + 20,
                            "the panel under the page's pure-blue square")
    shown = same_and_opaque(page[0] + SHOWN_SQUARE[0] + 20, page[1] + SHOWN_SQUARE[1] + 20,
                            "the page's blue-254 square")
    if shown != (0, 0, 254) or keyed == BLUE:
        desktop.fail("page squares show %s and %s" % (keyed, shown))


def check_presses(run, backdrop, back, login):
    bx, by = run.geometry(back)[:2]
    lx, ly = run.geometry(login)[:2]
    backdrop.presses()
    for x, y in ((bx + CORNER[0], by + CORNER[1]),
                 (lx + LOGIN_CORNER[0], ly + LOGIN_CORNER[1])):
        desktop.xdotool(run.display, "mousemove", str(x), str(y), "click", "1")
        got = desktop.wait_for(backdrop.presses, 5, "the press at %d,%d on the backdrop" % (x, y))
        if got != [(1, x, y)]:
            desktop.fail("the backdrop got %s for a press at %d,%d" % (got, x, y))

    def pair_at(x, y):
        b = run.geometry(back)[:2]
        l_ = run.geometry(login)[:2]
        return b == (x, y) and l_ == (x + LOGIN_OFFSET[0], y + LOGIN_OFFSET[1])

    run.drag(bx + FIGURE[0], by + FIGURE[1], 40, 30, button=3)
    desktop.wait_for(lambda: pair_at(bx + 40, by + 30), 5,
                     "the pair dragged by the figure to %d,%d" % (bx + 40, by + 30))
    lx, ly = run.geometry(login)[:2]
    run.drag(lx + OVER_PANEL[0], ly + OVER_PANEL[1], -50, -20, button=2)
    desktop.wait_for(lambda: pair_at(bx - 10, by + 10), 5,
                     "the pair dragged by the login window to %d,%d" % (bx - 10, by + 10))
    if backdrop.presses():
        desktop.fail("a press on the launcher reached the backdrop")


def face(exe, display, backdrop, server, composited):
    with GtkLauncher(exe) as run:
        run.write_ini("[platform]\nloginUrl=%s\nmainUrl=%s\n[install]\ninstallTime=%s\n"
                      % (server.url("/login.html"), server.url("/game.html"), INSTALL_TIME))
        sw, sh = backdrop.size
        bx, by = (sw - BACK_SIZE[0]) // 2, (sh - BACK_SIZE[1]) // 2
        probe = (bx + 650, by + 100)  # the panel's top band, never covered
        run.start(display)
        desktop.wait_for(lambda: backdrop.grab(*probe, 1, 1).at(*probe) != MAGENTA, 10,
                         "the background picture on the screen")
        print("%s: background picture on screen after %.0f ms"
              % ("xcompmgr" if composited else "no compositor",
                 (time.monotonic() - run.started_at) * 1000), flush=True)
        back = run.wait_window("^Varnholt登录器$")
        login = desktop.wait_for(lambda: run.window_of_size(*LOGIN_SIZE), 10, "the login window")
        g = run.geometry(back)
        if g != (bx, by) + BACK_SIZE:
            desktop.fail("background window at %s, not centred at %dx%d" % (g, *BACK_SIZE))
        desktop.wait_for(lambda: run.geometry(login)[:2] == (bx + LOGIN_OFFSET[0],
                                                            by + LOGIN_OFFSET[1]), 5,
                         "the login window at +%d,+%d" % LOGIN_OFFSET)
        browser_site.wait_login_page(run, login)
        if not composited:
            check_window_properties(run, back, login)
        check_pixels(run, backdrop, (bx, by), run.geometry(login)[:2], composited)
        check_presses(run, backdrop, back, login)
        if desktop.read_ini_value(run.ini, "install", "installTime") != INSTALL_TIME:
            desktop.fail("installTime changed")
        if not run.running():
            desktop.fail("the launcher ended (status %s)" % run.proc.returncode)
        browser_site.check_quiet(run)


def main():
    pages = {"/login.html": PAGE, "/game.html": browser_site.GAME_PAGE}
    with desktop.Xvfb() as display, TestServer(pages=pages) as server, \
            desktop.Backdrop(display, MAGENTA) as backdrop:
        face(sys.argv[1], display, backdrop, server, composited=False)
        with desktop.Compositor(backdrop):
            face(sys.argv[1], display, backdrop, server, composited=True)
    print("ok")


if __name__ == "__main__":
    main()
