"""The face on real desktops, each with its own display, session and accessibility bus: no window manager, openbox
and xfwm4 (compositing) on Xvfb; weston natively on Wayland and through XWayland; mutter (GNOME's compositor) on
Wayland. On each: the face is one window whose pixels match the other desktops' (see-through where the picture is,
never the key colour; not on mutter, which takes no screenshots headless); the page has the keyboard; the accessible
tree names the buttons, whose actions work; the road reaches the game. Where synthetic input exists (Xvfb) also Tab,
a restore from the taskbar, alt-tab, back from the game, WM_CLASS, and at most 4 page windows.
E2E_FACE_SHOTS=DIR saves each desktop's face there as a PNG."""
import contextlib, os, subprocess, sys, time  # noqa: E401
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import browser_site as site, desktop  # noqa: E401,E402
from gtk_env import GtkLauncher, LOGIN_AT, FACE_SIZE, request_close; from test_server import TestServer  # noqa: E402,E702

CAPTION, VERSION = "Varnholt登录器", open(os.path.join(desktop.ROOT, "VERSION")).read().strip()
NAMES = ["官网首页", "游戏充值", "客服系统", "游戏论坛", "最小化", "关闭"]
FIELD = ('<input id="%s" aria-label="%s" %s style="position: absolute; left: 300px; top: %dpx" '
         'onkeyup="new Image().src=\'/typed?\'+this.id+\'=\'+this.value">')
LOGIN = site.LOGIN_PAGE.replace("</body>", FIELD % ("account", "account", "autofocus", 40) + FIELD % (
    "password", "password", "", 90) + '<div class="spot" style="top: 240px" onclick="for (var i = 0; i < 100; i++) '
    'window.open(\'about:blank\', \'\', \'width=300,height=200\')">x</div></body>')
# Prints the launcher's frames, buttons and labels (role|name|actions), the focused objects (argument "focus"), or
# runs the first action of the object named by the argument.
TREE = """import pyatspi, sys
def walk(o, d=0):
    s, r = o.getState(), o.getRoleName()
    if sys.argv[1:] == ["focus"]:
        if s.contains(pyatspi.STATE_FOCUSED): print("%s|%s" % (r, o.name))
    elif r in ("frame", "push button", "label", "link") and s.contains(pyatspi.STATE_SHOWING):
        if sys.argv[1:] == [o.name]: print(o.queryAction().getName(0), o.queryAction().doAction(0))
        elif not sys.argv[1:] and r != "link":
            print("%s|%s|%d" % (r, o.name, r == "push button" and o.queryAction().nActions))
    for c in (o if d < 14 else []): c is not None and walk(c, d + 1)
[walk(a) for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name == "varnholt"]"""
# name, display, window manager, synthetic input, page windows opened 100 at a time
DESKTOPS = [("bare X", "x", None, True, True), ("openbox", "x", ["openbox", "--sm-disable"], True, False),
            ("xfwm4", "x", ["xfwm4", "--compositor=on", "--sm-client-disable"], True, False),
            ("weston", "wayland", None, False, False), ("weston-xwayland", "xwayland", None, False, False),
            ("mutter", "mutter", None, False, False)]
# Face pixels: see-through (the picture's and the login window's corners), and opaque ones that every desktop shows
# alike (the figure, the panel under the login window's key colour, two buttons, the page).
CLEAR = [(2, 2), (LOGIN_AT[0] + 3, LOGIN_AT[1] + 3)]
SOLID = [(180, 450), (LOGIN_AT[0] + 41, LOGIN_AT[1] + 330), (LOGIN_AT[0] + 110, LOGIN_AT[1] + 72),
         (LOGIN_AT[0] + 697, LOGIN_AT[1] + 72), (LOGIN_AT[0] + 400, LOGIN_AT[1] + 500)]
PAGE_AT = (LOGIN_AT[0] + site.FRAME[0], LOGIN_AT[1] + site.FRAME[1])


