"""Linux launcher: the version check and the upgrade against the loopback
test server, each case from a fresh folder whose path has a blank and
Chinese characters. The outcomes as the user meets them (the offer, the
failure message, the launcher's end and the upgrade program's start) and as
they are recorded (launcher.ini, the server's request log, the files in
"update").

The Linux build keeps the name "update/upgrade.exe"; the server hands it a
shell script that leaves a marker beside itself."""
import calendar
import datetime
import os
import re
import stat
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
from gtk_env import GtkLauncher, request_close  # noqa: E402
from test_server import TestServer  # noqa: E402

OFFER = "^升级提示$"  # also the title of the failed-download message
BACK = "^Varnholt登录器$"
LOGIN_SIZE = (757, 563)
CHECK_PATH = "/update/upgrade.ini"
CHECK_QUERY = "?channel=beta"
PROGRAM_PATH = "/update/upgrade.exe"
REMOTE_INI = b"[common]\r\nversion=2.0\r\n"
LONG_PATH = "/update/long.ini"
LONG_INI = b"[common]\r\nversion=" + b"9" * 1100 + b"\r\n"
EARLIER_STAMP = "[2020-01-02 03:04:05]"
EARLIER_INI = b"[common]\r\nversion=9.9\r\n"
EARLIER_PROGRAM = b"#!/bin/sh\n# earlier upgrade program\nexit 3\n"
STAMP = re.compile(r"^\[(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\]$")
CHECK_OK = "load version config success"
CHECK_FAILED = "load version config failed"
UPDATE_OK = "load version application success"
UPDATE_FAILED = "load version application failed"

# Stands in for the upgrade program: records its argument count and whether
# the launcher had logged the download before starting it.
PROGRAM = (b"#!/bin/sh\n"
           b"here=$(dirname \"$0\")\n"
           b"if grep -q 'versionUpdateLog=load version application success' "
           b"\"$here/../launcher.ini\"; then logged=yes; else logged=no; fi\n"
           b"printf 'arguments=%d logged=%s\\n' \"$#\" \"$logged\" > \"$here/upgrade-ran.txt.tmp\"\n"
           b"mv \"$here/upgrade-ran.txt.tmp\" \"$here/upgrade-ran.txt\"\n")

# About eight seconds of upgrade program.
SLOW_RATE = 200 * 1024
BIG = b"#!/bin/sh\n" + b"#" * (1600 * 1024)

LOGIN_PAGE = ("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>登录</title></head>"
              "<body>登录页面</body></html>")

# Eight hours ahead of UTC for the launcher and for the test's own
# reckoning: a count in UTC seconds cannot pass for one in local seconds.
TZ = "Asia/Shanghai"
os.environ["TZ"] = TZ
time.tzset()


def local_seconds():
    """Seconds from 1970-01-01 00:00:00 to the local wall-clock time now."""
    return calendar.timegm(time.localtime()[:6])


