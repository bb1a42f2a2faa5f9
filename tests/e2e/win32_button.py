"""The picture button on a real window under Wine (face_probe.exe button):
the normal picture upright at rest, the hot picture under the pointer, one
Click for a left click, none for a press that leaves before the release nor
for space; a button without a picture shows the theme's push button and its
Chinese caption. A client of the accessibility interface still holding the
button's object once the button is gone gets CO_E_OBJNOTCONNECTED."""
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import wine_env  # noqa: E402

FACE_PROBE = os.environ.get("E2E_FACE_PROBE") or desktop.fail("E2E_FACE_PROBE is not set")
CO_E_OBJNOTCONNECTED = "-2147220995"  # 0x800401fd
# The button on the screen: the form at (100, 100), the button at (20, 20)
# in it, 90 x 34; each picture is two colours, top half over bottom half.
LEFT, TOP = 120, 120
NORMAL = ((128, 0, 0), (64, 64, 64))
HOT = ((255, 255, 0), (0, 255, 255))
INSIDE, OUTSIDE = ("165", "137"), ("260", "137")


def shows(display, colours):
    screen = desktop.Picture(display=display)
    return (screen.pixel(LEFT + 45, TOP + 5), screen.pixel(LEFT + 45, TOP + 29)) == colours


def main():
    base = desktop.scratch_dir()
    out = os.path.join(base, "events.txt")
    proc = None

    def events():
        return open(out).read().splitlines()[1:] if os.path.exists(out) else []

    def expect(action, want, what):
        seen = len(events())
        action()
        desktop.wait_for(lambda: events()[seen:] == want, 10, "%s: events %s" % (what, want))
        time.sleep(0.3)
        if events()[seen:] != want:
            desktop.fail("%s: events %s, expected %s" % (what, events()[seen:], want))
    try:
        with desktop.Xvfb() as display:
            desktop.xdotool(display, "mousemove", *OUTSIDE)
            proc = wine_env.start_exe(desktop.copy_exe(FACE_PROBE, base),
                                      ["button", wine_env.winpath(out)], display=display,
                                      logname="button.log")
            desktop.wait_for(lambda: shows(display, NORMAL), 30, "the normal picture, upright")
            # The captioned button at (120, 160), 90 x 30: the theme's frame
            # at its left edge, unlike the form beside it; dark glyphs inside.
            screen = desktop.Picture(display=display)
            if screen.pixel(LEFT, 175) == screen.pixel(LEFT - 5, 175) or not any(
                    sum(screen.pixel(x, y)) < 200 for x in range(150, 180) for y in range(165, 185)):
                desktop.fail("no themed push button with its caption")

            desktop.xdotool(display, "mousemove", *INSIDE)
            desktop.wait_for(lambda: shows(display, HOT), 10, "the hot picture under the pointer")
            expect(lambda: desktop.xdotool(display, "click", "1"),
                   ["MouseDown 1 0 45 17", "MouseUp 1 0 45 17", "Click"], "left click")
            if not shows(display, HOT):
                desktop.fail("the hot picture is gone after the click")

            def press_leave_release():
                desktop.xdotool(display, "mousedown", "1")
                desktop.xdotool(display, "mousemove", *OUTSIDE)
                desktop.wait_for(lambda: shows(display, NORMAL), 10, "the normal picture outside")
                desktop.xdotool(display, "mouseup", "1")
            expect(press_leave_release, ["MouseDown 1 0 45 17"], "press, leave, release")
            # The press gave the button the focus: space is pressed and
            # released on it, and never clicks.
            expect(lambda: desktop.xdotool(display, "key", "space"),
                   ["KeyDown 32 0", "KeyUp 32 0"], "space")
            desktop.stop(proc)
            gone = os.path.join(base, "gone.txt")
            wine_env.run_exe(FACE_PROBE, ["gone", wine_env.winpath(gone)], display=display,
                             logname="gone.log")
            if open(gone).read().split() != [CO_E_OBJNOTCONNECTED] * 2:
                desktop.fail("the object of a destroyed button answered %s" % open(gone).read())
    finally:
        desktop.stop(proc)
        shutil.rmtree(base, ignore_errors=True)
    print("win32 button: all cases passed")


if __name__ == "__main__":
    main()