def main():
    os.environ.pop("E2E_XVFB_STATE", None)  # an X server of each row's own
    reference = {}
    for name, kind, wm, synthetic, flood in DESKTOPS:
        with session(kind) as (display, wayland, shot), TestServer(pages={"/login.html": LOGIN, "/game.html": site.GAME_PAGE}) as srv, GtkLauncher(sys.argv[1]) as run:  # noqa: E501
            bus, procs = "unix:path=" + os.path.join(run.root, "bus"), []
            env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=bus, HOME=run.home, DISPLAY=display or "")
            if not display:
                del env["DISPLAY"]
            try:
                procs.append(desktop.spawn(["dbus-daemon", "--session", "--nofork", "--address=" + bus]))
                desktop.wait_for(lambda: os.path.exists(bus[10:]), 10, "the session bus")
                procs.append(desktop.spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], env=env))
                if wm:
                    procs.append(desktop.spawn(wm, env=env))
                    desktop.wait_for(lambda: "window id" in xprop(display, "-root", "_NET_SUPPORTING_WM_CHECK"), 10, wm[0])
                launcher_env = {k: v for k, v in run.env(display or "").items() if k != "NO_AT_BRIDGE"}
                launcher_env["DBUS_SESSION_BUS_ADDRESS"] = bus
                if wayland:
                    del launcher_env["DISPLAY"]
                    launcher_env["WAYLAND_DISPLAY"] = wayland
                run.env = lambda _d, e=launcher_env: e
                one_desktop(name, run, srv, display, env, shot, wm, synthetic, flood, procs, reference)
            finally:
                [desktop.stop(p) for p in reversed(procs)]
            print("%s: one window, focus, names, actions and the road as they should be" % name, flush=True)


@contextlib.contextmanager
def session(kind):
    """(X display or None, Wayland socket or None, screenshot function)."""
    if kind == "x":
        with desktop.Xvfb() as display:
            yield display, None, lambda: desktop.Picture(display=display)
    else:
        with desktop.Wayland("mutter" if kind == "mutter" else "weston", xwayland=kind == "xwayland") as w:
            yield w.display, None if kind == "xwayland" else w.socket, None if kind == "mutter" else w.screenshot


def xprop(display, *args):
    return subprocess.run(["xprop"] + list(args), capture_output=True, text=True, timeout=10, env=dict(os.environ, DISPLAY=display)).stdout  # noqa: E501


