"""Linux launcher built with an operator's key (the test key): an upgrade
program whose signature verifies is started; one whose signature is of other
bytes is refused as a failed download, and the earlier program stays."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import gtk_upgrade as up  # noqa: E402  (the upgrade cases' launcher copy and checks)
import signing  # noqa: E402
from test_server import TestServer  # noqa: E402


def main():
    exe = sys.argv[1]
    pages = {"/login.html": up.LOGIN_PAGE, up.PROGRAM_PATH: up.PROGRAM,
             "/good.ini": signing.version_file(b"2.0", up.PROGRAM),
             "/bad.ini": signing.version_file(b"2.0", up.PROGRAM + b"# more\n")}
    earlier = {"upgrade.exe": up.EARLIER_PROGRAM}
    with desktop.Xvfb() as display, TestServer(pages=pages, lifetime=60) as srv:
        with up.Case(exe, "good", srv, srv.url("/good.ini"), update=earlier) as run:
            run.start(display)
            run.key(run.wait_window(up.OFFER, 15), "Return")
            marker = os.path.join(run.update, "upgrade-ran.txt")
            desktop.wait_for(lambda: os.path.exists(marker) and not run.running(), 15,
                             "good: the upgrade program's marker and the launcher's end")
            run.expect("log", "versionUpdateLog", up.UPDATE_OK)
            if run.read("upgrade.exe") != up.PROGRAM or run.update_files() != [
                    "upgrade-ran.txt", "upgrade.exe", "upgrade.ini"]:
                run.fail("update holds %r, not just the signed program" % run.update_files())

        with up.Case(exe, "bad", srv, srv.url("/bad.ini"), update=earlier) as run:
            run.start(display)
            offer = run.wait_window(up.OFFER, 15)
            run.press(offer, "Return")
            # The progress window has the same title: the message is the one
            # window left once the outcome is logged.
            message = desktop.wait_for(
                lambda: (run.value("log", "versionUpdateLog") is not None
                         and [w for w in run.windows(up.OFFER) if w != offer][-1:])
                or not run.running(), 15, "bad: the failure message")
            if message is True:
                run.fail("the launcher ended: the badly signed program was accepted")
            run.expect("log", "versionUpdateLog", up.UPDATE_FAILED)
            run.expect("install", "upgradeTime", up.EARLIER_STAMP)
            if len(run.stamped(up.PROGRAM_PATH)) != 1:
                run.fail("the upgrade program was not fetched once: %r" % run.targets())
            run.press(message[0], "Return")
            run.still_running("Return on the failure message")
            if run.read("upgrade.exe") != up.EARLIER_PROGRAM:
                run.fail("the earlier update/upgrade.exe was replaced")
            if run.update_files() != ["upgrade.exe", "upgrade.ini"]:
                run.fail("update holds %r" % run.update_files())
    print("ok")


if __name__ == "__main__":
    main()
