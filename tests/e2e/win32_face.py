"""The login face of launcher.exe under Wine, read off the screen over a
backdrop of a known colour: the background picture's transparent pixels show
the backdrop and let presses through to it, its opaque ones are the picture's
own, its soft edges are blended with what lies below where a compositor runs;
the login window's pure-blue surface is invisible and click-through; a
right-button drag on the figure moves both windows. The child controls of a
colour-keyed window are keyed too (face_probe.exe keyed). And the GDI+ start
failure: its message, then the end, with no window shown."""
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import wine_env  # noqa: E402

LAUNCHER = os.environ.get("E2E_LAUNCHER") or desktop.fail("E2E_LAUNCHER is not set")
FACE_PROBE = os.environ.get("E2E_FACE_PROBE") or desktop.fail("E2E_FACE_PROBE is not set")
PICTURE = os.path.join(desktop.ROOT, "resources", "background.png")
BACK = "^Varnholt登录器$"
BACK_SIZE = (1039, 652)
LOGIN_OFFSET = (254, 70)
BACKDROP = (0, 200, 0)


def close(got, want, tolerance, what):
    if any(abs(g - w) > tolerance for g, w in zip(got, want)):
        desktop.fail("%s: screen %s, expected %s" % (what, got, want))


def pick(rows, test, xs, ys):
    """The first picture point in the ranges whose pixel passes `test`."""
    for y in ys:
        for x in xs:
            if test(rows[y][x]):
                return x, y
    desktop.fail("the background picture has no such pixel")


class Face:
    """launcher.exe started in a scratch folder with a usable configuration;
    its windows' geometry from X."""

    def __init__(self, base, display, name):
        folder = os.path.join(base, name)
        os.makedirs(folder)
        with open(os.path.join(folder, "launcher.ini"), "wb") as f:
            f.write(b"[platform]\r\nloginUrl=http://127.0.0.1:1/x\r\nmainUrl=/game\r\n"
                    b"[install]\r\ninstallTime=[2020-01-02 03:04:05]\r\n")
        self.display = display
        self.proc = wine_env.start_exe(desktop.copy_exe(LAUNCHER, folder), display=display,
                                       logname="face-%s.log" % name)
        self.back_id = desktop.wait_window(display, BACK, timeout=30)
        desktop.wait_for(self.login, 10, "the login window")

    def back(self):
        return desktop.window_geometry(self.display, self.back_id)

    def login(self):
        wins = desktop.xdotool(self.display, "search", "--onlyvisible", "--class",
                               "launcher.exe", check=False) or ""
        for w in wins.split():
            g = desktop.window_geometry(self.display, w)
            if g and g[2:] == (757, 563):
                return w, g
        return None

    def stop(self):
        desktop.stop(self.proc)


