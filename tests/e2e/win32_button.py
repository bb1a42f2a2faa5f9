"""The picture button on a real window under Wine (face_probe.exe button):
the normal picture upright at rest, the hot picture under the pointer, one
Click for a left click, none for a press that leaves before the release, and
none for space held and released. A button without a picture shows the
theme's push button and its Chinese caption."""
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import wine_env  # noqa: E402

FACE_PROBE = os.environ.get("E2E_FACE_PROBE") or desktop.fail("E2E_FACE_PROBE is not set")
# The button's rectangle on the screen: the form at (100, 100), the button
# at (20, 20) in it, 90 x 34; its pictures are two colours, top over bottom.
LEFT, TOP, W, H = 120, 120, 90, 34
NORMAL = ((128, 0, 0), (64, 64, 64))
HOT = ((255, 255, 0), (0, 255, 255))
INSIDE = (LEFT + 45, TOP + 17)
OUTSIDE = (LEFT + 140, TOP + 17)  # on the form, beside the button


def shows(display, colours):
    screen = desktop.Screen(display)
    return (screen.pixel(LEFT + 45, TOP + 5), screen.pixel(LEFT + 45, TOP + H - 5)) == colours


def main():
    base = desktop.scratch_dir()
    out = os.path.join(base, "events.txt")
    proc = None
    try:
        with desktop.Xvfb() as display:
            exe = desktop.copy_exe(FACE_PROBE, base)
            desktop.xdotool(display, "mousemove", *map(str, OUTSIDE))
            proc = wine_env.start_exe(exe, ["button", wine_env.winpath(out)], display=display,
                                      logname="button.log")

            def events():
                return open(out).read().splitlines() if os.path.exists(out) else []
            desktop.wait_for(lambda: "ready" in events(), 30, "the button probe")

            def await_events(want, what):
                desktop.wait_for(lambda: events()[seen:] == want, 10,
                                 "%s: events %s (have %s)" % (what, want, events()[seen:]))
                time.sleep(0.3)
                if events()[seen:] != want:
                    desktop.fail("%s: events %s, expected %s" % (what, events()[seen:], want))

            desktop.wait_for(lambda: shows(display, NORMAL), 10, "the normal picture, upright")
            # The captioned button at (120, 160), 90 x 30: the theme's frame at
            # its left edge (not the form's colour beside it), dark glyphs in
            # its middle.
            screen = desktop.Screen(display)
            if screen.pixel(LEFT, 175) == screen.pixel(LEFT - 5, 175):
                desktop.fail("no themed push button behind the caption")
            if not any(sum(screen.pixel(x, y)) < 200
                       for x in range(150, 180) for y in range(165, 185)):
                desktop.fail("no caption text on the button without a picture")
            desktop.xdotool(display, "mousemove", *map(str, INSIDE))
            desktop.wait_for(lambda: shows(display, HOT), 10, "the hot picture under the pointer")

            # A left click: MouseDown, MouseUp, one Click; still hot after it.
            seen = len(events())
            desktop.xdotool(display, "click", "1")
            await_events(["MouseDown 1 0 45 17", "MouseUp 1 0 45 17", "Click"], "left click")
            if not shows(display, HOT):
                desktop.fail("the hot picture is gone after the click")

            # Press, leave, release outside: no Click, the normal picture.
            seen = len(events())
            desktop.xdotool(display, "mousedown", "1")
            desktop.xdotool(display, "mousemove", *map(str, OUTSIDE))
            desktop.wait_for(lambda: shows(display, NORMAL), 10, "the normal picture after leaving")
            desktop.xdotool(display, "mouseup", "1")
            await_events(["MouseDown 1 0 45 17"], "press, leave, release")

            # Space (the button has the focus since the press): pressed look
            # while held, never a Click.
            seen = len(events())
            desktop.xdotool(display, "key", "space")
            await_events(["KeyDown 32 0", "KeyUp 32 0"], "space")
            if proc.poll() is not None:
                desktop.fail("the probe ended")
    finally:
        desktop.stop(proc)
        shutil.rmtree(base, ignore_errors=True)
    print("win32 button: all cases passed")


if __name__ == "__main__":
    main()