class Case(GtkLauncher):
    """A launcher copy with launcher.ini pointing at the server and earlier
    files in "update"."""

    def __init__(self, built_exe, name, srv, check_url, update=None, update_url=None, **kw):
        super().__init__(built_exe, **kw)
        self.name = name
        self.srv = srv
        self.update = os.path.join(self.folder, "update")
        os.makedirs(self.update)
        for file, data in (update or {}).items():
            with open(os.path.join(self.update, file), "wb") as f:
                f.write(data)
        self.write_ini("[common]\n"
                       "version=1.00\n"
                       "versionCheckUrl=%s\n"
                       "versionUpdateUrl=%s\n"
                       "[platform]\n"
                       "loginUrl=%s\n"
                       # Not contained in loginUrl: the login page stays.
                       "mainUrl=%s\n"
                       "[install]\n"
                       "installTime=%s\n"
                       "upgradeTime=%s\n"
                       % (check_url, update_url or srv.url(PROGRAM_PATH), srv.url("/login.html"),
                          srv.url("/game.html"), EARLIER_STAMP, EARLIER_STAMP))
        self.first_request = 0
        self.started_local = None

    def env(self, display):
        env = super().env(display)
        env["TZ"] = TZ
        return env

    def start(self, display):
        self.first_request = len(self.srv.targets())
        self.started_local = local_seconds()
        super().start(display)

    def __exit__(self, exc_type, exc, tb):
        if exc_type is not None:
            print("%s: running=%s, requests %r, launcher.ini:" % (
                self.name, self.running(), self.targets()), flush=True)
            if os.path.exists(self.ini):
                print(open(self.ini, "rb").read().decode("utf-8", "replace"), flush=True)
        return super().__exit__(exc_type, exc, tb)

    def fail(self, msg):
        desktop.fail("%s: %s" % (self.name, msg))

    def targets(self):
        return self.srv.targets()[self.first_request:]

    def value(self, section, key):
        return desktop.read_ini_value(self.ini, section, key)

    def expect(self, section, key, wanted):
        got = self.value(section, key)
        if got != wanted:
            self.fail("[%s] %s is %r, expected %r" % (section, key, got, wanted))

    def update_files(self):
        # Less the folder lock the running launcher holds (launcher.lock).
        return sorted(set(os.listdir(self.update)) - {"launcher.lock"})

    def read(self, file):
        with open(os.path.join(self.update, file), "rb") as f:
            return f.read()

    def stamped(self, path):
        """The ?v= values of the requests for path (what precedes "?v=")."""
        values = []
        for target in self.targets():
            head, sep, v = target.rpartition("?v=")
            if sep and head == path:
                if not v.isdigit():
                    self.fail("request %r has no number after ?v=" % target)
                values.append(int(v))
        return values

    def check_stamp(self, path):
        values = self.stamped(path)
        if len(values) != 1:
            self.fail("%d requests for %s, expected one: %r" % (len(values), path, self.targets()))
        low, high = self.started_local - 1, local_seconds() + 1
        if not low <= values[0] <= high:
            self.fail("?v=%d for %s, expected local seconds in [%d, %d] (Unix time %d)"
                      % (values[0], path, low, high, int(time.time())))

    def login_face(self):
        return bool(self.windows(BACK)) and self.login_window() is not None

    def press(self, box, key):
        """A key to a dialog (focused first), then the dialog goes."""
        self.key(box, key)
        desktop.wait_for(lambda: box not in self.windows(OFFER), 5,
                         "%s: the dialog to close after %s" % (self.name, key))

    def still_running(self, after):
        time.sleep(0.3)
        if not self.running():
            self.fail("the launcher ended (status %s) after %s" % (self.proc.returncode, after))
        if not self.login_face():
            self.fail("the login face is gone after %s" % after)
        if self.windows(OFFER):
            self.fail("a dialog is open after %s" % after)


def declined(exe, srv, display, path=CHECK_PATH, remote=REMOTE_INI):
    """A different remote version: the offer over the login face, all of it
    on the screen. Esc keeps the launcher running; only the check was
    requested, with "?v=" appended after the address's own "?"."""
    with Case(exe, "declined", srv, srv.url(path + CHECK_QUERY)) as run:
        run.start(display)
        box = run.wait_window(OFFER, 15)
        if not run.windows(BACK):
            run.fail("the login face is not visible under the offer")
        x, y, w, h = run.geometry(box)
        print("declined: the offer for %s is %d x %d" % (path, w, h))
        if x < 0 or y < 0 or x + w > run.screen_size()[0] or y + h > run.screen_size()[1]:
            run.fail("the offer (%d x %d at %d, %d) leaves the screen" % (w, h, x, y))
        run.press(box, "Escape")
        run.still_running("Esc on the offer")
        run.expect("log", "versionCheckLog", CHECK_OK)
        run.expect("log", "versionUpdateLog", None)
        run.check_stamp(path + CHECK_QUERY)
        if any(t.startswith(PROGRAM_PATH) for t in run.targets()):
            run.fail("the upgrade program was requested: %r" % run.targets())
        if run.read("upgrade.ini") != remote:
            run.fail("update/upgrade.ini does not hold the remote file")
        if run.update_files() != ["upgrade.ini"]:
            run.fail("update holds %r" % run.update_files())


def long_version(exe, srv, display):
    """The offer of a version of 1,100 characters fits the screen."""
    declined(exe, srv, display, LONG_PATH, LONG_INI)


