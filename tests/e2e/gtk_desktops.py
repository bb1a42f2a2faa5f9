"""The login face on the window managers that run headless here (none,
openbox, xfwm4 with compositing), one row each: the keyboard is in the login
page at the start, after a restore from the taskbar, after alt-tab and back
from the game (typing reaches the page's focused field, Tab moves within the
page); the accessible tree names the windows, the six picture buttons (push
buttons whose action is their Click) and the version label; WM_CLASS is the
game's id. The first row also floods the desktop from a page: at most 4
windows open at once."""
import os
import shutil
import subprocess
import sys
import time
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import browser_site as site  # noqa: E402
import desktop  # noqa: E402
from gtk_env import GtkLauncher, request_close  # noqa: E402
from test_server import TestServer  # noqa: E402

CAPTION = "Varnholt登录器"
VERSION = open(os.path.join(desktop.ROOT, "VERSION")).read().strip()
BUTTONS = {"官网首页": "/home", "游戏充值": "/charge", "客服系统": "/service", "游戏论坛": "/forum",
           "最小化": None, "关闭": None}
# Each field reports what it holds; the flood spot asks for 100 windows.
LOGIN = site.LOGIN_PAGE.replace("</body>", """
<input id="account" autofocus style="position: absolute; left: 300px; top: 40px"
       onkeyup="new Image().src = '/typed?' + this.id + '=' + encodeURIComponent(this.value)">
<input id="password" style="position: absolute; left: 300px; top: 90px"
       onkeyup="new Image().src = '/typed?' + this.id + '=' + encodeURIComponent(this.value)">
<div class="spot" style="top: 240px"
   onclick="for (var i = 0; i < 100; i++) window.open('about:blank', '', 'width=300,height=200')">洪水</div>
</body>""")
FLOOD = (160, 255)

DESKTOPS = [
    # name, window manager, the taskbar and alt-tab exist, flood
    ("none", None, False, True),
    ("openbox", ["openbox", "--sm-disable"], True, False),
    ("xfwm4", ["xfwm4", "--compositor=on", "--sm-client-disable"], True, False),
]


class Session:
    """A private session bus and the accessibility bus on it, stopped by pid."""

    def __init__(self, root):
        self.address = "unix:path=" + os.path.join(root, "bus")
        self.procs = []

    def __enter__(self):
        env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.address)
        self.procs.append(desktop.spawn(["dbus-daemon", "--session", "--nofork",
                                         "--address=" + self.address]))
        desktop.wait_for(lambda: os.path.exists(self.address[len("unix:path="):]), 10, "the bus")
        self.procs.append(desktop.spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                                        env=env))
        return self

    def __exit__(self, *exc):
        for p in reversed(self.procs):
            desktop.stop(p)


def accessible(env, script):
    """Runs a pyatspi snippet (the system's python3, which has it) with `apps`
    the desktop's applications; returns its standard output."""
    code = "import pyatspi, sys\napps = list(pyatspi.Registry.getDesktop(0))\n" + script
    r = subprocess.run(["/usr/bin/python3", "-c", code], env=env, capture_output=True, text=True,
                       timeout=60)
    if r.returncode:
        desktop.fail("reading the accessible tree: " + r.stderr[-2000:])
    return r.stdout


TREE = """
def walk(o, depth=0):
    if depth > 12: return
    role = o.getRoleName()
    if role in ("frame", "push button", "label") and o.name:
        showing = o.getState().contains(pyatspi.STATE_SHOWING)
        acts = o.queryAction().nActions if role == "push button" else 0
        print("%s|%s|%d|%d" % (role, o.name, showing, acts))
    for c in o:
        if c is not None: walk(c, depth + 1)
for a in apps:
    if a is not None and a.name == sys.argv[1]: walk(a)
"""

PRESS = """
def walk(o, depth=0):
    if depth > 12: return None
    if o.getRoleName() == "push button" and o.name == sys.argv[2] and \\
            o.getState().contains(pyatspi.STATE_SHOWING):
        return o
    for c in o:
        f = c is not None and walk(c, depth + 1)
        if f: return f
for a in apps:
    b = a is not None and a.name == sys.argv[1] and walk(a)
    if b: print(b.queryAction().getName(0), b.queryAction().doAction(0))
"""


def tree(env):
    return accessible(env, "sys.argv = ['', 'varnholt']\n" + TREE)


