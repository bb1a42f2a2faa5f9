"""The picture button on a real GTK window: a small host program shows one
button with a red normal picture and a green hot picture and prints the
button's events. The hot picture shows while the pointer is over it (read
off the screen), a left click raises Click once, pressing, leaving and
releasing raises none, and a right click raises the mouse events but no
Click."""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
from browser_site import pixel  # noqa: E402
from gtk_env import GtkLauncher  # noqa: E402

# What the host shows (tests/support/button_host_gtk.cpp).
TITLE = "^button host$"
BUTTON = (40, 30, 90, 34)  # client pixels: left, top, width, height
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
        return [e for e in events if not e.startswith("MouseMove")]

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
        shows(NORMAL, "normal")
        host.mouse(("mousemove",) + centre)
        shows(HOT, "hot")
        host.mouse(("mousemove",) + away)
        shows(NORMAL, "normal")

        # Left click over the button: MouseDown, MouseUp, then one Click.
        host.mouse(("mousemove",) + centre, ("mousedown", 1), ("mouseup", 1))
        mid = "%d %d" % (bw // 2, bh // 2)  # where the surface saw the pointer
        events = host.new_events("Click")
        if events != ["MouseDown 1 " + mid, "MouseUp 1 " + mid, "Click"]:
            desktop.fail("a left click gave %r" % events)
        shows(HOT, "hot")

        # Press, leave, release: the capture ends on the way out; no Click.
        host.mouse(("mousedown", 1), ("mousemove",) + away, ("mouseup", 1),
                   ("mousemove",) + centre, ("mousemove",) + away)
        events = host.new_events("MouseDown 1 " + mid)
        if "Click" in events:
            desktop.fail("press, leave and release raised Click: %r" % events)
        shows(NORMAL, "normal")

        # Right click: the mouse events with button 2, no Click.
        host.mouse(("mousemove",) + centre, ("mousedown", 3), ("mouseup", 3))
        events = host.new_events("MouseUp 2 " + mid)
        if events != ["MouseDown 2 " + mid, "MouseUp 2 " + mid]:
            desktop.fail("a right click gave %r" % events)

        if not run.running():
            desktop.fail("the host ended (status %s)" % run.proc.returncode)
    print("ok")


if __name__ == "__main__":
    main()
