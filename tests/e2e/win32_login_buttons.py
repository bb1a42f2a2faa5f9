"""The login window's picture buttons on launcher.exe under Wine, clicked as a
player does: the pointer moves onto a button until it shows its hot picture,
then the left button. On a Chinese system (code page 936, launcher.ini in
GBK) the four site buttons hand exactly their addresses to the default
browser (winebrowser, pointed at a recorder): Chinese characters and a query
string arrive unchanged, as UTF-8. The close button asks "退出提示": Escape
keeps both windows and the launcher, Return ends it with status 0. The
minimise button minimises the background window and hides the login window
with it; a taskbar's restore brings both back, the login window at its
offset and on top, its buttons answering. To the system's accessibility
interface the buttons are named push buttons whose press does what a click
does, the version label static text with the version."""
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import wine_env  # noqa: E402

LAUNCHER = os.environ.get("E2E_LAUNCHER") or desktop.fail("E2E_LAUNCHER is not set")
PROBE = os.environ.get("E2E_PROBE") or desktop.fail("E2E_PROBE is not set")
BACK, QUESTION = "^Varnholt登录器$", "^退出提示$"
OFFSET = (254, 70)
BUTTONS = {"mini": (692, 19, 23, 23), "close": (720, 16, 26, 26), "home": (65, 55, 90, 34),
           "charge": (165, 55, 90, 34), "service": (552, 55, 90, 34), "forum": (652, 55, 90, 34)}
SITE = {"home": "http://127.0.0.1:9/首页?q=中文", "charge": "http://127.0.0.1:9/pay?a=1&b=2",
        "service": "http://127.0.0.1:9/service", "forum": "http://127.0.0.1:9/forum"}
NAMES = {"home": "官网首页", "charge": "游戏充值", "service": "客服系统", "forum": "游戏论坛",
         "mini": "最小化", "close": "关闭"}
# ROLE_SYSTEM_PUSHBUTTON, focusable; ROLE_SYSTEM_STATICTEXT, read-only.
ACCESSIBLE = sorted(["name=%s role=43 state=0x100000 action=按下" % n for n in NAMES.values()] +
                    ["name=版本:3.1.4 role=41 state=0x40 action=-"])


