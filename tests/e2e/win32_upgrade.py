"""launcher.exe under Wine: the version check and the upgrade against the
loopback test server, from a folder whose path has a blank. The outcomes as
the user meets them (the offer, the failure message, the launcher's end and
the upgrade program's start) and as they are recorded (launcher.ini, the
server's request log, the files in "update")."""
import calendar
import os
import re
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import wine_env  # noqa: E402
from browser_site import BUTTONS  # noqa: E402
from test_server import TestServer  # noqa: E402

LAUNCHER = os.environ.get("E2E_LAUNCHER") or desktop.fail("E2E_LAUNCHER is not set")
MARKER = os.environ.get("E2E_UPGRADE_MARKER") or desktop.fail("E2E_UPGRADE_MARKER is not set")

OFFER = "^升级提示$"  # also the title of the failed-download message
BACK = "^Varnholt登录器$"
STAMP = re.compile(r"^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\]$")
EARLIER_STAMP = "[2020-01-02 03:04:05]"
EARLIER_INI = b"[common]\r\nversion=9.9\r\n"
EARLIER_EXE = b"MZ earlier upgrade program"
CHECK_OK = "load version config success"
CHECK_FAILED = "load version config failed"
UPDATE_OK = "load version application success"
UPDATE_FAILED = "load version application failed"
QUIT = "^退出提示$"
LOGIN_SIZE = (757, 563)
# About eight seconds of upgrade program.
SLOW_RATE = 200 * 1024
BIG = b"MZ" + b"\x90" * (1600 * 1024)
LONG_INI = b"[common]\r\nversion=" + b"9" * 1100 + b"\r\n"


# The launcher's clock runs eight hours ahead of UTC, so that a stamp in
# UTC seconds cannot pass for one in local seconds.
os.environ["TZ"] = "Asia/Shanghai"
time.tzset()


def local_seconds(t):
    """Seconds from 1970 to the local wall-clock time of the moment t."""
    return calendar.timegm(time.localtime(t))


class Launcher:
    """A copy of launcher.exe in a folder of its own, with a launcher.ini and
    earlier files in "update"."""

    def __init__(self, base, name, display, check_url, update_url, login_url, update=None):
        self.name = name
        self.display = display
        self.folder = os.path.join(base, name + " dir")
        self.update = os.path.join(self.folder, "update")
        os.makedirs(self.update)
        for file, data in (update or {}).items():
            with open(os.path.join(self.update, file), "wb") as f:
                f.write(data)
        self.ini = os.path.join(self.folder, "launcher.ini")
        with open(self.ini, "wb") as f:
            f.write(("[common]\r\nversion=1.00\r\nversionCheckUrl=%s\r\nversionUpdateUrl=%s\r\n"
                     "[platform]\r\nloginUrl=%s\r\nmainUrl=/game\r\n"
                     "[install]\r\ninstallTime=%s\r\nupgradeTime=%s\r\n"
                     % (check_url, update_url, login_url, EARLIER_STAMP, EARLIER_STAMP)).encode())
        self.exe = desktop.copy_exe(LAUNCHER, self.folder)
        self.proc = None
        self.started = None

    def __enter__(self):
        self.started = time.time()
        # Started from elsewhere: nothing may depend on the working folder.
        self.proc = wine_env.start_exe(self.exe, display=self.display, cwd=wine_env.state_dir(),
                                       logname="launcher-upgrade-%s.log" % self.name)
        return self

    def __exit__(self, exc_type, exc, tb):
        if exc_type is not None:
            # What the launcher had done by then.
            print("%s: running=%s, launcher.ini:" % (self.name, self.running()), flush=True)
            if os.path.exists(self.ini):
                print(open(self.ini, "rb").read().decode("utf-8", "replace"), flush=True)
        desktop.stop(self.proc)
        # The next case must not find this one's windows.
        desktop.wait_for(lambda: not desktop.find_windows(self.display, BACK), 10,
                         "the windows of case %s to go" % self.name)

    def value(self, section, key):
        return desktop.read_ini_value(self.ini, section, key)

    def running(self):
        return self.proc.poll() is None

    def update_files(self):
        return sorted(os.listdir(self.update))

    def read(self, file):
        with open(os.path.join(self.update, file), "rb") as f:
            return f.read()


