"""Linux launcher with a valid launcher.ini: the login face over a plain
backdrop, without a compositor and with xcompmgr.

- The background window is centred, exactly 1039 x 652, with its caption
  and 48 x 48 icon on the taskbar; the login window sits at its offset.
- The screen, read over two backdrop colours: see-through pixels show the
  backdrop, opaque ones stay; pixels that change without being the
  backdrop (blended edges) exist only with a compositor, premultiplied.
- The login window's pure blue (and a pure-blue square of its page) is
  invisible; its page, blue 254 included, is opaque.
- Presses on see-through pixels reach the backdrop; a right-button drag on
  the figure and a middle-button drag on the login window's surface over
  the panel move both windows and keep the offset.
- The background picture is on the screen while the version check still
  waits for a server that does not answer (the start-up has not reached the
  message loop yet)."""
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
LOGIN_OFFSET = (254, 70)  # 3810 x 1045 twips at 15 twips per pixel
MAGENTA, CYAN, BLUE = (255, 0, 255), (0, 255, 255), (0, 0, 255)
CORNER, FIGURE = (2, 2), (180, 450)  # background picture pixels
LOGIN_CORNER, OVER_PANEL = (3, 3), (41, 330)  # login window pixels (its blue)
# Page pixels of a pure-blue and a blue-254 square on a green page.
KEYED, SHOWN = (120, 120), (220, 120)
PAGE = """<!DOCTYPE html><html><body style="margin: 0; background: #00c000">
<div style="position: absolute; left: 100px; top: 100px; width: 40px; height: 40px;
 background: #0000ff"></div>
<div style="position: absolute; left: 200px; top: 100px; width: 40px; height: 40px;
 background: #0000fe"></div></body></html>"""


def check_properties(run, back, login):
    def xprop(wid):
        return subprocess.run(["xprop", "-id", wid], capture_output=True, text=True, timeout=10,
                              env=dict(os.environ, DISPLAY=run.display)).stdout
    props = xprop(back)
    if ('_NET_WM_NAME(UTF8_STRING) = "Varnholt登录器"' not in props
            or re.findall(r"Icon \((\d+) x (\d+)\)", props) != [("48", "48")]
            or "SKIP_TASKBAR" in props or run.windows() != [back] or login != back):
        desktop.fail("caption, icon or taskbar of the login face:\n" + props[:2000])


