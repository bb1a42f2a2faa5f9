"""launcher.exe under Wine: start-up with and without a usable
configuration, from folders whose paths have a blank and Chinese characters,
started from another working folder; the login face's geometry and drag."""
import os
import re
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import desktop  # noqa: E402
import wine_env  # noqa: E402
from wine_env import BACK_SIZE, LOGIN_SIZE, answer, face  # noqa: E402

LAUNCHER = wine_env.launcher_exe()
STAMP = re.compile(r"^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\]$")
BOX = "^系统提示$"
BACK = "^Varnholt登录器$"
# 3810 x 1045 twips at 15 twips per pixel.
LOGIN_OFFSET = (254, 70)
SCREEN = (1600, 1000)


def launch(folder, display, name):
    exe = desktop.copy_exe(LAUNCHER, folder)
    # Started from elsewhere: the launcher must not use the working folder.
    started = time.monotonic()
    proc = wine_env.start_exe(exe, display=display, cwd=wine_env.state_dir(),
                              logname="launcher-%s.log" % name)
    return proc, started


def wait_exit(proc, timeout, what):
    desktop.wait_for(lambda: proc.poll() is not None, timeout, what)
    return proc.returncode


def check_offset(back, login):
    off = (login[0] - back[0], login[1] - back[1])
    if off != LOGIN_OFFSET:
        desktop.fail("login window offset %s, expected %s" % (off, LOGIN_OFFSET))


def missing_config(base, display, name, path=None):
    """No launcher.ini: the broken-configuration box over the login face;
    OK ends the program; installTime was stamped into a new file."""
    folder = os.path.join(base, path or name)
    os.makedirs(folder)
    proc, started = launch(folder, display, name)
    try:
        box = desktop.wait_window(display, BOX, timeout=30)
        print("%s: message box after %.2f s" % (name, time.monotonic() - started))
        back, login = face(display)
        if not back or not login:
            desktop.fail("%s: the login face is not visible under the message box" % name)
        check_offset(back, login)
        answer(display, box, "Return")
        pressed = time.monotonic()
        wait_exit(proc, 10, "the launcher to end after OK")
        print("%s: ended %.2f s after OK" % (name, time.monotonic() - pressed))
    finally:
        desktop.stop(proc)
    ini = os.path.join(folder, "launcher.ini")
    stamp = desktop.read_ini_value(ini, "install", "installTime")
    if not stamp or not STAMP.match(stamp):
        desktop.fail("%s: installTime %r in %s" % (name, stamp, ini))
    if desktop.find_windows(display, BOX):
        desktop.fail("%s: the message box outlived the program" % name)


