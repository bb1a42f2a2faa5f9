"""The Windows browser adapter under Wine, through browser_probe.exe.

The event sink with arguments built as the control passes them (last first,
byref values, a Cancel flag that must be written back) and the document
reads on a stand-in document; then the real control in a window against the
loopback server: its frame and placement, a navigation that reaches the
server only after Navigate has returned, one that a BeforeNavigate2 handler
cancels (no request), NavigateError for a refused port, a frameless browser
placed in the window itself, and closing while a request is under way or a
navigation is still queued (no event afterwards, no window left). Wine has
no HTML engine here: there is never a document."""
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import wine_env  # noqa: E402
from test_server import TestServer  # noqa: E402

PROBE = os.environ.get("E2E_BROWSER_PROBE") or desktop.fail("E2E_BROWSER_PROBE is not set")
DOWNLOAD_FAILURE = 0x800C0008 - (1 << 32)  # INET_E_DOWNLOAD_FAILURE as a signed status


def run_probe(base, args, timeout=40):
    out = os.path.join(base, "probe-out.txt")
    if os.path.exists(out):
        os.remove(out)
    started = time.monotonic()
    code = wine_env.run_exe(PROBE, [wine_env.winpath(out)] + args, timeout=timeout,
                            logname="browser-probe.log")
    took = time.monotonic() - started
    lines = open(out, "rb").read().decode("utf-8").splitlines() if os.path.exists(out) else []
    return code, lines, took


def sink(base):
    code, lines, _ = run_probe(base, ["sink"])
    failures = [l for l in lines if l.startswith("FAIL")]
    if code != 0 or failures or lines != ["ok sink", "ok document"]:
        desktop.fail("sink checks (exit %d):\n  %s" % (code, "\n  ".join(lines)))
    print("sink and document reads: ok")


def facts(lines, key):
    return [l[len(key) + 1:] for l in lines if l.startswith(key + " ")]


def fact(lines, key):
    found = facts(lines, key)
    if len(found) != 1:
        desktop.fail("probe said %r %d times: %s" % (key, len(found), lines))
    return found[0]


def expect(got, want, what):
    if got != want:
        desktop.fail("%s: got %r, expected %r" % (what, got, want))


def live(base):
    with TestServer(lifetime=60) as srv:
        allowed = srv.url("/page/allowed?x=1&y=%E6%B8%B8")
        cancelled = srv.url("/page/cancel-me")
        refused = "http://127.0.0.1:%d/refused" % desktop.free_port()
        stall = srv.url("/stall")
        dropped = srv.url("/page/dropped")
        code, lines, took = run_probe(base, ["live", allowed, cancelled, refused, stall, dropped])
        if code != 0:
            desktop.fail("browser_probe live ended with %d: %s" % (code, lines))
        targets = srv.targets()

    print("control created in %s ms (probe ran %.1f s)" % (fact(lines, "created"), took))
    # The login window's arrangement: a frame at (55, 130) that holds the
    # control 5 pixels up and left of its corner and larger than it.
    expect(fact(lines, "frame"), "55,130 697x406", "frame window")
    expect(fact(lines, "control"), "-5,-5 750x450", "control inside the frame")
    expect(fact(lines, "control-parent"), "frame", "the control's parent")
    # The game window's arrangement: no frame, 17 pixels past the right edge.
    expect(fact(lines, "bare"), "0,0 817x600", "frameless control")
    expect(fact(lines, "bare-resized"), "0,0 417x300", "frameless control placed again")
    expect(fact(lines, "bare-placement"), "417x300", "placement()")
    expect(fact(lines, "document"), "0 none none 0", "no document: has, title, element, script")

    events = facts(lines, "event")
    late = [e for e in events if e.startswith("AFTER-DEATH")]
    if late:
        desktop.fail("events reached a closed browser's owner: %s" % late)

    def index(entry):
        if entry not in events:
            desktop.fail("no %r among the events: %s" % (entry, events))
        return events.index(entry)

    # The request is carried out from the message loop: Navigate returns
    # before BeforeNavigate2 arrives, also for the control's first one.
    for url, cancel in ((allowed, 0), (cancelled, 1), (refused, 0), (stall, 0)):
        if index("navigate-returned " + url) > index("before %s given=0 cancel=%d" % (url, cancel)):
            desktop.fail("BeforeNavigate2 for %s came before Navigate returned: %s" % (url, events))
    errors = [e for e in events if e.startswith("error " + refused + " ")]
    expect(errors, ["error %s status=%d given=0" % (refused, DOWNLOAD_FAILURE)],
           "NavigateError for the refused port")
    if not any(e.startswith("error " + allowed + " ") for e in events):
        # Without an HTML engine the page itself fails after its request.
        desktop.fail("no NavigateError for the page Wine cannot show: %s" % events)
    if "downloaded" not in events:
        desktop.fail("no DownloadComplete: %s" % events)
    if any(e.startswith("complete") or e.startswith("title") or e.startswith("newwindow")
           for e in events):
        desktop.fail("Wine raised an event it never raised before: %s" % events)

    expect([t for t in targets if t.startswith("/page/allowed")], ["/page/allowed?x=1&y=%E6%B8%B8"],
           "requests for the allowed page")
    expect([t for t in targets if "cancel" in t], [], "requests for the cancelled page")
    expect([t for t in targets if "dropped" in t], [], "requests for a navigation queued at close")
    expect(targets.count("/stall"), 1, "requests held at close")
    expect(fact(lines, "children-left"), "0", "windows left in the form after closing both")


def main():
    base = desktop.scratch_dir("launcher-browser-")
    try:
        sink(base)
        live(base)
    finally:
        shutil.rmtree(base, ignore_errors=True)
    print("win32 browser: all cases passed")


if __name__ == "__main__":
    main()
