"""Hostile servers and leftovers, one table for both builds. gtk: argv[1] is short_check_launcher
(its check bounded to 3 s) beside the real launcher; win32: E2E_SHORT_CHECK_LAUNCHER, E2E_LAUNCHER."""
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import wine_env  # noqa: E402
from gtk_env import GtkLauncher  # noqa: E402
from test_server import TestServer  # noqa: E402

GTK = len(sys.argv) > 1
BACK, BOX = "^Varnholt登录器$", "^升级提示$"  # BOX: the offer, the progress, the messages
EARLIER = b"[common]\r\nversion=9.9\r\n"
LEFT = ["upgrade.ini.Ab12Cd", "upgrade.exe.x9Y8z7", "upgrade.exe.unverified.Qq11Rr",
        "upgrade.exe.unverified", "upgrade.exe.unverified.Qq11Rr.Zz22Yy"]
PLAYERS = ["notes.txt", "upgrade.ini.bak", "upgrade.ini.Ab12Cd.txt"]
DRIP = "/slow-unsized/400/drip.ini"  # four minutes of version file
UPGRADE = ["/files/up.exe", "/slow/20000000/up.exe"]
ROWS = [  # name, builds, version file, upgrade program, what happens
    ("drip", "gtk win32", DRIP, None, "check fails"),
    # 64 MiB at 20 MB/s: at loopback speed Wine's urlmon reports nothing of a body for seconds.
    ("64 MiB", "gtk win32", "/slow/20000000/big.ini", None, "check fails"),
    ("64 MiB unannounced", "gtk win32", "/slow-unsized/20000000/big.ini", None, "check fails"),
    # Wine runs any MZ file (as a DOS program). Run by a shell, the text leaves upgrade.exe.ran.
    ("MZ header", "gtk", "/version/2.0", b"MZ\x90\x00\x03\x00" + bytes(58), "start fails"),
    ("plain text", "gtk win32", "/version/2.0", b'touch "$0.ran"\n', "start fails"),
    # Gone at the first start, the player's files kept; a second start keeps the first's download.
    ("leftovers", "gtk win32", DRIP, None, "leftovers go"),
    # Every row: at most eleven requests (ten redirects) per start; on win32 nothing cached.
    ("redirect loop", "win32", "/redirect-loop", None, "check fails"),
    # The upgrade (64 MiB at 20 MB/s) cancelled with Escape after a second: the server stops sending.
    ("cancel", "win32", "/version/2.0", bytes(64 << 20), "cancelled"),
]


