"""The login face of launcher.exe under Wine, read off the screen over a
backdrop of a known colour: the background picture's transparent pixels show
the backdrop and let presses through to it, its opaque ones are the picture's
own, its soft edges are blended with what lies below where a compositor runs;
the login window's pure-blue surface is invisible and click-through; a
right-button drag on the figure moves both windows. And the GDI+ start
failure (face_probe.exe): its message over no window, then the end."""
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import wine_env  # noqa: E402

LAUNCHER = os.environ.get("E2E_LAUNCHER") or desktop.fail("E2E_LAUNCHER is not set")
FACE_PROBE = os.environ.get("E2E_FACE_PROBE") or desktop.fail("E2E_FACE_PROBE is not set")
BACK = "^Varnholt登录器$"
LOGIN_OFFSET = (254, 70)
BACKDROP = (0, 200, 0)


def near(got, want, tolerance, what):
    if any(abs(g - w) > tolerance for g, w in zip(got, want)):
        desktop.fail("%s: screen %s, expected %s" % (what, got, want))


def first(picture, test, xs, ys):
    """The first point of the picture in the ranges whose pixel passes."""
    for y in ys:
        for x in xs:
            if test(picture.pixel(x, y)):
                return x, y
    desktop.fail("the background picture has no such pixel")


def start_face(base, display, name):
    """launcher.exe with a usable configuration; (process, back window id,
    its geometry, login geometry) once both windows are up."""
    folder = os.path.join(base, name)
    os.makedirs(folder)
    with open(os.path.join(folder, "launcher.ini"), "wb") as f:
        f.write(b"[platform]\r\nloginUrl=http://127.0.0.1:1/x\r\nmainUrl=/game\r\n"
                b"[install]\r\ninstallTime=[2020-01-02 03:04:05]\r\n")
    proc = wine_env.start_exe(desktop.copy_exe(LAUNCHER, folder), display=display,
                              logname="face-%s.log" % name)
    back = desktop.wait_window(display, BACK, timeout=30)
    geometry = desktop.wait_for(lambda: geometries(display, back), 10, "the login window")
    time.sleep(0.5)  # the first paints
    return proc, back, geometry


def geometries(display, back):
    """(background, login) geometries, or None while the login window is not up."""
    wins = desktop.xdotool(display, "search", "--onlyvisible", "--class", "launcher.exe",
                           check=False) or ""
    login = [g for g in map(lambda w: desktop.window_geometry(display, w), wins.split())
             if g and g[2:] == (757, 563)]
    return (desktop.window_geometry(display, back), login[0]) if login else None


def face(base, display, picture, backdrop):
    """No compositor: alpha 0 is cut out, every other pixel is opaque."""
    proc, back, ((bx, by, bw, bh), login) = start_face(base, display, "plain")
    try:
        if (bw, bh) != (picture.width, picture.height) or \
           (login[0] - bx, login[1] - by) != LOGIN_OFFSET:
            desktop.fail("background %dx%d, login window at offset %s"
                         % (bw, bh, (login[0] - bx, login[1] - by)))
        corner = first(picture, lambda p: p[3] == 0, range(20), range(20))
        figure = first(picture, lambda p: p[3] == 255, range(120, 200), range(300, 400))
        panel = first(picture, lambda p: p[3] == 255, range(1015, 1030), [300])  # right of login
        # The login window's own blue surface (no control there) over the panel.
        keyed = first(picture, lambda p: p[3] == 255, range(294, 309), [370])
        edge = first(picture, lambda p: 64 <= p[3] <= 192, range(bw), range(20, 640))
        screen = desktop.Picture(display=display)
        near(screen.pixel(bx + corner[0], by + corner[1]), BACKDROP, 0, "transparent corner")
        for name, (x, y) in (("figure", figure), ("panel", panel), ("login surface", keyed)):
            near(screen.pixel(bx + x, by + y), picture.pixel(x, y)[:3], 2, name)
        r, g, b, a = picture.pixel(*edge)
        near(screen.pixel(bx + edge[0], by + edge[1]), (r * a // 255, g * a // 255, b * a // 255),
             2, "edge shown opaque, premultiplied")
        for name, (x, y), want in (("transparent corner", corner, backdrop),
                                   ("figure", figure, back), ("login surface", keyed, back)):
            if desktop.pointer_window(display, bx + x, by + y) != want:
                desktop.fail("a press on the %s does not reach window %s" % (name, want))

        # The right button on the figure drags both windows.
        x, y = bx + figure[0], by + figure[1]
        desktop.xdotool(display, "mousemove", str(x), str(y))
        desktop.xdotool(display, "mousedown", "3")
        for step in range(1, 6):
            desktop.xdotool(display, "mousemove", str(x - 10 * step), str(y + 8 * step))
            time.sleep(0.05)
        desktop.xdotool(display, "mouseup", "3")
        moved = (bx - 50, by + 40, bw, bh), (bx - 50 + LOGIN_OFFSET[0], by + 40 + LOGIN_OFFSET[1],
                                             757, 563)
        desktop.wait_for(lambda: geometries(display, back) == moved, 10,
                         "both windows to follow the right-button drag")
    finally:
        desktop.stop(proc)


def composited(base, display, picture):
    """Under xcompmgr the soft edges blend with the backdrop."""
    comp = desktop.spawn(["xcompmgr"], env=dict(os.environ, DISPLAY=display),
                         log=wine_env.log("xcompmgr.log"))
    proc = None
    try:
        proc, _, ((bx, by, _, _), _) = start_face(base, display, "composited")
        screen = desktop.Picture(display=display)
        edges = [(x, y) for y in range(20, 640, 37) for x in range(0, picture.width, 11)
                 if 32 <= picture.pixel(x, y)[3] <= 224]
        for x, y in edges:
            r, g, b, a = picture.pixel(x, y)
            near(screen.pixel(bx + x, by + y),
                 [(c * a + k * (255 - a)) / 255 for c, k in zip((r, g, b), BACKDROP)], 3,
                 "blended edge at %d,%d" % (x, y))
        if len(edges) < 10:
            desktop.fail("only %d edge pixels checked" % len(edges))
    finally:
        desktop.stop(proc)
        desktop.stop(comp)


def init_error(base, display):
    exe = desktop.copy_exe(FACE_PROBE, os.path.join(base, "initerror"))
    proc = wine_env.start_exe(exe, ["initerror"], display=display, logname="initerror.log")
    try:
        box = desktop.wait_window(display, "^InitError$", timeout=30)
        if desktop.find_windows(display, BACK):
            desktop.fail("the background window is visible under the GDI+ message")
        desktop.xdotool(display, "windowfocus", "--sync", box)
        desktop.xdotool(display, "key", "Return")
        desktop.wait_for(lambda: proc.poll() is not None, 10, "the end after OK")
    finally:
        desktop.stop(proc)


def main():
    picture = desktop.Picture(os.path.join(desktop.ROOT, "resources", "background.png"))
    base = desktop.scratch_dir()
    try:
        with desktop.Xvfb() as display, desktop.Backdrop(display, BACKDROP) as backdrop:
            face(base, display, picture, str(backdrop.window))
            composited(base, display, picture)
            init_error(base, display)
    finally:
        shutil.rmtree(base, ignore_errors=True)
    print("win32 face: all cases passed")


if __name__ == "__main__":
    main()
