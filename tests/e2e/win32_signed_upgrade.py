"""launcher.exe built with an operator's key (the test key), under Wine: the
system's CryptoAPI verifies the upgrade program. A good signature starts it;
a signature of other bytes is refused as a failed download and the earlier
program stays, nothing else left in "update". A signed file that Windows
cannot run is reported, and the launcher stays."""
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import signing  # noqa: E402
import win32_upgrade as up  # noqa: E402  (the upgrade cases' launcher copy and checks)
from test_server import TestServer  # noqa: E402

up.LAUNCHER = os.environ.get("E2E_SIGNED_LAUNCHER") or desktop.fail("E2E_SIGNED_LAUNCHER is not set")
# Text: Wine starts an "MZ"-headed junk file as a DOS program, but refuses
# this one (ERROR_BAD_EXE_FORMAT), so the failed start is what the test sees.
JUNK = b"plain text, no program header\r\n" * 8


def case(srv, base, display, name, program):
    return up.Launcher(base, name, display, srv.url("/files/%s.ini" % name),
                       srv.url("/files/%s.exe" % program), srv.url("/login"),
                       update={"upgrade.exe": up.EARLIER_EXE})


def accept_then_message(run, display, log):
    """OK on the offer; a second box must follow, the launcher stays after it."""
    up.press(display, "Return", desktop.wait_window(display, up.OFFER, timeout=20))
    # The progress window has the same title: the message is the one window
    # left once the outcome is logged.
    desktop.wait_for(lambda: (run.value("log", "versionUpdateLog") is not None
                              and len(desktop.find_windows(display, up.OFFER)) == 1)
                     or not run.running(), 15, "%s: a message after OK" % run.name)
    if not run.running():
        desktop.fail("%s: the launcher ended" % run.name)
    if run.value("log", "versionUpdateLog") != log:
        desktop.fail("%s: versionUpdateLog is %r" % (run.name, run.value("log", "versionUpdateLog")))
    up.press(display, "Return", desktop.find_windows(display, up.OFFER)[0])
    time.sleep(0.5)
    if not run.running() or not desktop.find_windows(display, up.BACK):
        desktop.fail("%s: the login face did not go on after the message" % run.name)


def main():
    base = desktop.scratch_dir("launcher-signed-")
    with open(up.MARKER, "rb") as f:
        program = f.read()
    files = {"upgrade.exe": program, "junk.exe": JUNK,
             "good.ini": signing.version_file(b"2.0", program),
             "bad.ini": signing.version_file(b"2.0", program + b"\0"),
             "junk.ini": signing.version_file(b"2.0", JUNK)}
    try:
        with desktop.Xvfb() as display, TestServer(files=files, lifetime=100) as srv:
            with case(srv, base, display, "good", "upgrade") as run:
                up.answer(display, desktop.wait_window(display, up.OFFER, timeout=20), "Return")
                marker = os.path.join(run.update, "upgrade-ran.txt")
                desktop.wait_for(lambda: os.path.exists(marker) and not run.running(), 15,
                                 "good: the upgrade program's marker and the launcher's end")
                if run.read("upgrade.exe") != program or run.update_files() != [
                        "upgrade-ran.txt", "upgrade.exe", "upgrade.ini"]:
                    desktop.fail("good: update holds %r, not the signed program" % run.update_files())
            with case(srv, base, display, "bad", "upgrade") as run:
                accept_then_message(run, display, up.UPDATE_FAILED)
                if not up.stamped_requests(srv, "/files/upgrade.exe", run):
                    desktop.fail("bad: the upgrade program was not fetched")
                if run.read("upgrade.exe") != up.EARLIER_EXE or run.update_files() != [
                        "upgrade.exe", "upgrade.ini"]:
                    desktop.fail("bad: update holds %r, the earlier program replaced?"
                                 % run.update_files())
                if run.value("install", "upgradeTime") != up.EARLIER_STAMP:
                    desktop.fail("bad: upgradeTime was rewritten")
            with case(srv, base, display, "junk", "junk") as run:
                accept_then_message(run, display, up.UPDATE_OK)
    finally:
        shutil.rmtree(base, ignore_errors=True)
    print("win32 signed upgrade: all cases passed")


if __name__ == "__main__":
    main()