def accepted(exe, srv, display):
    """OK downloads the upgrade program, records the outcome, makes the
    program executable, starts it without arguments and ends without any
    confirmation."""
    # A Linux folder name may hold what a command line would quote or escape.
    folder = '启动 "器" back\\slash $HOME dir'
    with Case(exe, "accepted", srv, srv.url(CHECK_PATH + CHECK_QUERY),
              folder_name=folder) as run:
        run.start(display)
        box = run.wait_window(OFFER, 15)
        run.key(box, "Return")
        status = run.wait_exit(10)
        if status != 0:
            run.fail("the launcher ended with status %d" % status)
        marker = os.path.join(run.update, "upgrade-ran.txt")
        desktop.wait_for(lambda: os.path.exists(marker), 5,
                         "accepted: the upgrade program's marker (was it started?)")
        with open(marker) as f:
            ran = f.read().strip()
        if ran != "arguments=0 logged=yes":
            run.fail("the upgrade program reported %r (wanted no arguments, and the "
                     "outcome logged before its start)" % ran)
        if run.read("upgrade.exe") != PROGRAM:
            run.fail("update/upgrade.exe is not the served program")
        if not os.stat(os.path.join(run.update, "upgrade.exe")).st_mode & stat.S_IXUSR:
            run.fail("update/upgrade.exe has no execute bit")
        run.check_stamp(PROGRAM_PATH)
        run.expect("log", "versionUpdateLog", UPDATE_OK)
        stamp = run.value("install", "upgradeTime") or ""
        m = STAMP.match(stamp)
        if not m:
            run.fail("upgradeTime is %r" % stamp)
        when = calendar.timegm(time.strptime(m.group(1), "%Y-%m-%d %H:%M:%S"))
        if not run.started_local - 1 <= when <= local_seconds() + 1:
            run.fail("upgradeTime %s is not the local time of the download (now %s)"
                     % (stamp, datetime.datetime.now().strftime("%Y-%m-%d %H:%M:%S")))
        if run.update_files() != ["upgrade-ran.txt", "upgrade.exe", "upgrade.ini"]:
            run.fail("update holds %r" % run.update_files())
        if desktop.find_windows(display, OFFER):
            run.fail("the offer outlived the launcher")


def program_missing(exe, srv, display):
    """OK, but the upgrade program is not found (404): the failure message
    (a second dialog with the same title), the earlier program and upgrade
    time untouched, the login face goes on."""
    with Case(exe, "missing", srv, srv.url(CHECK_PATH + CHECK_QUERY),
              update={"upgrade.exe": EARLIER_PROGRAM}) as run:
        run.start(display)
        offer = run.wait_window(OFFER, 15)
        run.press(offer, "Return")
        # The progress window has the same title: the message is the window
        # left once the outcome is logged.
        message = desktop.wait_for(
            lambda: (run.value("log", "versionUpdateLog") == UPDATE_FAILED
                     and len([w for w in run.windows(OFFER) if w != offer]) == 1
                     and [w for w in run.windows(OFFER) if w != offer]) or not run.running(),
            10, "missing: the failure message")
        if message is True:
            run.fail("the launcher ended (status %s): the failed download passed for a "
                     "success" % run.proc.returncode)
        run.expect("log", "versionUpdateLog", UPDATE_FAILED)
        run.expect("install", "upgradeTime", EARLIER_STAMP)
        if len(run.stamped(PROGRAM_PATH)) != 1:
            run.fail("the upgrade program was not requested once: %r" % run.targets())
        run.press(message[0], "Return")
        run.still_running("Return on the failure message")
        if run.read("upgrade.exe") != EARLIER_PROGRAM:
            run.fail("the earlier update/upgrade.exe was changed")
        if run.update_files() != ["upgrade.exe", "upgrade.ini"]:
            run.fail("update holds %r" % run.update_files())