def press(env, name):
    out = accessible(env, "sys.argv = ['', 'varnholt', %r]\n" % name + PRESS).split()
    if out != ["click", "True"]:
        desktop.fail("the button %s has no click action: %s" % (name, out))


class Row:
    def __init__(self, run, srv, name, env):
        self.run, self.srv, self.name, self.env = run, srv, name, env
        self.typed = 0

    def fail(self, msg):
        desktop.fail("%s: %s" % (self.name, msg))

    def types_into_page(self, what, field=None):
        """Types a new token; the page's focused field (`field`) must report it."""
        self.typed += 1
        token = "%s%d" % (what[:3], self.typed)
        desktop.xdotool(self.run.display, "type", "--delay", "30", token)

        def reported():
            for t in self.srv.targets():
                if t.startswith("/typed?"):
                    k, v = t[len("/typed?"):].split("=", 1)
                    if urllib.parse.unquote(v).endswith(token) and (field is None or k == field):
                        return True
            return False
        deadline = time.monotonic() + 5
        while not reported() and time.monotonic() < deadline:
            time.sleep(0.05)
        if not reported():
            active = desktop.xdotool(self.run.display, "getactivewindow", check=False)
            self.fail("%s: typing %r did not reach the page's %s (active window %s, the login "
                      "window %s)" % (what, token, field or "field", active, self.login))

    def face(self):
        self.back = self.run.wait_window("^%s$" % CAPTION)
        self.login = desktop.wait_for(lambda: self.run.window_of_size(*site.LOGIN_SIZE), 10,
                                      "the login window")
        site.wait_login_page(self.run, self.login)
        # The page's script has focused its field once it is drawn.
        time.sleep(0.3)


def check_names(row):
    """Both windows carry the caption and the game's class; the tree names
    the buttons (each with its action), the label and the windows."""
    for wid in (row.back, row.login):
        props = subprocess.run(["xprop", "-id", wid, "WM_CLASS", "_NET_WM_NAME"], capture_output=True,
                               text=True, timeout=10, env=dict(os.environ, DISPLAY=row.run.display)).stdout
        if 'WM_CLASS(STRING) = "varnholt", "varnholt"' not in props or CAPTION not in props:
            row.fail("window %s: %s" % (wid, props))
    want = sorted(["frame|%s|1|0" % CAPTION] * 2 + ["label|版本:%s|1|0" % VERSION] +
                  ["push button|%s|1|1" % name for name in BUTTONS])
    got = []
    deadline = time.monotonic() + 20
    while got != want and time.monotonic() < deadline:
        # What shows now; the tree fills in as the bridge learns of the widgets.
        got = sorted(ln for ln in tree(row.env).splitlines()
                     if ln.split("|")[2] == "1" and (not ln.startswith("label|") or ln.startswith("label|版本")))
    if got != want:
        row.fail("the accessible tree shows\n  %s\nnot\n  %s" % ("\n  ".join(got), "\n  ".join(want)))


def check_actions(row, browser_log):
    """A button's action is its Click: the four addresses go out."""
    for name, path in BUTTONS.items():
        if path:
            press(row.env, name)
    want = [row.srv.url(p) for p in ("/home", "/charge", "/service", "/forum")]
    desktop.wait_for(lambda: os.path.exists(browser_log) and
                     sorted(open(browser_log).read().split()) == sorted(want), 10,
                     "the four addresses from the buttons' actions")


def check_flood(row):
    page_windows = lambda: len(row.run.windows()) - 2  # noqa: E731
    x, y = site.login_point(row.run.geometry(row.login), FLOOD)
    desktop.xdotool(row.run.display, "mousemove", str(x), str(y), "click", "1")
    desktop.wait_for(lambda: page_windows() == 4, 10, "4 page windows")
    time.sleep(1)
    if page_windows() != 4:
        row.fail("the page opened %d windows, not 4" % page_windows())
    # One closed, one more may open: at most 4 at once.
    spare = [w for w in row.run.windows() if w not in (row.back, row.login)][0]
    request_close(row.run.display, spare)
    desktop.wait_for(lambda: page_windows() == 3, 10, "a page window to close")
    desktop.xdotool(row.run.display, "mousemove", str(x), str(y), "click", "1")
    desktop.wait_for(lambda: page_windows() == 4, 10, "a fourth page window again")
    time.sleep(1)
    if page_windows() != 4:
        row.fail("after one closed, the page has %d windows open" % page_windows())
    for w in row.run.windows():
        if w not in (row.back, row.login):
            request_close(row.run.display, w)
    desktop.wait_for(lambda: page_windows() == 0, 10, "the page windows to close")