def face_in(pic):
    """The face's top-left corner on the screen, found by its page's first green pixel; None while it is not shown."""
    green = bytes(site.GREEN) + (b"\xff" if pic.step == 4 else b"")
    i = pic.data.find(green)
    while i >= 0 and i % pic.step:
        i = pic.data.find(green, i + 1)
    return None if i < 0 else ((i // pic.step) % pic.width - PAGE_AT[0], (i // pic.step) // pic.width - PAGE_AT[1])


def check_face(name, shot, reference):
    at, pic = None, None
    deadline = time.monotonic() + 20
    while at is None:
        pic = shot()
        at = face_in(pic)
        if at is None and time.monotonic() > deadline:
            desktop.fail("%s: no login page on the screen after 20 s" % name)
    far = (0 if at[0] > pic.width // 2 else pic.width - 1, 0 if at[1] > pic.height // 2 else pic.height - 1)
    rgb = lambda x, y: pic.pixel(at[0] + x, at[1] + y)[:3]  # noqa: E731
    for x, y in CLEAR:
        if rgb(x, y) != pic.pixel(*far)[:3]:
            desktop.fail("%s: face pixel %d,%d shows %s, not the desktop's %s" % (name, x, y, rgb(x, y), pic.pixel(*far)))
    blue = [(x, y) for y in range(0, FACE_SIZE[1], 3) for x in range(0, FACE_SIZE[0], 3) if rgb(x, y) == (0, 0, 255)]
    if blue:
        desktop.fail("%s: the key colour shows at %s" % (name, blue[:5]))
    solid = [rgb(x, y) for x, y in SOLID]
    if reference.setdefault("solid", (name, solid))[1] != solid:
        desktop.fail("%s: the face shows %s where %s shows %s" % (name, solid, *reference["solid"]))
    if os.environ.get("E2E_FACE_SHOTS"):
        data = b"".join(pic.data[pic.step * ((at[1] + y) * pic.width + at[0]):][:pic.step * FACE_SIZE[0]]
                        for y in range(FACE_SIZE[1]))
        path = os.path.join(os.environ["E2E_FACE_SHOTS"], "face-%s.png" % name.replace(" ", "-").lower())
        subprocess.run(["convert", "-size", "%dx%d" % FACE_SIZE, "-depth", "8", ("rgba:-" if pic.step == 4 else "rgb:-"),
                        "-strip", path], input=data, check=True, timeout=30)


def one_desktop(name, run, srv, display, env, shot, wm, synthetic, flood, procs, reference):
    def tree(*press):
        return subprocess.run(["/usr/bin/python3", "-c", TREE] + list(press), env=env, capture_output=True, text=True,
                              timeout=60).stdout.split("\n")

    def face():
        run.wait_window("^%s$" % CAPTION)
        login = desktop.wait_for(lambda: run.login_window(), 10, "the login window")
        site.wait_login_page(run, login)
        return login

    def typed(when, field="account"):
        # Typed again while the focus is on its way (a restore under load takes a while); a focus
        # that never reaches the page still fails after 15 s.
        deadline, token = time.monotonic() + 15, None
        arrived = lambda: any(t.startswith("/typed?" + field) and t.endswith(token) for t in srv.targets())  # noqa: E731
        while time.monotonic() < deadline:
            token = "t%d" % len(srv.targets())
            desktop.xdotool(display, "type", "--delay", "30", token)
            for _ in range(60):
                if arrived():
                    return
                time.sleep(0.05)
        desktop.fail("%s: typing %s did not reach the page's %s in 15 s" % (name, when, field))
    urls = [srv.url("/" + p) for p in ("login.html", "game.html", "home", "charge", "service", "forum")]
    run.write_ini("[common]\nversion=%s\n[platform]\nloginUrl=%s\nmainUrl=%s\nhomeUrl=%s\nchargeUrl=%s\nserviceUrl=%s\nforumUrl=%s\n[install]\ninstallTime=x\n" % tuple([VERSION] + urls))  # noqa: E501
    opened = run.record_default_browser()
    run.start(display)
    if shot:
        check_face(name, shot, reference)
    if synthetic:
        login = face()
        if run.windows() != [login]:
            desktop.fail("%s: the face is %d windows" % (name, len(run.windows())))
        typed("at the start")
        desktop.xdotool(display, "key", "Tab")
        typed("after Tab", "password")
    else:
        desktop.wait_for(lambda: "entry|account" in tree("focus"), 20, "%s: the page's focused field" % name)
    if display:
        for wid in desktop.find_windows(display, "^%s$" % CAPTION):
            if 'WM_CLASS(STRING) = "varnholt", "varnholt"\n_NET_WM_NAME(UTF8_STRING) = "%s"' % CAPTION not in \
                    xprop(display, "-id", wid, "WM_CLASS", "_NET_WM_NAME"):
                desktop.fail("%s: window %s: %s" % (name, wid, xprop(display, "-id", wid)))
    want = sorted(["frame|%s|0" % CAPTION, "label|版本:%s|0" % VERSION] + ["push button|%s|1" % n for n in NAMES])
    seen = lambda: sorted(ln for ln in tree() if ln and (ln[:6] != "label|" or "版本" in ln))  # noqa: E731
    desktop.wait_for(lambda: seen() == want, 20, "%s: the accessible tree %s, not %s" % (name, seen(), want))
    for button in NAMES[:4]:
        tree(button)
    desktop.wait_for(lambda: os.path.exists(opened) and sorted(open(opened).read().split()) == sorted(urls[2:]), 10,
                     "%s: the buttons' actions" % name)
    if not synthetic:
        if shot and not display:  # weston hides a minimised window (its X window manager ignores the request)
            tree("最小化")
            desktop.wait_for(lambda: face_in(shot()) is None, 10, "%s: the face to minimise" % name)
        tree("进入游戏")  # the page's link, through its accessible action
        desktop.wait_for(lambda: any(ln.startswith("frame|" + site.GAME_TITLE) for ln in tree()), 20,
                         "%s: the game window" % name)
        return
    spot = site.login_point(run.geometry(login), (160, 255))
    for _ in range(2 if flood else 0):  # 4 at once: one closed, one more opens
        desktop.xdotool(display, "mousemove", str(spot[0]), str(spot[1]), "click", "1")
        time.sleep(2)
        if len(run.windows()) != 5:
            desktop.fail("the page has %d windows open, not 4" % (len(run.windows()) - 1))
        request_close(display, run.windows()[-1])
        desktop.wait_for(lambda: len(run.windows()) == 4, 10, "a page window to close")
    if wm:
        tree("最小化")
        desktop.wait_for(lambda: not run.windows(), 10, "the face to minimise")
        desktop.xdotool(display, "windowactivate", login, check=False)
        typed("after a restore from the taskbar", "password")
        procs.append(desktop.spawn(["xmessage", "other"], env=env))
        desktop.xdotool(display, "windowactivate", "--sync", desktop.wait_window(display, "^xmessage$"))
        desktop.xdotool(display, "key", "alt+Tab")  # xfwm4 holds the keys until the switch is over
        desktop.wait_for(lambda: desktop.xdotool(display, "getactivewindow") == login, 15, "alt-tab to the face")
        typed("after alt-tab", "password")
    desktop.xdotool(display, "mousemove", *map(str, site.login_point(run.geometry(login), site.PAGE_POINTS["enter"])), "click", "1")  # noqa: E501
    request_close(display, run.wait_window(site.GAME_TITLE))
    run.key(run.wait_window("^退出提示$"), "Return")
    face()
    typed("back from the game")
    site.check_quiet(run)


if __name__ == "__main__":
    main()