def valid_config(base, display):
    """A usable configuration: the login face, centred, no message; a drag
    on the background window moves both windows; installTime is kept."""
    folder = os.path.join(base, "with space")
    os.makedirs(folder)
    ini = os.path.join(folder, "launcher.ini")
    preset = "[2020-01-02 03:04:05]"
    with open(ini, "wb") as f:
        f.write(b"[common]\r\nversion=1.00\r\n[platform]\r\nloginUrl=http://127.0.0.1:1/x\r\n"
                b"mainUrl=/game\r\n[install]\r\ninstallTime=" + preset.encode() + b"\r\n")
    proc, started = launch(folder, display, "valid")
    try:
        desktop.wait_window(display, BACK, timeout=30)
        print("valid: first window after %.2f s" % (time.monotonic() - started))
        back, login = desktop.wait_for(lambda: all(face(display)) and face(display), 10,
                                       "both windows of the login face")
        want = ((SCREEN[0] - BACK_SIZE[0]) // 2, (SCREEN[1] - BACK_SIZE[1]) // 2)
        if back[:2] != want:
            desktop.fail("background window at %s, expected centred at %s" % (back[:2], want))
        check_offset(back, login)

        # Press on the background window (on the panel's frame right of the
        # login window: the picture's corners are transparent and let the
        # press through), move, release: the system's move loop moves it,
        # the timer brings the login window along.
        x, y = back[0] + 1018, back[1] + 300
        desktop.xdotool(display, "mousemove", str(x), str(y))
        desktop.xdotool(display, "mousedown", "1")
        for step in range(1, 6):
            desktop.xdotool(display, "mousemove", str(x + 20 * step), str(y + 12 * step))
            time.sleep(0.05)
        desktop.xdotool(display, "mouseup", "1")
        moved = desktop.wait_for(lambda: (lambda f: f if f[0] and f[1] and f[0][:2] != back[:2]
                                          and (f[1][0] - f[0][0], f[1][1] - f[0][1]) == LOGIN_OFFSET
                                          else None)(face(display)),
                                 10, "the login face to move with the drag")
        if moved[0][:2] != (back[0] + 100, back[1] + 60):
            desktop.fail("background window dragged to %s, expected %s"
                         % (moved[0][:2], (back[0] + 100, back[1] + 60)))

        time.sleep(0.5)
        if desktop.find_windows(display, BOX):
            desktop.fail("a message box came up although loginUrl is usable")
        if proc.poll() is not None:
            desktop.fail("the launcher ended by itself")
    finally:
        desktop.stop(proc)
    if desktop.read_ini_value(ini, "install", "installTime") != preset:
        desktop.fail("installTime was rewritten")


def exit_confirmation(base, display):
    """Alt+F4 on the login window asks first: Cancel (Esc) keeps the
    launcher running with both windows; OK ends it at once."""
    folder = os.path.join(base, "confirm")
    os.makedirs(folder)
    with open(os.path.join(folder, "launcher.ini"), "wb") as f:
        # A game address the login page does not contain: an empty one would
        # hand the login page over to the game window at once.
        f.write(b"[platform]\r\nloginUrl=http://127.0.0.1:1/x\r\nmainUrl=/game\r\n"
                b"[install]\r\ninstallTime=[2020-01-02 03:04:05]\r\n")
    proc, _ = launch(folder, display, "confirm")
    try:
        desktop.wait_window(display, BACK, timeout=30)
        desktop.wait_for(lambda: all(face(display)), 10, "both windows of the login face")

        def close_login():
            wins = desktop.xdotool(display, "search", "--onlyvisible", "--class", "launcher.exe").split()
            login = [w for w in wins if desktop.window_geometry(display, w)[2:] == LOGIN_SIZE][0]
            desktop.xdotool(display, "windowfocus", "--sync", login)
            desktop.xdotool(display, "key", "alt+F4")
            return desktop.wait_window(display, "^退出提示$", timeout=10)

        answer(display, close_login(), "Escape")
        desktop.wait_for(lambda: not desktop.find_windows(display, "^退出提示$"), 10, "the box to go")
        time.sleep(0.3)
        if proc.poll() is not None or not all(face(display)):
            desktop.fail("Cancel did not keep the login face")
        answer(display, close_login(), "Return")
        pressed = time.monotonic()
        code = wait_exit(proc, 10, "the launcher to end after OK")
        print("confirm: ended %.2f s after OK, exit code %d" % (time.monotonic() - pressed, code))
    finally:
        desktop.stop(proc)


def main():
    base = desktop.scratch_dir()
    try:
        with desktop.Xvfb() as display:
            missing_config(base, display, "with space")
            # Not representable in code page 1252: the INI goes through the
            # folder's short name.
            missing_config(base, display, "游戏 目录")
            # Past MAX_PATH, in code page 1252: the profile calls through the
            # folder's short name all the same.
            missing_config(base, display, "past 260 characters",
                           os.path.join("x" * 120, "y" * 120, "game dir"))
            valid_config(os.path.join(base, "valid"), display)
            exit_confirmation(base, display)
    finally:
        shutil.rmtree(base, ignore_errors=True)
    print("win32 launcher: all cases passed")


if __name__ == "__main__":
    main()
