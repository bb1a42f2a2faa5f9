"""launcher.exe built with an operator's key (the test key), under Wine: the
system's CryptoAPI verifies the upgrade program. A good signature starts it;
a signature of other bytes is refused as a failed download, and the earlier
program stays with nothing else left in "update". A signed file that is no
program is reported when it cannot be started, and the launcher stays."""
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import signing  # noqa: E402
import win32_upgrade as up  # noqa: E402  (the upgrade cases' launcher copy and checks)
from test_server import TestServer  # noqa: E402

# Text: Wine started an "MZ"-headed junk file of a few hundred bytes as a
# DOS program, but refuses this one (ERROR_BAD_EXE_FORMAT).
JUNK = b"plain text, no program header\r\n" * 8
up.LAUNCHER = os.environ.get("E2E_SIGNED_LAUNCHER") or desktop.fail("E2E_SIGNED_LAUNCHER is not set")


def good(srv, base, display, program):
    with up.Launcher(base, "good", display, srv.url("/files/good.ini"),
                     srv.url("/files/upgrade.exe"), srv.url("/login"),
                     update={"upgrade.exe": up.EARLIER_EXE}) as run:
        up.answer(display, desktop.wait_window(display, up.OFFER, timeout=20), "Return")
        desktop.wait_for(lambda: not run.running(), 15, "good: the launcher to end after OK")
        marker = os.path.join(run.update, "upgrade-ran.txt")
        desktop.wait_for(lambda: os.path.exists(marker) and os.path.getsize(marker), 10,
                         "good: the upgrade program's marker")
        if run.value("log", "versionUpdateLog") != up.UPDATE_OK:
            desktop.fail("good: versionUpdateLog is %r" % run.value("log", "versionUpdateLog"))
        if run.read("upgrade.exe") != program:
            desktop.fail("good: update\\upgrade.exe is not the signed program")
        if run.update_files() != ["upgrade-ran.txt", "upgrade.exe", "upgrade.ini"]:
            desktop.fail("good: update holds %r" % run.update_files())


def bad(srv, base, display):
    with up.Launcher(base, "bad", display, srv.url("/files/bad.ini"),
                     srv.url("/files/upgrade.exe"), srv.url("/login"),
                     update={"upgrade.exe": up.EARLIER_EXE}) as run:
        offer = desktop.wait_window(display, up.OFFER, timeout=20)
        up.press(display, "Return", offer)
        desktop.wait_for(lambda: desktop.find_windows(display, up.OFFER) or not run.running(), 15,
                         "bad: the failure message")
        if not run.running():
            desktop.fail("bad: the launcher ended: the badly signed program was accepted")
        if run.value("log", "versionUpdateLog") != up.UPDATE_FAILED:
            desktop.fail("bad: versionUpdateLog is %r" % run.value("log", "versionUpdateLog"))
        if run.value("install", "upgradeTime") != up.EARLIER_STAMP:
            desktop.fail("bad: upgradeTime was rewritten")
        if not up.stamped_requests(srv, "/files/upgrade.exe", run):
            desktop.fail("bad: the upgrade program was not fetched")
        up.press(display, "Return", desktop.find_windows(display, up.OFFER)[0])
        time.sleep(0.5)
        if not run.running() or not desktop.find_windows(display, up.BACK):
            desktop.fail("bad: the login face did not go on after the message")
        if run.read("upgrade.exe") != up.EARLIER_EXE:
            desktop.fail("bad: the earlier update\\upgrade.exe was replaced")
        if run.update_files() != ["upgrade.exe", "upgrade.ini"]:
            desktop.fail("bad: update holds %r" % run.update_files())


def unstartable(srv, base, display):
    """A signed file that Windows cannot run: the launcher says so in a
    "升级提示" box and stays, instead of ending with nothing on screen."""
    with up.Launcher(base, "unstartable", display, srv.url("/files/junk.ini"),
                     srv.url("/files/junk.exe"), srv.url("/login")) as run:
        offer = desktop.wait_window(display, up.OFFER, timeout=20)
        up.press(display, "Return", offer)
        desktop.wait_for(lambda: desktop.find_windows(display, up.OFFER) or not run.running(), 15,
                         "unstartable: the message")
        if not run.running():
            desktop.fail("unstartable: the launcher ended with nothing started")
        if run.value("log", "versionUpdateLog") != up.UPDATE_OK:
            desktop.fail("unstartable: versionUpdateLog is %r" % run.value("log", "versionUpdateLog"))
        up.press(display, "Return", desktop.find_windows(display, up.OFFER)[0])
        time.sleep(0.5)
        if not run.running() or not desktop.find_windows(display, up.BACK):
            desktop.fail("unstartable: the login face did not go on after the message")


def main():
    base = desktop.scratch_dir("launcher-signed-")
    with open(up.MARKER, "rb") as f:
        program = f.read()
    files = {"upgrade.exe": program,
             "good.ini": signing.version_file(b"2.0", program),
             "bad.ini": signing.version_file(b"2.0", program + b"\0"),
             "junk.exe": JUNK, "junk.ini": signing.version_file(b"2.0", JUNK)}
    try:
        with desktop.Xvfb() as display, TestServer(files=files, lifetime=100) as srv:
            good(srv, base, display, program)
            print("good: ok", flush=True)
            bad(srv, base, display)
            print("bad: ok", flush=True)
            unstartable(srv, base, display)
            print("unstartable: ok", flush=True)
    finally:
        shutil.rmtree(base, ignore_errors=True)
    print("win32 signed upgrade: all cases passed")


if __name__ == "__main__":
    main()