def answer(display, box, key):
    """A key to a message box, focused first: without a window manager the
    key would go to whatever is under the pointer."""
    desktop.xdotool(display, "windowfocus", "--sync", box)
    desktop.xdotool(display, "key", key)


def press(display, key, box):
    answer(display, box, key)
    desktop.wait_for(lambda: box not in desktop.find_windows(display, OFFER), 5,
                     "the message box to close after %s" % key)


def stamped_requests(srv, path, run):
    """The v= values of the requests for path (the text before "?v=")."""
    values = []
    for target in srv.targets():
        head, sep, v = target.rpartition("?v=")
        if sep and head == path:
            if not v.isdigit():
                desktop.fail("%s: request %r has no number after ?v=" % (run.name, target))
            values.append(int(v))
    return values


def check_stamp(values, run, what):
    if len(values) != 1:
        desktop.fail("%s: %d requests for the %s, expected one" % (run.name, len(values), what))
    low, high = local_seconds(run.started) - 1, local_seconds(time.time()) + 1
    if local_seconds(run.started) - int(run.started) != 8 * 3600:
        desktop.fail("the time zone of the test is not in force")
    print("%s: ?v=%d, %+d s from the Unix time" % (run.name, values[0], values[0] - int(time.time())))
    if not low <= values[0] <= high:
        desktop.fail("%s: ?v=%d for the %s, expected local seconds in [%d, %d]"
                     % (run.name, values[0], what, low, high))


def declined(srv, base, display, name="declined", path="/version/2.0?channel=test",
             remote=b"[common]\r\nversion=2.0\r\n"):
    """A different remote version: the offer over the login face, all of it
    on the screen (also for a version of 1,100 characters). Cancel keeps the
    launcher running; only the check was requested, with "?v=" appended
    after the address's own "?"."""
    with Launcher(base, name, display, srv.url(path),
                  srv.url("/files/upgrade.exe"), srv.url("/login")) as run:
        box = desktop.wait_window(display, OFFER, timeout=20)
        print("declined: offer after %.2f s" % (time.time() - run.started))
        x, y, w, h = desktop.window_geometry(display, box)
        screen = [int(n) for n in desktop.xdotool(display, "getdisplaygeometry").split()]
        print("declined: the offer for %s is %d x %d" % (path, w, h))
        if x < 0 or y < 0 or x + w > screen[0] or y + h > screen[1]:
            desktop.fail("declined: the offer (%d x %d at %d, %d) leaves the screen" % (w, h, x, y))
        if not desktop.find_windows(display, BACK):
            desktop.fail("declined: the login face is not visible under the offer")
        press(display, "Escape", box)
        time.sleep(0.5)
        if not run.running() or not desktop.find_windows(display, BACK):
            desktop.fail("declined: the launcher did not go on after Cancel")
        if desktop.find_windows(display, OFFER):
            desktop.fail("declined: a message box is open after Cancel")
        check_stamp(stamped_requests(srv, path, run), run, "version file")
        if any(t.startswith("/files/upgrade.exe") for t in srv.targets()):
            desktop.fail("declined: the upgrade program was requested")
        if run.value("log", "versionCheckLog") != CHECK_OK:
            desktop.fail("declined: versionCheckLog is %r" % run.value("log", "versionCheckLog"))
        if run.value("log", "versionUpdateLog") is not None:
            desktop.fail("declined: versionUpdateLog was written")
        if run.read("upgrade.ini") != remote:
            desktop.fail("declined: update\\upgrade.ini does not hold the remote file")


