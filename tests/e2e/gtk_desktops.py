"""The face under no window manager, openbox and xfwm4 (own Xvfb, session and accessibility bus each): typing reaches
the page at start, after Tab, restore, alt-tab, back from the game; WM_CLASS, captions, the accessible tree; 4 page windows."""
import os, shutil, subprocess, sys, time  # noqa: E401
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import browser_site as site, desktop  # noqa: E401,E402
from gtk_env import GtkLauncher, request_close; from test_server import TestServer  # noqa: E402,E702

CAPTION, VERSION = "Varnholt登录器", open(os.path.join(desktop.ROOT, "VERSION")).read().strip()
NAMES = ["官网首页", "游戏充值", "客服系统", "游戏论坛", "最小化", "关闭"]
FIELD = '<input id="%s" %s style="position: absolute; left: 300px; top: %dpx" onkeyup="new Image().src=\'/typed?\'+this.id+\'=\'+this.value">'
LOGIN = site.LOGIN_PAGE.replace("</body>", FIELD % ("account", "autofocus", 40) + FIELD % ("password", "", 90) +
                                '<div class="spot" style="top: 240px" onclick="for (var i = 0; i < 100; i++) '
                                'window.open(\'about:blank\', \'\', \'width=300,height=200\')">x</div></body>')
TREE = """import pyatspi, sys
def walk(o, d=0):
    if o.getRoleName() in ("frame", "push button", "label") and o.getState().contains(pyatspi.STATE_SHOWING):
        if sys.argv[1:] == [o.name]: print(o.queryAction().getName(0), o.queryAction().doAction(0))
        elif not sys.argv[1:]: print("%s|%s|%d" % (o.getRoleName(), o.name, o.getRoleName() == "push button" and o.queryAction().nActions))
    for c in (o if d < 12 else []): c is not None and walk(c, d + 1)
[walk(a) for a in pyatspi.Registry.getDesktop(0) if a is not None and a.name == "varnholt"]"""
DESKTOPS = [(None, True), (["openbox", "--sm-disable"], False), (["xfwm4", "--compositor=on", "--sm-client-disable"], False)]


def main():
    os.environ.pop("E2E_XVFB_STATE", None)  # an X server of each row's own
    for wm, flood in DESKTOPS:
        with desktop.Xvfb() as display, TestServer(pages={"/login.html": LOGIN, "/game.html": site.GAME_PAGE}) as srv, GtkLauncher(sys.argv[1]) as run:  # noqa: E501
            bus, procs = "unix:path=" + os.path.join(run.root, "bus"), []
            env = dict(os.environ, DISPLAY=display, DBUS_SESSION_BUS_ADDRESS=bus, HOME=run.home)
            try:
                procs.append(desktop.spawn(["dbus-daemon", "--session", "--nofork", "--address=" + bus]))
                desktop.wait_for(lambda: os.path.exists(bus[10:]), 10, "the session bus")
                procs.append(desktop.spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], env=env))
                if wm:
                    procs.append(desktop.spawn(wm, env=env))
                    desktop.wait_for(lambda: "window id" in xprop(display, "-root", "_NET_SUPPORTING_WM_CHECK"), 10, wm[0])
                one_desktop(run, srv, display, env, wm, flood, procs)
            finally:
                [desktop.stop(p) for p in reversed(procs)]
            print("%s: focus, names, actions as they should be" % (wm or ["no window manager"])[0], flush=True)


def xprop(display, *args):
    return subprocess.run(["xprop"] + list(args), capture_output=True, text=True, timeout=10, env=dict(os.environ, DISPLAY=display)).stdout  # noqa: E501


def one_desktop(run, srv, display, env, wm, flood, procs):
    tree = lambda *press: subprocess.run(["/usr/bin/python3", "-c", TREE] + list(press), env=env, capture_output=True, text=True, timeout=60).stdout.split("\n")  # noqa: E501,E731

    def face():
        run.wait_window("^%s$" % CAPTION)
        login = desktop.wait_for(lambda: run.window_of_size(*site.LOGIN_SIZE), 10, "the login window")
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
        desktop.fail("typing %s did not reach the page's %s in 15 s" % (when, field))
    run.env = lambda _d, e=dict(run.env(display), DBUS_SESSION_BUS_ADDRESS=env["DBUS_SESSION_BUS_ADDRESS"]): \
        {k: v for k, v in e.items() if k != "NO_AT_BRIDGE"}
    urls = [srv.url("/" + p) for p in ("login.html", "game.html", "home", "charge", "service", "forum")]
    run.write_ini("[common]\nversion=%s\n[platform]\nloginUrl=%s\nmainUrl=%s\nhomeUrl=%s\nchargeUrl=%s\nserviceUrl=%s\nforumUrl=%s\n[install]\ninstallTime=x\n" % tuple([VERSION] + urls))  # noqa: E501
    opened = run.record_default_browser()
    run.start(display)
    login = face()
    back = [w for w in run.windows() if w != login][0]
    typed("at the start")
    desktop.xdotool(display, "key", "Tab")
    typed("after Tab", "password")
    for wid in (w for w in run.windows() if 'WM_CLASS(STRING) = "varnholt", "varnholt"\n_NET_WM_NAME(UTF8_STRING) = "%s"' % CAPTION not in xprop(display, "-id", w, "WM_CLASS", "_NET_WM_NAME")):  # noqa: E501
        desktop.fail("window %s: %s" % (wid, xprop(display, "-id", wid)))
    want = sorted(["frame|%s|0" % CAPTION] * 2 + ["label|版本:%s|0" % VERSION] + ["push button|%s|1" % n for n in NAMES])
    seen = lambda: sorted(ln for ln in tree() if ln and (ln[:6] != "label|" or "版本" in ln))  # noqa: E731
    desktop.wait_for(lambda: seen() == want, 20, "the accessible tree %s, not %s" % (seen(), want))
    for name in NAMES[:4]:
        tree(name)
    desktop.wait_for(lambda: os.path.exists(opened) and sorted(open(opened).read().split()) == sorted(urls[2:]), 10, "the buttons' actions")  # noqa: E501
    spot = site.login_point(run.geometry(login), (160, 255))
    for _ in range(2 if flood else 0):  # 4 at once: one closed, one more opens
        desktop.xdotool(display, "mousemove", str(spot[0]), str(spot[1]), "click", "1")
        time.sleep(2)
        if len(run.windows()) != 6:
            desktop.fail("the page has %d windows open, not 4" % (len(run.windows()) - 2))
        request_close(display, run.windows()[-1])
        desktop.wait_for(lambda: len(run.windows()) == 5, 10, "a page window to close")
    if wm:
        tree("最小化")
        desktop.wait_for(lambda: not run.windows(), 10, "the face to minimise")
        desktop.xdotool(display, "windowactivate", back, check=False)
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