def check_screen(run, backdrop, back_at, login_at, composited):
    (bx, by), (lx, ly), (w, h) = back_at, login_at, BACK_SIZE
    shots = []
    for colour in (CYAN, MAGENTA):
        backdrop.set_colour(colour)
        time.sleep(0.3)  # a compositor repaints the rest after the corner
        shots.append(desktop.Shot(run.display, bx, by, w, h))
    over_cyan, over_magenta = shots
    blended = 0
    for i in range(w * h):
        c, m = over_cyan.data[3 * i:3 * i + 3], over_magenta.data[3 * i:3 * i + 3]
        if c == bytes(BLUE) or m == bytes(BLUE):
            desktop.fail("pure blue on the screen at %d,%d" % (i % w, i // w))
        if c == m or (c, m) == (bytes(CYAN), bytes(MAGENTA)):
            continue
        blended += 1
        # Red drops by (1 - alpha) * 255 from magenta to cyan and green rises
        # as much; what remains is the picture's premultiplied colour.
        drop, rise, alpha = m[0] - c[0], c[1] - m[1], 255 - (m[0] - c[0])
        if not composited or abs(drop - rise) > 3 or max(c[0], m[1], m[2] - drop) > alpha + 3:
            desktop.fail("pixel %d,%d blends as %s / %s" % (i % w, i // w, tuple(m), tuple(c)))
    if composited and blended < 100:
        desktop.fail("only %d blended pixels with a compositor" % blended)

    def seen(x, y):
        return over_magenta.at(x, y), over_cyan.at(x, y)

    page = browser_site.login_point((lx, ly), (0, 0))
    for (x, y), what in (((bx + CORNER[0], by + CORNER[1]), "the picture's corner"),
                         ((lx + LOGIN_CORNER[0], ly + LOGIN_CORNER[1]), "the login corner")):
        if seen(x, y) != (MAGENTA, CYAN):
            desktop.fail("%s is not see-through: %s" % (what, seen(x, y)))
    for (x, y), what in (((bx + FIGURE[0], by + FIGURE[1]), "the figure"),
                         ((lx + OVER_PANEL[0], ly + OVER_PANEL[1]), "the panel"),
                         ((page[0] + KEYED[0], page[1] + KEYED[1]), "the panel under blue")):
        if seen(x, y)[0] != seen(x, y)[1] or MAGENTA in seen(x, y):
            desktop.fail("%s is not opaque: %s" % (what, seen(x, y)))
    if seen(page[0] + SHOWN[0], page[1] + SHOWN[1]) != ((0, 0, 254),) * 2:
        desktop.fail("the page's blue-254 square is not shown")


def check_mouse(run, backdrop, back, login):
    (bx, by), (lx, ly) = run.geometry(back)[:2], run.geometry(login)[:2]
    for x, y, through in ((bx + CORNER[0], by + CORNER[1], True),
                          (lx + LOGIN_CORNER[0], ly + LOGIN_CORNER[1], True),
                          (lx + OVER_PANEL[0], ly + OVER_PANEL[1], False)):
        if backdrop.takes_press_at(x, y) != through:
            desktop.fail("a press at %d,%d %s the backdrop"
                         % (x, y, "misses" if through else "hits"))

    def pair_at(x, y):
        return (run.geometry(back)[:2] == (x, y) and
                run.geometry(login)[:2] == (x + LOGIN_OFFSET[0], y + LOGIN_OFFSET[1]))

    for (x, y), (dx, dy), button in (((bx + FIGURE[0], by + FIGURE[1]), (40, 30), 3),
                                     ((lx + 40 + OVER_PANEL[0], ly + 30 + OVER_PANEL[1]),
                                      (-50, -20), 2)):
        run.drag(x, y, dx, dy, button=button)
        bx, by = bx + dx, by + dy
        desktop.wait_for(lambda: pair_at(bx, by), 5, "the pair dragged with button %d" % button)


def login_face(exe, display, backdrop, server, composited):
    with GtkLauncher(exe) as run:
        run.write_ini("[platform]\nloginUrl=%s\nmainUrl=%s\n[install]\ninstallTime=%s\n"
                      % (server.url("/login.html"), server.url("/game.html"), INSTALL_TIME))
        bx, by = ((backdrop.size[0] - BACK_SIZE[0]) // 2, (backdrop.size[1] - BACK_SIZE[1]) // 2)
        run.start(display)
        panel = (bx + 650, by + 100)  # the panel's top band, never covered
        desktop.wait_for(lambda: desktop.Shot(display, *panel, 1, 1).at(*panel) != MAGENTA,
                         10, "the background picture on the screen")
        print("%s: background picture on the screen after %.0f ms"
              % ("xcompmgr" if composited else "no compositor",
                 (time.monotonic() - run.started_at) * 1000), flush=True)
        back = run.wait_window("^Varnholt登录器$")
        login = desktop.wait_for(lambda: run.login_window(), 10, "the login window")
        if run.geometry(back) != (bx, by) + BACK_SIZE:
            desktop.fail("background window at %s, not centred" % (run.geometry(back),))
        login_at = (bx + LOGIN_OFFSET[0], by + LOGIN_OFFSET[1])
        desktop.wait_for(lambda: run.geometry(login)[:2] == login_at, 5, "the login window")
        browser_site.wait_login_page(run, login)
        check_properties(run, back, login)
        check_screen(run, backdrop, (bx, by), login_at, composited)
        check_mouse(run, backdrop, back, login)
        if desktop.read_ini_value(run.ini, "install", "installTime") != INSTALL_TIME:
            desktop.fail("installTime was written again")
        if not run.running():
            desktop.fail("the launcher ended (status %s)" % run.proc.returncode)
        browser_site.check_quiet(run)


def drawn_before_the_loop(exe, display, backdrop, server):
    with GtkLauncher(exe) as run:
        run.write_ini("[common]\nversionCheckUrl=%s\n[platform]\nloginUrl=%s\nmainUrl=%s\n"
                      "[install]\ninstallTime=x\n" % (server.url("/stall-headers"),
                                                      server.url("/login.html"),
                                                      server.url("/game.html")))
        bx, by = ((backdrop.size[0] - BACK_SIZE[0]) // 2, (backdrop.size[1] - BACK_SIZE[1]) // 2)
        run.start(display)
        desktop.wait_for(lambda: any(t.startswith("/stall-headers") for t in server.targets()),
                         10, "the version check's request")
        figure = (bx + FIGURE[0], by + FIGURE[1])
        desktop.wait_for(lambda: desktop.Shot(display, *figure, 1, 1).at(*figure) != MAGENTA,
                         5, "the background picture while the version check waits")
        if not run.running():
            desktop.fail("the launcher ended (status %s)" % run.proc.returncode)


def main():
    pages = {"/login.html": PAGE}
    with desktop.Xvfb() as display, TestServer(pages=pages) as server, \
            desktop.Backdrop(display, MAGENTA) as backdrop:
        login_face(sys.argv[1], display, backdrop, server, composited=False)
        drawn_before_the_loop(sys.argv[1], display, backdrop, server)
        with desktop.Compositor(display):
            login_face(sys.argv[1], display, backdrop, server, composited=True)
    print("ok")


if __name__ == "__main__":
    main()
