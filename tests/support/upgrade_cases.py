"""The version check and the upgrade end to end: one case table for both
builds, each row driven by a build's script (gtk_upgrade.py, win32_upgrade.py
and their signed twins). The unit tests run the rules with real downloads
(version_check_test, upgrade_test, upgrade_progress_test); these rows keep
what only the real program adds: its message boxes and progress window on a
real screen (owned, modal, changing, fitting the screen), the download
adapter's failures, the desktop clock's local seconds in the request and the
record, and the upgrade program's start from an awkward folder.

A build gives: name; program, big, junk, earlier (the served and the earlier
upgrade programs); marker (what the started program records); cancel_key;
folder_name (of each launcher copy: what its command line must survive);
launch(name, folder_name, launcher) -> a run of the PLAIN or SIGNED
(built with the test key) launcher (folder, update, ini; start(), running(),
wait_exit(), windows(), wait_window(), geometry(), screen_size(), key());
close_under(run) -> True when a close request reached a window under the
progress window; and where it has more to check, check_owner(case, progress)
and check_started(case), else None."""
import calendar
import collections
import datetime
import os
import re
import time

import desktop
import signing

OFFER = "^升级提示$"  # also the title of the progress window and the failure message
BACK = "^Varnholt登录器$"
EARLIER_STAMP = "[2020-01-02 03:04:05]"
EARLIER_INI = b"[common]\r\nversion=9.9\r\n"
LONG_INI = b"[common]\r\nversion=" + b"9" * 1100 + b"\r\n"
STAMP = re.compile(r"^\[(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\]$")
CHECK_OK = "load version config success"
CHECK_FAILED = "load version config failed"
UPDATE_OK = "load version application success"
UPDATE_FAILED = "load version application failed"
SLOW_RATE = 200 * 1024  # about eight seconds of the big program
TZ = "Asia/Shanghai"  # a count in UTC seconds cannot pass for one in local seconds

BOTH, WIN32 = ("gtk", "win32"), ("win32",)
PLAIN, SIGNED = "plain", "signed"
Row = collections.namedtuple("Row", "name check update earlier outcome builds launcher")
# check and update: the server paths of the version file and the program;
# earlier: the file already in "update"; outcome: the flow below.
ROWS = [
    Row("offer fits the screen", "/files/long.ini?channel=beta", "/files/upgrade.exe",
        None, "declined", BOTH, PLAIN),
    Row("accepted", "/files/2.0.ini", "/files/upgrade.exe", "upgrade.exe", "started", BOTH, PLAIN),
    Row("progress, then Cancel", "/files/2.0.ini", "/slow/%d/big.exe" % SLOW_RATE, "upgrade.exe",
        "cancelled", BOTH, PLAIN),
    Row("Cancel a stalled download", "/files/2.0.ini", "/stall", "upgrade.exe", "cancelled",
        WIN32, PLAIN),
    Row("program missing", "/files/2.0.ini", "/status/404", "upgrade.exe", "failed", BOTH, PLAIN),
    Row("version file answered 500", "/status/500", "/files/upgrade.exe", "upgrade.ini",
        "check failed", WIN32, PLAIN),
    Row("version file cut short", "/cut", "/files/upgrade.exe", "upgrade.ini", "check failed",
        WIN32, PLAIN),
    Row("signed", "/files/2.0.ini", "/files/upgrade.exe", "upgrade.exe", "started", BOTH, SIGNED),
    Row("signature of other bytes", "/files/bad.ini", "/files/upgrade.exe", "upgrade.exe",
        "failed", BOTH, SIGNED),
    # Signed but not a program Windows runs: the start fails, the launcher stays.
    Row("signed, cannot start", "/files/junk.ini", "/files/junk.exe", "upgrade.exe",
        "start failed", WIN32, SIGNED),
]

os.environ["TZ"] = TZ
time.tzset()


def local_seconds(t=None):
    """Seconds from 1970-01-01 00:00:00 to the local wall-clock time of t."""
    return calendar.timegm(time.localtime(t)[:6])


def served_files(build):
    """The server's /files/ for every row."""
    files = {"upgrade.exe": build.program, "big.exe": build.big, "long.ini": LONG_INI,
             "2.0.ini": signing.version_file(b"2.0", build.program),
             "bad.ini": signing.version_file(b"2.0", build.program + b"\0")}
    if build.junk:
        files.update({"junk.exe": build.junk, "junk.ini": signing.version_file(b"2.0", build.junk)})
    return files