def accepted(srv, base, display, program):
    """OK downloads the upgrade program, records the outcome, starts the
    program without arguments and ends without any confirmation."""
    with Launcher(base, "accepted", display, srv.url("/version/2.0"),
                  srv.url("/files/upgrade.exe"), srv.url("/login"),
                  update={"upgrade.exe": EARLIER_EXE}) as run:
        box = desktop.wait_window(display, OFFER, timeout=20)
        answer(display, box, "Return")
        pressed = time.monotonic()
        desktop.wait_for(lambda: not run.running(), 15, "the launcher to end after OK")
        print("accepted: ended %.2f s after OK" % (time.monotonic() - pressed))
        if run.proc.returncode != 0:
            desktop.fail("accepted: the launcher ended with status %d" % run.proc.returncode)
        marker = os.path.join(run.update, "upgrade-ran.txt")
        desktop.wait_for(lambda: os.path.exists(marker) and os.path.getsize(marker), 10,
                         "the upgrade program's marker")
        with open(marker) as f:
            if f.read().strip() != "arguments=0":
                desktop.fail("accepted: the upgrade program was started with arguments")
        if run.read("upgrade.exe") != program:
            desktop.fail("accepted: update\\upgrade.exe is not the served program")
        check_stamp(stamped_requests(srv, "/files/upgrade.exe", run), run, "upgrade program")
        if run.value("log", "versionUpdateLog") != UPDATE_OK:
            desktop.fail("accepted: versionUpdateLog is %r" % run.value("log", "versionUpdateLog"))
        stamp = run.value("install", "upgradeTime")
        if not stamp or not STAMP.match(stamp) or stamp == EARLIER_STAMP:
            desktop.fail("accepted: upgradeTime is %r" % stamp)
        if run.update_files() != ["upgrade-ran.txt", "upgrade.exe", "upgrade.ini"]:
            desktop.fail("accepted: update holds %r" % run.update_files())
        if box in desktop.find_windows(display, OFFER):
            desktop.fail("accepted: the offer outlived the launcher")


def upgrade_missing(srv, base, display):
    """OK, but the upgrade program is not found (404): the failure message
    (a second box with the same title), the earlier program untouched, the
    login face goes on."""
    with Launcher(base, "missing", display, srv.url("/version/2.0"), srv.url("/status/404"),
                  srv.url("/login"), update={"upgrade.exe": EARLIER_EXE}) as run:
        offer = desktop.wait_window(display, OFFER, timeout=20)
        press(display, "Return", offer)
        # The progress window has the same title: the message is the one
        # window left once the outcome is logged.
        desktop.wait_for(lambda: (run.value("log", "versionUpdateLog") == UPDATE_FAILED
                                  and len(desktop.find_windows(display, OFFER)) == 1)
                         or not run.running(), 15, "missing: the failure message")
        if not run.running():
            desktop.fail("missing: the launcher ended: the failed download passed for a success")
        message = desktop.find_windows(display, OFFER)[0]
        if run.value("log", "versionUpdateLog") != UPDATE_FAILED:
            desktop.fail("missing: versionUpdateLog is %r" % run.value("log", "versionUpdateLog"))
        if not stamped_requests(srv, "/status/404", run):
            desktop.fail("missing: the upgrade program was not requested")
        press(display, "Return", message)
        time.sleep(0.5)
        if not run.running() or not desktop.find_windows(display, BACK):
            desktop.fail("missing: the login face did not go on after the message")
        if run.read("upgrade.exe") != EARLIER_EXE:
            desktop.fail("missing: the earlier update\\upgrade.exe was changed")
        if run.value("install", "upgradeTime") != EARLIER_STAMP:
            desktop.fail("missing: upgradeTime was rewritten")
        if run.update_files() != ["upgrade.exe", "upgrade.ini"]:
            desktop.fail("missing: update holds %r" % run.update_files())