def run_row(srv, display, program, name, route, outcome):
    gtk = GtkLauncher(program) if GTK else None
    folder = gtk.folder if GTK else desktop.scratch_dir("launcher-hostile-") + "/启 动"
    exe, update = desktop.copy_exe(program, folder), os.path.join(folder, "update")
    ini = os.path.join(folder, "launcher.ini")
    os.makedirs(update)
    for file in (["upgrade.ini"] * (outcome != "start fails")
                 + (LEFT + PLAYERS) * (outcome == "leftovers go")):
        open(os.path.join(update, file), "wb").write(EARLIER)
    open(ini, "w").write("[common]\nversion=1.00\nversionCheckUrl=%s\nversionUpdateUrl=%s\n"
                         "[platform]\nloginUrl=%s\nmainUrl=/game\n"
                         % (srv.url(route), srv.url(UPGRADE[outcome == "cancelled"]), srv.url("/login")))
    procs, started = [], time.monotonic()
    # Less the Linux launchers' folder lock.
    files = lambda: sorted(set(os.listdir(update)) - {"launcher.lock"})  # noqa: E731
    log = lambda key: desktop.read_ini_value(ini, "log", key)  # noqa: E731
    boxes = lambda: desktop.find_windows(display, BOX)  # noqa: E731
    drips = lambda: sum(t.startswith(DRIP) for t in srv.targets())  # noqa: E731
    enter = lambda w: desktop.xdotool(display, "windowfocus", "--sync", w, "key", "Return")  # noqa
    def expect(ok, what):  # noqa: E306
        if not ok:
            desktop.fail("%s: %s (update: %r, %r)" % (name, what, files(), open(ini).read()))
    def start():  # noqa: E306
        procs.append(desktop.spawn([exe], gtk.env(display), gtk.cwd, gtk.log) if GTK else
                     wine_env.start_exe(exe, display=display, logname="launcher-hostile.log"))

    cache = {} if GTK else wine_env.internet_cache()
    asked = lambda: sum(t.startswith(route) for t in srv.targets())  # noqa: E731
    try:
        before, asked_before = drips(), asked()
        start()
        if outcome == "check fails":  # under Wine an abandoned transfer's file goes a moment later
            desktop.wait_for(lambda: log("versionCheckLog") and files() == ["upgrade.ini"], 20,
                             name + ": the check's outcome, its file gone")
            print("%s: check ended after %.1f s" % (name, time.monotonic() - started))
            expect(log("versionCheckLog") == "load version config failed" and open(
                os.path.join(update, "upgrade.ini"), "rb").read() == EARLIER, "not a failed check")
        elif outcome == "cancelled":
            offer = desktop.wait_window(display, BOX, 20)
            enter(offer)
            progress = desktop.wait_for(lambda: [w for w in boxes() if w != offer], 20,
                                        name + ": the progress window")[0]
            time.sleep(1)
            desktop.xdotool(display, "windowfocus", "--sync", progress, "key", "Escape")
            cancelled = time.monotonic()
            desktop.wait_for(lambda: log("versionUpdateLog"), 20, name + ": the cancel")
            sent = desktop.wait_for(lambda: [t for t in srv.transfers(UPGRADE[1]) if t["ended"]],
                                    5, name + ": the transfer's end")[-1]
            print("%s: the server stopped %.2f s after the Escape, %.1f of %.1f MB sent"
                  % (name, sent["ended"] - cancelled, sent["sent"] / 1e6, sent["size"] / 1e6))
            desktop.wait_for(lambda: files() == ["upgrade.ini"], 5, name + ": the temporary file gone")
            expect(log("versionUpdateLog") == "load version application failed"
                   and sent["ended"] - cancelled < 1 and sent["sent"] < sent["size"], "not stopped")
        elif outcome == "start fails":
            enter(desktop.wait_window(display, BOX, 20))
            desktop.wait_for(lambda: log("versionUpdateLog"), 20, name + ": the download")
            time.sleep(1)  # the progress window goes as the message comes
            expect(log("versionUpdateLog") == "load version application success" and len(
                boxes()) == 1 and files() == ["upgrade.exe", "upgrade.ini"], "no refused start")
            enter(boxes()[0])
        else:
            mine = desktop.wait_for(lambda: drips() > before and [
                f for f in files() if f not in PLAYERS and f.startswith("upgrade.ini.")], 20,
                name + ": a download")
            expect(files() == sorted(PLAYERS + ["upgrade.ini"] + mine), "leftovers stayed")
            start()
            desktop.wait_for(lambda: drips() > before + 1, 30, name + ": the second check")
            expect(set(mine) <= set(files()), "the running download's file went")
        time.sleep(0.5)
        expect(procs[0].poll() is None and desktop.find_windows(display, BACK) and not boxes(),
               "the login face is not alone")
        expect(asked() - asked_before <= 11 * len(procs), "%d requests" % (asked() - asked_before))
        cached = [] if GTK else wine_env.new_in_cache(cache, pages=["login"])
        expect(not cached, "left in the internet cache: %r" % cached)
    finally:
        for proc in reversed(procs):
            desktop.stop(proc)
        desktop.wait_for(lambda: not desktop.find_windows(display, BACK), 15, "windows to go")
        shutil.rmtree(gtk.root if GTK else os.path.dirname(folder), ignore_errors=True)


def main():
    short = sys.argv[1] if GTK else os.environ["E2E_SHORT_CHECK_LAUNCHER"]
    real = os.path.join(os.path.dirname(short), "launcher") if GTK else os.environ["E2E_LAUNCHER"]
    with desktop.Xvfb() as display, TestServer(lifetime=300) as srv:
        srv.serve_file("drip.ini", b"[common]\r\n" + b";" * 100000)
        srv.serve_file("big.ini", b"[common]\r\n" + b";" * (64 << 20))
        for name, builds, route, program, outcome in ROWS:
            if ("gtk" if GTK else "win32") in builds:
                srv.serve_file("up.exe", program or b"")
                run_row(srv, display, short if name == "drip" else real, name, route, outcome)
                print(name + ": passed", flush=True)


if __name__ == "__main__":
    main()