def progress_then_cancel(exe, srv, display):
    """OK on the offer over a slow download: the progress window comes up
    over the login face, owned by the background window, keeps changing, and
    holds the other windows' input (a close request to the login window does
    nothing). Esc cancels the transfer: no failure message, the failure
    logged, the earlier program kept, nothing else in "update"."""
    with Case(exe, "progress", srv, srv.url(CHECK_PATH + CHECK_QUERY),
              update={"upgrade.exe": EARLIER_PROGRAM},
              update_url=srv.url("/slow/%d/big.exe" % SLOW_RATE)) as run:
        run.start(display)
        offer = run.wait_window(OFFER, 15)
        run.press(offer, "Return")
        progress = desktop.wait_for(lambda: [w for w in run.windows(OFFER) if w != offer], 10,
                                    "progress: the progress window")[0]
        back = run.windows(BACK)
        transient = subprocess.run(["xprop", "-id", progress, "WM_TRANSIENT_FOR"],
                                   env=dict(os.environ, DISPLAY=display), capture_output=True,
                                   text=True, timeout=10).stdout
        if not back or int(transient.rsplit("#", 1)[-1].strip(), 16) != int(back[0]):
            run.fail("the progress window is not owned by the background window: %r"
                     % transient)
        before = sorted(run.windows())
        request_close(display, run.login_window())
        time.sleep(0.5)
        if sorted(run.windows()) != before:
            run.fail("a close request reached the login window under the progress window")
        x, y, w, h = run.geometry(progress)
        shots = []
        for _ in range(3):
            time.sleep(0.7)
            shots.append(desktop.Shot(display, x, y, w, h).data)
        if len(set(shots)) != 3:
            run.fail("the progress window did not change every 0.7 s")
        run.key(progress, "Escape")  # as the Cancel button
        desktop.wait_for(lambda: not run.windows(OFFER), 5, "progress: the window to go")
        run.still_running("Cancel")
        run.expect("log", "versionUpdateLog", UPDATE_FAILED)
        run.expect("install", "upgradeTime", EARLIER_STAMP)
        if run.read("upgrade.exe") != EARLIER_PROGRAM:
            run.fail("the earlier update/upgrade.exe was changed")
        if run.update_files() != ["upgrade.exe", "upgrade.ini"]:
            run.fail("update holds %r" % run.update_files())


def check_failed(exe, srv, display):
    """The version file cannot be fetched (500 with an error page): the
    failure is recorded, nothing is shown, the earlier version file stays."""
    with Case(exe, "check-failed", srv, srv.url("/status/500"),
              update={"upgrade.ini": EARLIER_INI}) as run:
        run.start(display)
        run.wait_window(BACK, 15)
        desktop.wait_for(lambda: run.login_window(), 10, "the login window")
        desktop.wait_for(lambda: run.value("log", "versionCheckLog"), 10,
                         "check-failed: the outcome of the check")
        run.expect("log", "versionCheckLog", CHECK_FAILED)
        # The earlier file holds another version: had it been read, the
        # offer would come now.
        deadline = time.monotonic() + 1.5
        while time.monotonic() < deadline:
            if run.windows(OFFER):
                run.fail("a dialog came up")
            time.sleep(0.1)
        run.still_running("the failed check")
        if len(run.stamped("/status/500")) != 1:
            run.fail("the version file was not requested once: %r" % run.targets())
        if run.read("upgrade.ini") != EARLIER_INI:
            run.fail("the earlier update/upgrade.ini was changed")
        if run.update_files() != ["upgrade.ini"]:
            run.fail("update holds %r" % run.update_files())


def main():
    exe = sys.argv[1]
    pages = {"/login.html": LOGIN_PAGE, CHECK_PATH: REMOTE_INI, LONG_PATH: LONG_INI,
             PROGRAM_PATH: PROGRAM}
    with desktop.Xvfb() as display, TestServer(pages=pages, files={"big.exe": BIG},
                                               lifetime=120) as srv:
        for case in (declined, long_version, accepted, progress_then_cancel, program_missing,
                     check_failed):
            if case is program_missing:
                del srv.pages[PROGRAM_PATH]  # from now on a 404
            started = time.monotonic()
            case(exe, srv, display)
            print("%s: %.1f s" % (case.__name__, time.monotonic() - started), flush=True)
    print("ok")


if __name__ == "__main__":
    main()