def progress_then_cancel(srv, base, display, route):
    """OK over a slow download: the progress window comes up and keeps
    changing while the offer is gone. Cancel (Return on the focused button)
    ends the transfer, a stalled one too: no failure message, the failure
    logged, the earlier program kept, no temporary file left in "update"."""
    stalled = route == "/stall"
    with Launcher(base, "progress" + route.replace("/", "-"), display, srv.url("/version/2.0"),
                  srv.url(route), srv.url("/login"), update={"upgrade.exe": EARLIER_EXE}) as run:
        offer = desktop.wait_window(display, OFFER, timeout=20)
        press(display, "Return", offer)
        progress = desktop.wait_for(
            lambda: [w for w in desktop.find_windows(display, OFFER) if w != offer], 10,
            "progress: the progress window")[0]
        x, y, w, h = desktop.window_geometry(display, progress)
        shots = []
        for _ in range(3):
            time.sleep(0.7)
            shots.append(desktop.Shot(display, x, y, w, h).data)
        if not stalled and len(set(shots)) != 3:
            desktop.fail("progress: the window did not change every 0.7 s")
        # Modal: the login window's close button takes no click (it would
        # ask whether to quit).
        login = [w for w in desktop.find_windows(display, "")
                 if desktop.window_geometry(display, w)[2:] == LOGIN_SIZE]
        if not login:
            desktop.fail("progress: the login window is not visible")
        lx, ly = desktop.window_geometry(display, login[0])[:2]
        left, top, width, height = BUTTONS["close"]
        for dx in (0, 1):
            desktop.xdotool(display, "mousemove", str(lx + left + width // 2 + dx),
                            str(ly + top + height // 2))
            time.sleep(0.3)
        desktop.xdotool(display, "click", "1")
        time.sleep(1)
        if desktop.find_windows(display, QUIT):
            desktop.fail("progress: the login window took a click under the progress window")
        answer(display, progress, "Return")
        desktop.wait_for(lambda: not desktop.find_windows(display, OFFER), 5,
                         "progress: the window to go after Cancel")
        time.sleep(0.5)
        if desktop.find_windows(display, OFFER):
            desktop.fail("progress: a message box came up after Cancel")
        if not run.running() or not desktop.find_windows(display, BACK):
            desktop.fail("progress: the login face did not go on after Cancel")
        if run.value("log", "versionUpdateLog") != UPDATE_FAILED:
            desktop.fail("progress: versionUpdateLog is %r" % run.value("log", "versionUpdateLog"))
        if run.read("upgrade.exe") != EARLIER_EXE:
            desktop.fail("progress: the earlier update\\upgrade.exe was changed")
        if run.update_files() != ["upgrade.exe", "upgrade.ini"]:
            desktop.fail("progress: update holds %r" % run.update_files())


def check_failed(srv, base, display, route):
    """The version file cannot be fetched: the failure is recorded, nothing
    is shown, the earlier version file stays as it was."""
    name = "check" + route.replace("/", "-")
    with Launcher(base, name, display, srv.url(route), srv.url("/files/upgrade.exe"),
                  srv.url("/login"), update={"upgrade.ini": EARLIER_INI}) as run:
        desktop.wait_for(lambda: run.value("log", "versionCheckLog"), 20,
                         "%s: the outcome of the check" % name)
        if run.value("log", "versionCheckLog") != CHECK_FAILED:
            desktop.fail("%s: versionCheckLog is %r" % (name, run.value("log", "versionCheckLog")))
        # The earlier file holds another version: had it been read, the
        # offer would come now.
        time.sleep(0.5)
        if desktop.find_windows(display, OFFER):
            desktop.fail("%s: a message box came up" % name)
        if not run.running() or not desktop.find_windows(display, BACK):
            desktop.fail("%s: the login face is gone" % name)
        if run.read("upgrade.ini") != EARLIER_INI:
            desktop.fail("%s: the earlier update\\upgrade.ini was changed" % name)
        if run.update_files() != ["upgrade.ini"]:
            desktop.fail("%s: update holds %r" % (name, run.update_files()))


def main():
    base = desktop.scratch_dir("launcher-upgrade-")
    with open(MARKER, "rb") as f:
        program = f.read()
    try:
        with desktop.Xvfb() as display, TestServer(files={"upgrade.exe": program, "big.exe": BIG,
                                                          "long.ini": LONG_INI},
                                                   lifetime=120) as srv:
            for case in (lambda: declined(srv, base, display),
                         lambda: declined(srv, base, display, "long", "/files/long.ini", LONG_INI),
                         lambda: accepted(srv, base, display, program),
                         lambda: progress_then_cancel(srv, base, display,
                                                      "/slow/%d/big.exe" % SLOW_RATE),
                         lambda: progress_then_cancel(srv, base, display, "/stall"),
                         lambda: upgrade_missing(srv, base, display),
                         lambda: check_failed(srv, base, display, "/status/500"),
                         lambda: check_failed(srv, base, display, "/cut")):
                started = time.monotonic()
                try:
                    case()
                except SystemExit:
                    print("requests: %r" % srv.targets(), flush=True)
                    raise
                print("  case took %.1f s" % (time.monotonic() - started), flush=True)
    finally:
        shutil.rmtree(base, ignore_errors=True)
    print("win32 upgrade: all cases passed")


if __name__ == "__main__":
    main()