class Case:
    """A row's launcher copy: launcher.ini pointing at the server, the
    earlier file in "update", the checks of what it recorded."""

    def __init__(self, build, row, srv):
        self.build, self.row, self.srv = build, row, srv
        self.run = build.launch(re.sub(r"\W+", "-", row.name), build.folder_name, row.launcher)
        self.update = os.path.join(self.run.folder, "update")
        os.makedirs(self.update)
        self.earlier = {"upgrade.exe": build.earlier, "upgrade.ini": EARLIER_INI}.get(row.earlier)
        if row.earlier:
            with open(os.path.join(self.update, row.earlier), "wb") as f:
                f.write(self.earlier)
        with open(self.run.ini, "wb") as f:
            f.write(("[common]\r\nversion=1.00\r\nversionCheckUrl=%s\r\nversionUpdateUrl=%s\r\n"
                     "[platform]\r\nloginUrl=%s\r\nmainUrl=/game.html\r\n"
                     "[install]\r\ninstallTime=%s\r\nupgradeTime=%s\r\n"
                     % (srv.url(row.check), srv.url(row.update), srv.url("/login.html"),
                        EARLIER_STAMP, EARLIER_STAMP)).encode())
        self.first_request = len(srv.targets())
        self.started = time.time()

    def __enter__(self):
        self.run.__enter__()
        self.run.start()
        return self

    def __exit__(self, exc_type, exc, tb):
        if exc_type is not None:
            print("%s: running=%s, requests %r, launcher.ini:" % (
                self.row.name, self.run.running(), self.targets()), flush=True)
            if os.path.exists(self.run.ini):
                print(open(self.run.ini, "rb").read().decode("utf-8", "replace"), flush=True)
        return self.run.__exit__(exc_type, exc, tb)

    def fail(self, msg):
        desktop.fail("%s: %s" % (self.row.name, msg))

    def targets(self):
        return self.srv.targets()[self.first_request:]

    def expect(self, section, key, wanted):
        got = desktop.read_ini_value(self.run.ini, section, key)
        if got != wanted:
            self.fail("[%s] %s is %r, expected %r" % (section, key, got, wanted))

    def update_files(self):
        # Less the folder lock a running launcher holds.
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
        """One request for path, stamped with the desktop clock's local seconds."""
        values = self.stamped(path)
        if len(values) != 1:
            self.fail("%d requests for %s, expected one: %r" % (len(values), path, self.targets()))
        low, high = local_seconds(self.started) - 1, local_seconds() + 1
        if not low <= values[0] <= high:
            self.fail("?v=%d for %s, expected local seconds in [%d, %d] (Unix time %d)"
                      % (values[0], path, low, high, int(time.time())))

    def press(self, box, key):
        """A key to a dialog, then the dialog goes."""
        self.run.key(box, key)
        desktop.wait_for(lambda: box not in self.run.windows(OFFER), 5,
                         "%s: the dialog to close after %s" % (self.row.name, key))

    def still_running(self, after):
        time.sleep(0.5)
        if not self.run.running():
            self.fail("the launcher ended after %s" % after)
        if not self.run.windows(BACK):
            self.fail("the login face is gone after %s" % after)
        if self.run.windows(OFFER):
            self.fail("a dialog is open after %s" % after)

    def earlier_kept(self):
        self.expect("install", "upgradeTime", EARLIER_STAMP)
        if self.read(self.row.earlier) != self.earlier:
            self.fail("the earlier update/%s was changed" % self.row.earlier)
        if self.update_files() != sorted({self.row.earlier, "upgrade.ini"}):
            self.fail("update holds %r" % self.update_files())

    def accept(self):
        offer = self.run.wait_window(OFFER, 20)
        self.press(offer, "Return")
        return offer


def declined(c):
    """The offer over the login face, all of it on the screen; Esc keeps the
    launcher running; only the check was requested."""
    box = c.run.wait_window(OFFER, 20)
    if not c.run.windows(BACK):
        c.fail("the login face is not visible under the offer")
    x, y, w, h = c.run.geometry(box)
    width, height = c.run.screen_size()
    print("%s: the offer is %d x %d" % (c.row.name, w, h))
    if x < 0 or y < 0 or x + w > width or y + h > height:
        c.fail("the offer (%d x %d at %d, %d) leaves the screen" % (w, h, x, y))
    c.press(box, "Escape")
    c.still_running("Esc on the offer")
    c.expect("log", "versionCheckLog", CHECK_OK)
    c.expect("log", "versionUpdateLog", None)
    c.check_stamp(c.row.check)
    if c.stamped(c.row.update):
        c.fail("the upgrade program was requested: %r" % c.targets())
    if c.read("upgrade.ini") != LONG_INI or c.update_files() != ["upgrade.ini"]:
        c.fail("update holds %r, not the remote version file alone" % c.update_files())