def back_from_game(row):
    """Into the game by the page's link, then the game window's close box
    and OK: the new face has the keyboard in its page."""
    x, y = site.login_point(row.run.geometry(row.login), site.PAGE_POINTS["enter"])
    desktop.xdotool(row.run.display, "mousemove", str(x), str(y), "click", "1")
    game = row.run.wait_window(site.GAME_TITLE)
    request_close(row.run.display, game)
    box = row.run.wait_window("^退出提示$")
    row.run.key(box, "Return")
    row.face()
    row.types_into_page("back from the game", "account")


def run_desktop(name, wm, taskbar, flood, display, built):
    root = desktop.scratch_dir("launcher-desktops-")
    wm_proc = other = None
    try:
        with Session(root) as bus, TestServer(pages={"/login.html": LOGIN, "/game.html": site.GAME_PAGE}) \
                as srv, GtkLauncher(built) as run:
            base_env = dict(os.environ, DISPLAY=display, DBUS_SESSION_BUS_ADDRESS=bus.address)
            if wm:
                wm_proc = desktop.spawn(wm, env=dict(base_env, HOME=run.home), log=os.path.join(root, "wm.log"))
                desktop.wait_for(lambda: wm_ready(display), 10, name + " to manage the screen")
            env = run.env(display)
            del env["NO_AT_BRIDGE"]
            env["DBUS_SESSION_BUS_ADDRESS"] = bus.address
            run.env = lambda _display, env=env: dict(env)
            browser_log = run.record_default_browser()
            run.write_ini("[common]\nversion=" + VERSION + "\n[platform]\nloginUrl=%s\nmainUrl=%s\nhomeUrl=%s\nchargeUrl=%s\nserviceUrl=%s\n"
                          "forumUrl=%s\n[install]\ninstallTime=x\n"
                          % tuple(srv.url(p) for p in ("/login.html", "/game.html", "/home", "/charge",
                                                       "/service", "/forum")))
            run.start(display)
            row = Row(run, srv, name, dict(base_env, HOME=run.home))
            row.face()
            row.types_into_page("at the start", "account")
            desktop.xdotool(display, "key", "Tab")
            row.types_into_page("Tab in the page", "password")
            check_names(row)
            check_actions(row, browser_log)
            if flood:
                check_flood(row)
            if taskbar:
                # The face's own minimise button, then the taskbar's restore.
                press(row.env, "最小化")
                desktop.wait_for(lambda: not run.windows("^%s$" % CAPTION), 10, "the face to minimise")
                desktop.xdotool(display, "windowactivate", row.back, check=False)
                row.types_into_page("restored from the taskbar")
                other = desktop.spawn(["xmessage", "-name", "other", "other"], env=base_env)
                wid = desktop.wait_window(display, "^other$")
                desktop.xdotool(display, "windowactivate", "--sync", wid)
                desktop.xdotool(display, "key", "alt+Tab")
                # Typed once the switch is over (xfwm4 holds the keys until then).
                desktop.wait_for(lambda: desktop.xdotool(display, "getactivewindow", check=False) == row.login,
                                 5, "the login window to be active after alt-tab")
                row.types_into_page("alt-tab")
            back_from_game(row)
            site.check_quiet(run)
    finally:
        desktop.stop(other)
        desktop.stop(wm_proc)
        shutil.rmtree(root, ignore_errors=True)
    print("%s: focus, names and actions as they should be" % name, flush=True)


def wm_ready(display):
    """A window manager has set _NET_SUPPORTING_WM_CHECK on the root."""
    out = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], capture_output=True, text=True,
                         timeout=10, env=dict(os.environ, DISPLAY=display)).stdout
    return "window id" in out


def main():
    # Each window manager on an X server of its own, not the run's shared one.
    os.environ.pop("E2E_XVFB_STATE", None)
    only = sys.argv[2:]
    for name, wm, taskbar, flood in DESKTOPS:
        if only and name not in only:
            continue
        with desktop.Xvfb() as display:
            run_desktop(name, wm, taskbar, flood, display, sys.argv[1])
    print("gtk desktops: all checks passed")


if __name__ == "__main__":
    main()
