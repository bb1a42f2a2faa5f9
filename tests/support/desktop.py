"""Shared pieces of the end-to-end tests: a private X display, windows found
by title, keys sent to them, and processes that are always stopped.

Every wait is bounded. Everything started here binds to loopback or to a
display number of its own and is stopped by process id.
"""
import ctypes
import ctypes.util
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def fail(msg):
    print("FAIL: " + msg, flush=True)
    sys.exit(1)


def wait_for(predicate, timeout, what, interval=0.05):
    """Polls predicate until it gives a true value; fails after timeout s."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            fail("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def free_display(start=120):
    """A display number nobody uses (no lock file, no socket)."""
    for n in range(start, start + 200):
        if not os.path.exists("/tmp/.X%d-lock" % n) and \
           not os.path.exists("/tmp/.X11-unix/X%d" % n):
            return n
    fail("no free X display number")


def stop(proc, timeout=5):
    """Stops a process we started (and its process group), by pid."""
    if proc is None or proc.poll() is not None:
        return
    try:
        os.killpg(proc.pid, signal.SIGTERM)
    except (ProcessLookupError, PermissionError):
        proc.terminate()
    try:
        proc.wait(timeout)
    except subprocess.TimeoutExpired:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            proc.kill()
        proc.wait(timeout)


def spawn(args, env=None, cwd=None, log=None):
    """Starts a process in its own group, output to a file (never a pipe:
    Wine's server inherits pipes and can hang the reader)."""
    out = open(log, "ab") if log else subprocess.DEVNULL
    return subprocess.Popen(args, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                            stdout=out, stderr=subprocess.STDOUT,
                            start_new_session=True)


class Xvfb:
    """A private X server: `with Xvfb() as display:`; or the one the ctest
    fixture started for the whole run (its state file named by
    E2E_XVFB_STATE, written by xvfb_fixture.py)."""

    def __init__(self, size="1600x1000x24"):
        self.size = size
        self.proc = None
        self.display = None

    def __enter__(self):
        state = os.environ.get("E2E_XVFB_STATE")
        if state and os.path.exists(state):
            self.display = open(state).read().split()[0]
            return self.display
        n = free_display()
        self.proc = spawn(["Xvfb", ":%d" % n, "-screen", "0", self.size,
                           "-nolisten", "tcp", "-noreset"])
        self.display = ":%d" % n
        wait_for(lambda: os.path.exists("/tmp/.X11-unix/X%d" % n) or self.proc.poll() is not None,
                 10, "Xvfb on " + self.display)
        if self.proc.poll() is not None:
            fail("Xvfb did not start")
        return self.display

    def __exit__(self, *exc):
        stop(self.proc)


def xdotool(display, *args, timeout=10, check=True):
    env = dict(os.environ, DISPLAY=display)
    try:
        r = subprocess.run(["xdotool"] + list(args), env=env, capture_output=True,
                           text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        fail("xdotool %s timed out" % " ".join(args))
    if check and r.returncode != 0:
        return None
    return r.stdout.strip()


def find_windows(display, title, visible=True):
    """Ids of the windows whose title matches the regular expression."""
    args = ["search"]
    if visible:
        args.append("--onlyvisible")
    args += ["--name", title]
    out = xdotool(display, *args, check=False)
    return [w for w in (out or "").split() if w]


def wait_window(display, title, timeout=20, visible=True):
    return wait_for(lambda: find_windows(display, title, visible), timeout,
                    "a window titled %r" % title)[0]


def window_geometry(display, wid):
    """(x, y, width, height) of a window."""
    out = xdotool(display, "getwindowgeometry", "--shell", wid)
    if not out:
        return None
    vals = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    return int(vals["X"]), int(vals["Y"]), int(vals["WIDTH"]), int(vals["HEIGHT"])


def scratch_dir(prefix="launcher-e2e-"):
    return tempfile.mkdtemp(prefix=prefix)


def copy_exe(src, folder):
    os.makedirs(folder, exist_ok=True)
    dst = os.path.join(folder, os.path.basename(src))
    shutil.copy2(src, dst)
    return dst


def read_ini_value(path, section, key):
    """Reads one value of an INI file as the tests see it (bytes decoded as
    UTF-8 with replacement; names case-insensitive)."""
    if not os.path.exists(path):
        return None
    current = None
    with open(path, "rb") as f:
        for raw in f.read().decode("utf-8", "replace").splitlines():
            line = raw.strip()
            if line.startswith("[") and "]" in line:
                current = line[1:line.rindex("]")].strip().lower()
            elif current == section.lower() and "=" in line:
                k, v = line.split("=", 1)
                if k.strip().lower() == key.lower():
                    return v.strip()
    return None


def screenshot(display, path):
    env = dict(os.environ, DISPLAY=display)
    subprocess.run(["import", "-window", "root", path], env=env, timeout=20,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


# --- the screen seen through libX11 (ctypes) -------------------------------

_c = ctypes


class _XButtonEvent(ctypes.Structure):
    _fields_ = [("type", _c.c_int), ("serial", _c.c_ulong), ("send_event", _c.c_int),
                ("display", _c.c_void_p), ("window", _c.c_ulong), ("root", _c.c_ulong),
                ("subwindow", _c.c_ulong), ("time", _c.c_ulong), ("x", _c.c_int),
                ("y", _c.c_int), ("x_root", _c.c_int), ("y_root", _c.c_int),
                ("state", _c.c_uint), ("button", _c.c_uint), ("same_screen", _c.c_int)]


class _XEvent(ctypes.Union):
    _fields_ = [("type", _c.c_int), ("xbutton", _XButtonEvent), ("pad", _c.c_long * 24)]


class _XImage(ctypes.Structure):
    _fields_ = [("width", _c.c_int), ("height", _c.c_int), ("xoffset", _c.c_int),
                ("format", _c.c_int), ("data", _c.c_void_p), ("byte_order", _c.c_int),
                ("bitmap_unit", _c.c_int), ("bitmap_bit_order", _c.c_int),
                ("bitmap_pad", _c.c_int), ("depth", _c.c_int), ("bytes_per_line", _c.c_int),
                ("bits_per_pixel", _c.c_int)]


def _libx11():
    x = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    vp, ul, i = ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int
    for name, res, args in (
            ("XOpenDisplay", vp, [ctypes.c_char_p]), ("XCloseDisplay", i, [vp]),
            ("XDefaultRootWindow", ul, [vp]), ("XDisplayWidth", i, [vp, i]),
            ("XDisplayHeight", i, [vp, i]),
            ("XCreateSimpleWindow", ul, [vp, ul, i, i, ctypes.c_uint, ctypes.c_uint,
                                         ctypes.c_uint, ul, ul]),
            ("XSelectInput", i, [vp, ul, ctypes.c_long]), ("XMapWindow", i, [vp, ul]),
            ("XLowerWindow", i, [vp, ul]), ("XDestroyWindow", i, [vp, ul]),
            ("XSetWindowBackground", i, [vp, ul, ul]), ("XClearWindow", i, [vp, ul]),
            ("XSync", i, [vp, i]), ("XPending", i, [vp]), ("XNextEvent", i, [vp, vp]),
            ("XInternAtom", ul, [vp, ctypes.c_char_p, i]),
            ("XGetSelectionOwner", ul, [vp, ul]),
            ("XGetImage", ctypes.POINTER(_XImage), [vp, ul, i, i, ctypes.c_uint,
                                                    ctypes.c_uint, ul, i]),
            ("XDestroyImage", i, [ctypes.POINTER(_XImage)])):
        f = getattr(x, name)
        f.restype, f.argtypes = res, args
    return x


class Shot:
    """Pixels of a rectangle of the screen: at(x, y) in screen coordinates
    gives (r, g, b)."""

    def __init__(self, x, y, width, height, data, stride):
        self.x, self.y, self.width, self.height = x, y, width, height
        self.data, self.stride = data, stride

    def at(self, x, y):
        o = (y - self.y) * self.stride + 4 * (x - self.x)
        b, g, r = self.data[o], self.data[o + 1], self.data[o + 2]
        return r, g, b


class Backdrop:
    """A plain full-screen X window of one colour, mapped below everything
    else: it shows behind see-through pixels and counts the button presses
    that pass through them. Also reads the screen (as `import -window root`
    does) and tells whether a compositor runs.

        with Backdrop(display, (255, 0, 255)) as backdrop: ...
    """

    def __init__(self, display, rgb):
        self.display, self.rgb = display, rgb
        self.x11 = _libx11()
        self.dpy = None
        self.window = None

    def __enter__(self):
        x = self.x11
        self.dpy = x.XOpenDisplay(self.display.encode())
        if not self.dpy:
            fail("cannot open display " + self.display)
        self.root = x.XDefaultRootWindow(self.dpy)
        self.size = (x.XDisplayWidth(self.dpy, 0), x.XDisplayHeight(self.dpy, 0))
        self.window = x.XCreateSimpleWindow(self.dpy, self.root, 0, 0, self.size[0],
                                            self.size[1], 0, 0, self._pixel(self.rgb))
        x.XSelectInput(self.dpy, self.window, 1 << 2)  # ButtonPressMask
        x.XMapWindow(self.dpy, self.window)
        x.XLowerWindow(self.dpy, self.window)
        x.XSync(self.dpy, 0)
        wait_for(lambda: self.grab(5, 5, 1, 1).at(5, 5) == self.rgb, 5, "the backdrop on screen")
        return self

    def __exit__(self, *exc):
        if self.dpy:
            if self.window:
                self.x11.XDestroyWindow(self.dpy, self.window)
            self.x11.XSync(self.dpy, 0)
            self.x11.XCloseDisplay(self.dpy)
            self.dpy = None

    @staticmethod
    def _pixel(rgb):
        return (rgb[0] << 16) | (rgb[1] << 8) | rgb[2]

    def set_colour(self, rgb):
        self.rgb = rgb
        self.x11.XSetWindowBackground(self.dpy, self.window, self._pixel(rgb))
        self.x11.XClearWindow(self.dpy, self.window)
        self.x11.XSync(self.dpy, 0)

    def presses(self):
        """(button, x_root, y_root) of every press that reached the backdrop
        since the last call."""
        self.x11.XSync(self.dpy, 0)
        out = []
        ev = _XEvent()
        while self.x11.XPending(self.dpy):
            self.x11.XNextEvent(self.dpy, ctypes.byref(ev))
            if ev.type == 4:  # ButtonPress
                b = ev.xbutton
                out.append((b.button, b.x_root, b.y_root))
        return out

    def grab(self, x, y, width, height):
        img = self.x11.XGetImage(self.dpy, self.root, x, y, width, height, 0xFFFFFFFF, 2)
        if not img:
            fail("cannot read the screen at %d,%d %dx%d" % (x, y, width, height))
        try:
            im = img.contents
            if im.bits_per_pixel != 32:
                fail("the screen has %d bits per pixel" % im.bits_per_pixel)
            data = ctypes.string_at(im.data, im.bytes_per_line * height)
            return Shot(x, y, width, height, data, im.bytes_per_line)
        finally:
            self.x11.XDestroyImage(img)

    def composited(self):
        atom = self.x11.XInternAtom(self.dpy, b"_NET_WM_CM_S0", 0)
        return self.x11.XGetSelectionOwner(self.dpy, atom) != 0


class Compositor:
    """xcompmgr on the display, stopped by pid: windows with alpha blend."""

    def __init__(self, backdrop):
        self.backdrop = backdrop
        self.proc = None

    def __enter__(self):
        env = dict(os.environ, DISPLAY=self.backdrop.display)
        self.proc = spawn(["xcompmgr"], env=env)
        wait_for(lambda: self.backdrop.composited() or self.proc.poll() is not None, 5,
                 "xcompmgr")
        if self.proc.poll() is not None:
            fail("xcompmgr did not start")
        return self

    def __exit__(self, *exc):
        stop(self.proc)
        wait_for(lambda: not self.backdrop.composited(), 5, "xcompmgr to go")
