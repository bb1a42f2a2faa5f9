"""Faults of the Windows build under Wine, each through a probe.

- A window opened while a question is up (a page that hands over by
  itself) takes no input until the answer, as the other windows.
- The download watchdog's silence: a sign of life newer than the caller's
  clock reading is no silence at all, never a wrap-around to an enormous
  one (which abandoned a live transfer as a time-out).
- An untrapped error that keeps recurring (a timer that throws at every
  tick) gives exactly one error box, which stays until it is answered; then
  the program ends with a failure status.
- Browser events raised while the immediate end destroys the windows reach
  no handler."""
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import wine_env  # noqa: E402

PROBE = os.environ.get("E2E_PROBE") or desktop.fail("E2E_PROBE is not set")
DOWNLOAD_PROBE = os.environ.get("E2E_DOWNLOAD_PROBE") or desktop.fail("E2E_DOWNLOAD_PROBE is not set")
BROWSER_PROBE = os.environ.get("E2E_BROWSER_PROBE") or desktop.fail("E2E_BROWSER_PROBE is not set")
ERROR_BOX = "^launcher$"


def box_window(base, display):
    out = os.path.join(base, "box.txt")
    proc = wine_env.start_exe(PROBE, [wine_env.winpath(out), "box-window"], display=display,
                              logname="faults-box.log")
    try:
        box = desktop.wait_window(display, "^probe question$", timeout=30)
        desktop.wait_window(display, "^opened during the question$", timeout=10)
        desktop.xdotool(display, "windowfocus", "--sync", box)
        desktop.xdotool(display, "key", "Return")
        desktop.wait_for(lambda: proc.poll() is not None, 10, "the probe to end")
    finally:
        desktop.stop(proc)
    got = open(out).read().strip()
    if got != "box-window during=0 after=1":
        desktop.fail("window opened under the question: %r" % got)
    print("question: a window opened meanwhile is disabled until the answer")


def watchdog(base, display):
    out = os.path.join(base, "silence.txt")
    # (last sign, now, silence): a sign newer than the reading, across the
    # 32-bit boundary too, and ordinary silences.
    cases = [(1005, 1000, 0), (1000, 1250, 250), (2**32 + 100, 2**32, 0),
             (2**32 - 10, 2**32 + 7000, 7010)]
    args = [wine_env.winpath(out)]
    for last, now, _ in cases:
        args += ["silence", str(last), str(now)]
    code = wine_env.run_exe(DOWNLOAD_PROBE, args, display=display, logname="faults-download.log")
    got = [int(line.split()[1], 16) for line in open(out).read().splitlines()]
    want = [c[2] for c in cases]
    if code != 0 or got != want:
        desktop.fail("watchdog silences %s (exit %d), expected %s" % (got, code, want))
    print("watchdog: silences %s" % got)


def failing_timer(base, display):
    out = os.path.join(base, "timer.txt")
    ticks = out + ".ticks"
    proc = wine_env.start_exe(PROBE, [wine_env.winpath(out), "failing-timer"], display=display,
                              logname="faults-timer.log")
    try:
        box = desktop.wait_window(display, ERROR_BOX, timeout=30)
        time.sleep(1.0)  # a hundred ticks' worth
        boxes = desktop.find_windows(display, ERROR_BOX)
        seen = open(ticks).read().split() if os.path.exists(ticks) else []
        if len(boxes) != 1 or len(seen) != 1 or proc.poll() is not None:
            desktop.fail("failing timer: %d boxes, %d ticks, running %s; expected one box "
                         "after one tick, still up" % (len(boxes), len(seen), proc.poll() is None))
        desktop.xdotool(display, "windowfocus", "--sync", box)
        desktop.xdotool(display, "key", "Return")
        desktop.wait_for(lambda: proc.poll() is not None, 10, "the probe to end after the box")
        if proc.returncode != 1:
            desktop.fail("the error ended the probe with %d, expected 1" % proc.returncode)
    finally:
        desktop.stop(proc)
    print("failing timer: one box after one tick, then the end (status 1)")


def end_while_raising(base, display):
    out = os.path.join(base, "end.txt")
    code = wine_env.run_exe(BROWSER_PROBE, [wine_env.winpath(out), "end"], display=display,
                            logname="faults-end.log")
    lines = open(out, encoding="utf-8").read().splitlines() if os.path.exists(out) else []
    if lines != ["event downloaded", "ending", "raised"]:
        desktop.fail("events around the end (exit %d): %s" % (code, lines))
    print("immediate end: the events raised meanwhile reached no handler")


def main():
    base = desktop.scratch_dir()
    try:
        with desktop.Xvfb() as display:
            box_window(base, display)
            watchdog(base, display)
            failing_timer(base, display)
            end_while_raising(base, display)
    finally:
        shutil.rmtree(base, ignore_errors=True)
    print("win32 faults: all cases passed")


if __name__ == "__main__":
    main()