def face_checks(base, display, rows):
    """Without a compositor: alpha 0 is cut out, everything else opaque."""
    face = Face(base, display, "plain")
    try:
        bx, by, bw, bh = face.back()
        if (bw, bh) != BACK_SIZE:
            desktop.fail("background window %dx%d" % (bw, bh))
        login_id, (lx, ly, _, _) = face.login()
        if (lx - bx, ly - by) != LOGIN_OFFSET:
            desktop.fail("login window offset %s" % ((lx - bx, ly - by),))
        # Let the first paints settle before the screen is read.
        time.sleep(0.5)
        screen = desktop.Screen(display)

        corner = pick(rows, lambda p: p[3] == 0, range(0, 20), range(0, 20))
        figure = pick(rows, lambda p: p[3] == 255, range(120, 200), range(300, 400))
        # The panel's frame to the right of the login window.
        panel = pick(rows, lambda p: p[3] == 255, range(1015, 1030), range(300, 301))
        # Login window surface (no control there) over the opaque panel.
        under_login = pick(rows, lambda p: p[3] == 255, range(LOGIN_OFFSET[0] + 40, 309),
                           range(LOGIN_OFFSET[1] + 300, LOGIN_OFFSET[1] + 301))
        edge = pick(rows, lambda p: 64 <= p[3] <= 192, range(0, BACK_SIZE[0]), range(20, 640))
        print("picture points: corner %s figure %s panel %s under login %s edge %s alpha %d"
              % (corner, figure, panel, under_login, edge, rows[edge[1]][edge[0]][3]))

        def at(p):
            return bx + p[0], by + p[1]

        close(screen.pixel(*at(corner)), BACKDROP, 0, "transparent corner")
        for name, p in (("figure", figure), ("panel", panel), ("login surface", under_login)):
            close(screen.pixel(*at(p)), rows[p[1]][p[0]][:3], 2, name)
        # No compositor: a partly transparent pixel is shown opaque, as its
        # premultiplied colour.
        r, g, b, a = rows[edge[1]][edge[0]]
        close(screen.pixel(*at(edge)), (r * a // 255, g * a // 255, b * a // 255), 2,
              "edge without a compositor")

        backdrop_id = desktop.find_windows(display, "^e2e-backdrop$")[0]
        for name, p, want in (("transparent corner", corner, backdrop_id),
                              ("figure", figure, face.back_id),
                              ("login surface", under_login, face.back_id)):
            got = desktop.pointer_window(display, *at(p))
            if got != want:
                desktop.fail("a press on the %s reaches window %s, expected %s"
                             % (name, got, want))

        # Right button on the figure: the system's move loop takes both.
        x, y = at(figure)
        desktop.xdotool(display, "mousemove", str(x), str(y))
        desktop.xdotool(display, "mousedown", "3")
        for step in range(1, 6):
            desktop.xdotool(display, "mousemove", str(x - 10 * step), str(y + 8 * step))
            time.sleep(0.05)
        desktop.xdotool(display, "mouseup", "3")
        want = (bx - 50, by + 40)

        def moved():
            back, login = face.back(), face.login()
            if back and login and back[:2] == want and \
               (login[1][0] - back[0], login[1][1] - back[1]) == LOGIN_OFFSET:
                return True
            return None
        desktop.wait_for(moved, 10, "both windows to move to %s with the drag" % (want,))
        if face.proc.poll() is not None:
            desktop.fail("the launcher ended")
    finally:
        face.stop()


def compositor_checks(base, display, rows):
    """With xcompmgr: the soft edges are blended with the backdrop."""
    comp = desktop.spawn(["xcompmgr"], env=dict(os.environ, DISPLAY=display),
                         log=wine_env.log("xcompmgr.log"))
    face = None
    try:
        time.sleep(0.3)
        if comp.poll() is not None:
            desktop.fail("xcompmgr did not start")
        face = Face(base, display, "composited")
        bx, by, _, _ = face.back()
        time.sleep(0.5)
        screen = desktop.Screen(display)
        checked = 0
        for y in range(20, 640, 37):
            for x in range(0, BACK_SIZE[0], 11):
                r, g, b, a = rows[y][x]
                if not 32 <= a <= 224:
                    continue
                want = tuple((c * a + k * (255 - a)) / 255 for c, k in zip((r, g, b), BACKDROP))
                close(screen.pixel(bx + x, by + y), want, 3, "blended edge at %d,%d" % (x, y))
                checked += 1
        if checked < 10:
            desktop.fail("only %d edge pixels checked" % checked)
        corner = pick(rows, lambda p: p[3] == 0, range(0, 20), range(0, 20))
        close(screen.pixel(bx + corner[0], by + corner[1]), BACKDROP, 0, "composited corner")
        print("compositor: %d edge pixels blended" % checked)
    finally:
        if face:
            face.stop()
        desktop.stop(comp)


def keyed_controls(base, display, backdrop_id):
    """On a colour-keyed form, a control surface painted pure blue is
    invisible and click-through; one step off blue is shown and takes the
    press; the label's text shows over the keyed surface."""
    out = os.path.join(base, "keyed.txt")
    exe = desktop.copy_exe(FACE_PROBE, os.path.join(base, "keyed"))
    proc = wine_env.start_exe(exe, ["keyed", wine_env.winpath(out)], display=display,
                              logname="keyed.log")

    def lines():
        return open(out).read().splitlines() if os.path.exists(out) else []
    try:
        desktop.wait_for(lambda: "ready" in lines(), 30, "the keyed probe")
        # Surfaces A (pure blue) and B (0, 0, 254) at (120, 120) and
        # (220, 120), 80 x 80; the label at (120, 220, 260, 20).
        desktop.wait_for(lambda: desktop.Screen(display).pixel(260, 160) == (0, 0, 254), 10,
                         "surface B on the screen")
        screen = desktop.Screen(display)
        close(screen.pixel(160, 160), BACKDROP, 0, "pure-blue control")
        if desktop.pointer_window(display, 160, 160) != backdrop_id:
            desktop.fail("a press on the pure-blue control does not pass through")
        glyphs = [screen.pixel(x, y) for x in range(120, 380) for y in range(220, 240)]
        if (255, 255, 255) not in glyphs or glyphs.count(BACKDROP) < len(glyphs) // 2:
            desktop.fail("the label is not white text over the keyed surface")
        desktop.xdotool(display, "mousemove", "260", "160")
        desktop.xdotool(display, "click", "1")
        desktop.wait_for(lambda: "B 1" in lines(), 10, "the press on surface B")
        if "A 1" in lines() or "form 1" in lines():
            desktop.fail("presses reached %s" % lines())
    finally:
        desktop.stop(proc)


def init_error(base, display):
    """GDI+ refuses to start (the probe asks for a version it does not
    know): the message over no window, then the end at OK."""
    folder = os.path.join(base, "initerror")
    exe = desktop.copy_exe(FACE_PROBE, folder)
    proc = wine_env.start_exe(exe, ["initerror"], display=display, logname="initerror.log")
    try:
        box = desktop.wait_window(display, "^InitError$", timeout=30)
        if desktop.find_windows(display, BACK):
            desktop.fail("the background window is visible under the GDI+ message")
        desktop.xdotool(display, "windowfocus", "--sync", box)
        desktop.xdotool(display, "key", "Return")
        desktop.wait_for(lambda: proc.poll() is not None, 10, "the end after OK")
        if desktop.find_windows(display, BACK) or desktop.find_windows(display, "^InitError$"):
            desktop.fail("a window outlived the end")
    finally:
        desktop.stop(proc)


def main():
    if not os.path.exists(PICTURE):
        desktop.fail("resources/background.png is missing")
    _, _, rows = desktop.read_png(PICTURE)
    base = desktop.scratch_dir()
    backdrop = None
    try:
        with desktop.Xvfb() as display:
            backdrop, backdrop_id = desktop.start_backdrop(display, BACKDROP)
            keyed_controls(base, display, backdrop_id)
            face_checks(base, display, rows)
            compositor_checks(base, display, rows)
            init_error(base, display)
    finally:
        desktop.stop(backdrop)
        shutil.rmtree(base, ignore_errors=True)
    print("win32 face: all cases passed")


if __name__ == "__main__":
    main()