def started(c):
    """OK downloads the program, records the outcome at the local time,
    starts the program without arguments and ends without confirmation."""
    c.run.key(c.run.wait_window(OFFER, 20), "Return")
    status = c.run.wait_exit(15)
    if status != 0:
        c.fail("the launcher ended with status %d" % status)
    marker = os.path.join(c.update, "upgrade-ran.txt")
    desktop.wait_for(lambda: os.path.exists(marker) and os.path.getsize(marker), 10,
                     "%s: the upgrade program's marker (was it started?)" % c.row.name)
    with open(marker) as f:
        ran = f.read().strip()
    if ran != c.build.marker:
        c.fail("the upgrade program recorded %r, expected %r" % (ran, c.build.marker))
    if c.read("upgrade.exe") != c.build.program:
        c.fail("update/upgrade.exe is not the served program")
    if c.build.check_started:
        c.build.check_started(c)
    c.check_stamp(c.row.update)
    c.expect("log", "versionUpdateLog", UPDATE_OK)
    stamp = desktop.read_ini_value(c.run.ini, "install", "upgradeTime") or ""
    m = STAMP.match(stamp)
    when = m and calendar.timegm(time.strptime(m.group(1), "%Y-%m-%d %H:%M:%S"))
    if not m or not local_seconds(c.started) - 1 <= when <= local_seconds() + 1:
        c.fail("upgradeTime %r is not the local time of the download (now %s)"
               % (stamp, datetime.datetime.now().strftime("%Y-%m-%d %H:%M:%S")))
    if c.update_files() != ["upgrade-ran.txt", "upgrade.exe", "upgrade.ini"]:
        c.fail("update holds %r" % c.update_files())


def cancelled(c):
    """The progress window over the login face, owned by the background
    window, holding the other windows' input and changing as the bytes
    come (a stalled transfer changes nothing). Cancel ends the transfer:
    no failure message, the failure logged, the earlier program kept."""
    offer = c.accept()
    progress = desktop.wait_for(lambda: [w for w in c.run.windows(OFFER) if w != offer], 10,
                                "%s: the progress window" % c.row.name)[0]
    if c.build.check_owner:
        c.build.check_owner(c, progress)
    if c.build.close_under(c.run):
        c.fail("a close request reached a window under the progress window")
    x, y, w, h = c.run.geometry(progress)
    shots = []
    for _ in range(3):
        time.sleep(0.7)
        shots.append(desktop.Shot(c.run.display, x, y, w, h).data)
    if c.row.update != "/stall" and len(set(shots)) != 3:
        c.fail("the progress window did not change every 0.7 s")
    c.run.key(progress, c.build.cancel_key)
    desktop.wait_for(lambda: not c.run.windows(OFFER), 5,
                     "%s: the progress window to go" % c.row.name)
    c.still_running("Cancel")
    c.expect("log", "versionUpdateLog", UPDATE_FAILED)
    c.earlier_kept()


def message_after_ok(c, log):
    """OK on the offer, then one message box (the progress window has the
    same title: the message is the window left once the outcome is logged);
    Return on it, and the launcher goes on."""
    offer = c.accept()
    message = desktop.wait_for(
        lambda: (desktop.read_ini_value(c.run.ini, "log", "versionUpdateLog") is not None
                 and [w for w in c.run.windows(OFFER) if w != offer][-1:])
        or not c.run.running(), 15, "%s: the message after OK" % c.row.name)
    if message is True:
        c.fail("the launcher ended: the outcome passed for a started upgrade")
    c.expect("log", "versionUpdateLog", log)
    c.press(message[0], "Return")
    c.still_running("Return on the message")


def failed(c):
    """A download that fails or a program whose signature does not verify:
    the failure message, the earlier program and upgrade time kept."""
    message_after_ok(c, UPDATE_FAILED)
    if len(c.stamped(c.row.update)) != 1:
        c.fail("the upgrade program was not requested once: %r" % c.targets())
    c.earlier_kept()


def start_failed(c):
    message_after_ok(c, UPDATE_OK)


def check_failed(c):
    """The version file cannot be fetched: the failure recorded, nothing
    shown, the earlier version file (another version) not read."""
    c.run.wait_window(BACK, 20)
    desktop.wait_for(lambda: desktop.read_ini_value(c.run.ini, "log", "versionCheckLog"), 20,
                     "%s: the outcome of the check" % c.row.name)
    c.expect("log", "versionCheckLog", CHECK_FAILED)
    deadline = time.monotonic() + 1.5
    while time.monotonic() < deadline:
        if c.run.windows(OFFER):
            c.fail("a dialog came up")
        time.sleep(0.1)
    c.still_running("the failed check")
    if len(c.stamped(c.row.check)) != 1:
        c.fail("the version file was not requested once: %r" % c.targets())
    c.earlier_kept()


FLOWS = {"declined": declined, "started": started, "cancelled": cancelled, "failed": failed,
         "start failed": start_failed, "check failed": check_failed}


def run_rows(build, srv):
    """Every row of this build."""
    rows = [r for r in ROWS if build.name in r.builds]
    for row in rows:
        started_at = time.monotonic()
        with Case(build, row, srv) as c:
            FLOWS[row.outcome](c)
        print("%s: %.1f s" % (row.name, time.monotonic() - started_at), flush=True)
    print("%s upgrade: %d cases passed" % (build.name, len(rows)))