class Face:
    """launcher.exe in a folder of its own with this launcher.ini."""

    def __init__(self, base, display, name, ini, extra_env):
        self.display, self.base = display, base
        folder = os.path.join(base, name)
        os.makedirs(folder)
        with open(os.path.join(folder, "launcher.ini"), "wb") as f:
            f.write(ini)
        # Away from every button: one under the pointer at the start turns hot.
        desktop.xdotool(display, "mousemove", "5", "5")
        self.proc = wine_env.start_exe(desktop.copy_exe(LAUNCHER, folder), display=display,
                                       logname="buttons-%s.log" % name, extra_env=extra_env)
        try:
            desktop.wait_window(display, BACK, timeout=30)
            self.back, self.login = desktop.wait_for(self.shown, 10, "the login face")
        except BaseException:
            desktop.stop(self.proc)
            raise

    def probe(self, command):
        out = os.path.join(self.base, "probe.txt")
        if wine_env.run_exe(PROBE, [wine_env.winpath(out), command], display=self.display,
                            logname="probe.log") != 0:
            desktop.fail("win32_probe.exe %s failed" % command)
        return open(out, encoding="utf-8").read().strip()

    def forms(self):
        """(background, login) as the system sees them: position, shown, minimised."""
        found = {}
        for part in self.probe("forms").split(" | ")[1:]:
            f = dict(kv.split("=") for kv in part.split())
            found[f["owned"]] = (tuple(map(int, f["at"].split(","))), f["visible"], f["iconic"])
        return found.get("0"), found.get("1")

    def press(self, name):
        if (line := self.probe("press:" + NAMES[name])) != "press 0":
            desktop.fail("the accessible press of %s: %s" % (name, line))

    def shown(self):
        """Both windows shown and not minimised, the login window at its offset."""
        back, login = self.forms()
        if back and login and back[1:] == login[1:] == ("1", "0") and \
                login[0] == (back[0][0] + OFFSET[0], back[0][1] + OFFSET[1]):
            return back[0], login[0]
        return None

    def click(self, name):
        left, top, width, height = BUTTONS[name]
        x, y = self.login[0] + left, self.login[1] + top
        hot = subprocess.run(["convert", os.path.join(desktop.ROOT, "resources", "buttons",
                                                      name + "_hot.bmp"), "-depth", "8", "rgb:-"],
                             capture_output=True, timeout=20).stdout
        steps = iter(range(1000))

        def shows_hot():
            # Small moves: the first may only end another button's capture.
            desktop.xdotool(self.display, "mousemove", str(x + width // 2 + next(steps) % 2),
                            str(y + height // 2))
            return desktop.Shot(self.display, x, y, width, height).data == hot
        desktop.wait_for(shows_hot, 5, "the %s button's hot picture" % name, interval=0.1)
        desktop.xdotool(self.display, "click", "1")

    def answer_close(self, key, accessible=False):
        self.press("close") if accessible else self.click("close")
        desktop.wait_window(self.display, QUESTION, timeout=10)
        desktop.xdotool(self.display, "key", key)


def until(get, want, what, timeout=10):
    deadline = time.monotonic() + timeout
    while (got := get()) != want:
        if time.monotonic() > deadline:
            desktop.fail("%s: %s after %d s, expected %s" % (what, got, timeout, want))
        time.sleep(0.1)


def opened(record, want, what):
    until(lambda: os.path.exists(record) and open(record, encoding="utf-8").read().splitlines(),
          want, "addresses opened by " + what)


def site_buttons_and_close(base, display, browser):
    ini = "[common]\r\nversion=3.1.4\r\n[platform]\r\nloginUrl=http://127.0.0.1:1/x\r\n" + \
        "mainUrl=/game\r\n" + "".join("%sUrl=%s\r\n" % kv for kv in SITE.items()) + \
        "[install]\r\ninstallTime=x\r\n"
    face = Face(base, display, "road", ini.encode("gbk"),
                dict(browser, **wine_env.chinese_system()))
    try:
        order = ["home", "charge", "service", "forum"]
        for i, name in enumerate(order):
            face.click(name)
            opened(browser["E2E_BROWSER_RECORD"], [SITE[n] for n in order[:i + 1]],
                   "the %s button" % name)

        face.answer_close("Escape")
        desktop.wait_for(lambda: not desktop.find_windows(display, QUESTION), 10,
                         "the question to go")
        if face.proc.poll() is not None or face.shown() != (face.back, face.login):
            desktop.fail("Escape in the exit question did not keep the login face: %s"
                         % (face.forms(),))
        face.click("home")
        opened(browser["E2E_BROWSER_RECORD"], [SITE[n] for n in order + ["home"]],
               "the home button after Escape")

        # Whichever button has the focus now counts as merely focusable.
        found = sorted(p.replace("state=0x100004", "state=0x100000")
                       for p in face.probe("acc").split(" | ")[1:])
        if found != ACCESSIBLE:
            desktop.fail("accessible controls: %s, expected %s" % (found, ACCESSIBLE))
        for i, name in enumerate(order):
            face.press(name)
            opened(browser["E2E_BROWSER_RECORD"],
                   [SITE[n] for n in order + ["home"] + order[:i + 1]],
                   "the accessible press of %s" % name)

        face.answer_close("Return", accessible=True)
        desktop.wait_for(lambda: face.proc.poll() is not None, 10, "the launcher to end after OK")
        if face.proc.returncode != 0:
            desktop.fail("the launcher ended with status %d" % face.proc.returncode)
    finally:
        desktop.stop(face.proc)


def minimise(base, display, browser):
    face = Face(base, display, "minimise", b"[platform]\r\nloginUrl=http://127.0.0.1:1/x\r\n"
                b"mainUrl=/game\r\nforumUrl=http://127.0.0.1:9/forum\r\n", browser)
    try:
        face.click("mini")
        # As on Windows: the background window minimised, its owned login
        # window hidden with it rather than minimised on its own.
        until(lambda: [f and f[1:] for f in face.forms()], [("1", "1"), ("0", "0")],
              "(visible, minimised) of the background and login windows")
        face.probe("restore")
        desktop.wait_for(face.shown, 10, "both windows restored")
        face.click("forum")
        opened(browser["E2E_BROWSER_RECORD"], [SITE["forum"]], "the forum button after a restore")
    finally:
        desktop.stop(face.proc)


def main():
    base = desktop.scratch_dir()
    try:
        with desktop.Xvfb() as display:
            for case in (site_buttons_and_close, minimise):
                record = os.path.join(base, case.__name__ + ".txt")
                case(base, display, wine_env.record_default_browser(record, display))
    finally:
        shutil.rmtree(base, ignore_errors=True)
    print("win32 login buttons: all cases passed")


if __name__ == "__main__":
    main()
