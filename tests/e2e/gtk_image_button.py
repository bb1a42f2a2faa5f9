"""The picture button on a real GTK window: a small host program shows button
"a" with a red normal picture and a green hot picture, and button "b" below
it, first in the tab order, and prints their events.

Keys: they reach the focused button, "b" first and "a" after Tab, as the
desktop's key codes and shift mask, with the typed character; no key clicks.
Mouse: the hot picture shows while the pointer is over "a" (read off the
screen); a left click raises Click once, with the pointer in the button's own
pixels; pressing, leaving and releasing raises none; a right click raises the
mouse events but no Click; a jump onto "b" and a click at once clicks "b"."""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
from browser_site import pixel  # noqa: E402
from gtk_env import GtkLauncher  # noqa: E402

# What the host shows (tests/support/button_host_gtk.cpp).
TITLE = "^button host$"
BUTTON = (40, 30, 90, 34)  # "a", client pixels: left, top, width, height
NORMAL = (200, 30, 30)
HOT = (30, 200, 30)


class Host:
    def __init__(self, run):
        self.run = run
        self.seen = 0  # event lines already looked at

    def lines(self):
        if not os.path.exists(self.run.log):
            return []
        with open(self.run.log, "rb") as f:
            text = f.read().decode("utf-8", "replace")
        return [l for l in text.splitlines() if l and not l.startswith("(")]

    def new_events(self, until, timeout=5):
        """The events printed since the last call, once `until` is among
        them, and after a short settling time for any that should not come."""
        desktop.wait_for(lambda: until in self.lines()[self.seen:], timeout,
                         "the host to print %r (has %r)" % (until, self.lines()[self.seen:]))
        time.sleep(0.3)
        events = self.lines()[self.seen:]
        self.seen += len(events)
        return [e for e in events if e.split()[1:2] != ["MouseMove"]]

    def mouse(self, *steps):
        for step in steps:
            if desktop.xdotool(self.run.display, *[str(s) for s in step]) is None:
                desktop.fail("xdotool %s failed" % " ".join(map(str, step)))
            time.sleep(0.1)


def main():
    host_exe = sys.argv[1]
    with desktop.Xvfb() as display, GtkLauncher(host_exe) as run:
        run.start(display)
        wid = run.wait_window(TITLE)
        host = Host(run)
        host.new_events("ready")
        wx, wy = run.geometry(wid)[:2]
        bx, by, bw, bh = BUTTON
        centre = (wx + bx + bw // 2, wy + by + bh // 2)
        away = (wx + bx + bw + 40, wy + by + bh + 30)  # on the window, off the button

        def shows(colour, what):
            desktop.wait_for(lambda: pixel(display, *centre) == colour, 5,
                             "the %s picture at %s (shows %s)"
                             % (what, centre, pixel(display, *centre)))

        host.mouse(("mousemove",) + away)

        def keys(steps, until, want):
            # Keys reach a GTK window only while it has the focus.
            if desktop.xdotool(display, "windowfocus", "--sync", wid, *steps.split()) is None:
                desktop.fail("xdotool %s failed" % steps)
            got = host.new_events(until)
            if got != want:
                desktop.fail("keys %r gave %r, not %r" % (steps, got, want))

        keys("key a", "b KeyUp 65 0", ["b KeyDown 65 0", "b KeyPress 97", "b KeyUp 65 0"])
        keys("key Tab keydown shift key 1 keyup shift", "a KeyUp 16 0",
             ["a KeyDown 16 1", "a KeyDown 49 1", "a KeyPress 33", "a KeyUp 49 1",
              "a KeyUp 16 0"])
        # One key at a time: a key up lets the pending events run first, so
        # the next key's events, if already there, come before its KeyUp.
        keys("key space", "a KeyUp 32 0", ["a KeyDown 32 0", "a KeyPress 32", "a KeyUp 32 0"])
        keys("key Return", "a KeyUp 13 0", ["a KeyDown 13 0", "a KeyPress 13", "a KeyUp 13 0"])

        shows(NORMAL, "normal")
        host.mouse(("mousemove",) + centre)
        shows(HOT, "hot")
        host.mouse(("mousemove",) + away)
        shows(NORMAL, "normal")

        # Left click over the button: MouseDown, MouseUp, then one Click.
        host.mouse(("mousemove",) + centre, ("mousedown", 1), ("mouseup", 1))
        mid = "%d %d" % (bw // 2, bh // 2)  # where the surface saw the pointer
        events = host.new_events("a Click")
        if events != ["a MouseDown 1 " + mid, "a MouseUp 1 " + mid, "a Click"]:
            desktop.fail("a left click gave %r" % events)
        shows(HOT, "hot")

        # Press, leave, release: the capture ends on the way out; no Click.
        host.mouse(("mousedown", 1), ("mousemove",) + away, ("mouseup", 1),
                   ("mousemove",) + centre, ("mousemove",) + away)
        events = host.new_events("a MouseDown 1 " + mid)
        if "a Click" in events:
            desktop.fail("press, leave and release raised Click: %r" % events)
        shows(NORMAL, "normal")

        # Right click: the mouse events with button 2, no Click.
        host.mouse(("mousemove",) + centre, ("mousedown", 3), ("mouseup", 3))
        events = host.new_events("a MouseUp 2 " + mid)
        if events != ["a MouseDown 2 " + mid, "a MouseUp 2 " + mid]:
            desktop.fail("a right click gave %r" % events)

        # One jump from "a", which holds the pointer, onto "b" and a click at
        # once (a touch screen): "b" clicks, "a" shows its normal picture.
        host.mouse(("mousemove", wx + 85, wy + 95, "click", 1))
        host.new_events("b Click")
        shows(NORMAL, "normal")

        if not run.running():
            desktop.fail("the host ended (status %s)" % run.proc.returncode)
    print("ok")


if __name__ == "__main__":
    main()
