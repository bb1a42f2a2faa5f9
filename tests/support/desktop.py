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


class Wayland:
    """A headless Wayland compositor with its own runtime folder and session bus: weston (a plain grey desktop,
    XWayland when asked) or mutter, GNOME's compositor. `with Wayland("weston") as w:`; w.socket is the socket's
    path (a client's WAYLAND_DISPLAY), w.display XWayland's X display or None, w.screenshot() the whole output as a
    Picture (weston only). Neither gives synthetic input (and pointer events crash weston's XWayland): drive the
    programs through the accessibility interface."""

    GREY = (128, 128, 128)

    def __init__(self, compositor, xwayland=False, size=(1600, 1000)):
        self.compositor, self.xwayland, self.size, self.procs, self.display = compositor, xwayland, size, [], None

    def __enter__(self):
        self.dir = tempfile.mkdtemp(prefix="launcher-wayland-")
        bus, log, name = "unix:path=" + os.path.join(self.dir, "bus"), os.path.join(self.dir, "log"), "wayland-launcher"
        env = dict(os.environ, XDG_RUNTIME_DIR=self.dir, DBUS_SESSION_BUS_ADDRESS=bus)
        env.pop("DISPLAY", None)
        self.procs.append(spawn(["dbus-daemon", "--session", "--nofork", "--address=" + bus]))
        if self.compositor == "weston":
            with open(os.path.join(self.dir, "weston.ini"), "w") as f:
                f.write("[core]\nidle-time=0\n[shell]\npanel-position=none\nbackground-color=0xff808080\n")
            args = ["weston", "--backend=headless-backend.so", "--socket=" + name, "--use-pixman", "--debug",
                    "--width=%d" % self.size[0], "--height=%d" % self.size[1],
                    "--config=" + os.path.join(self.dir, "weston.ini")] + (["--xwayland"] if self.xwayland else [])
        else:
            args = ["mutter", "--headless", "--wayland", "--no-x11", "--wayland-display=" + name,
                    "--virtual-monitor", "%dx%d" % self.size]
        self.socket = os.path.join(self.dir, name)
        self.procs.append(spawn(args, env=env, log=log))
        wait_for(lambda: os.path.exists(self.socket) or self.procs[-1].poll() is not None, 10, args[0])
        if self.procs[-1].poll() is not None:
            fail("%s did not start:\n%s" % (args[0], open(log, errors="replace").read()[-2000:]))
        if self.xwayland:
            def listening():
                text = open(log, errors="replace").read()
                i = text.find("listening on display ")
                return text[i + 21:].split()[0] if i >= 0 else None
            self.display = wait_for(listening, 10, "XWayland's display")
        return self

    def __exit__(self, *exc):
        for p in reversed(self.procs):
            stop(p)
        shutil.rmtree(self.dir, ignore_errors=True)

    def screenshot(self):
        shots = lambda: [f for f in os.listdir(self.dir) if f.startswith("wayland-screenshot")]  # noqa: E731
        for f in shots():
            os.remove(os.path.join(self.dir, f))
        try:
            subprocess.run(["weston-screenshooter"], cwd=self.dir, timeout=20, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL,
                           env=dict(os.environ, XDG_RUNTIME_DIR=self.dir, WAYLAND_DISPLAY=self.socket))
        except subprocess.TimeoutExpired:
            fail("weston-screenshooter timed out")
        return Picture(os.path.join(self.dir, wait_for(shots, 5, "weston's screenshot")[0]))


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
    UTF-8 with replacement, or as UTF-16 after its byte order mark; names
    case-insensitive)."""
    if not os.path.exists(path):
        return None
    current = None
    with open(path, "rb") as f:
        data = f.read()
        utf16 = data[:2] in (b"\xff\xfe", b"\xfe\xff")
        for raw in data.decode("utf-16" if utf16 else "utf-8", "replace").splitlines():
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



class Picture:
    """Pixels as 8-bit RGB(A) through ImageMagick: a picture file, or the
    whole screen of `display` (`import -window root`)."""

    def __init__(self, path=None, display=None):
        mode = "rgb" if display else "rgba"
        args = ["import", "-window", "root"] if display else ["convert", path]
        try:
            self.data = subprocess.run(args + ["-depth", "8", mode + ":-"], capture_output=True,
                                       timeout=20, env=dict(os.environ, DISPLAY=display or "")
                                       ).stdout
        except subprocess.TimeoutExpired:
            fail("%s timed out" % args[0])
        size = xdotool(display, "getdisplaygeometry") if display else subprocess.run(
            ["identify", "-format", "%w %h", path], capture_output=True, text=True,
            timeout=20).stdout
        self.width, self.height = (int(v) for v in size.split())
        self.step = len(mode)
        if len(self.data) != self.width * self.height * self.step:
            fail("could not read the pixels of %s" % (path or "the screen"))

    def pixel(self, x, y):
        i = self.step * (y * self.width + x)
        return tuple(self.data[i:i + self.step])


def pointer_window(display, x, y):
    """The X window a press at (x, y) reaches (input shapes included)."""
    # Not --sync: it waits for ever when the pointer is there already.
    xdotool(display, "mousemove", str(x), str(y))

    def there():
        out = xdotool(display, "getmouselocation", "--shell") or ""
        v = dict(kv.split("=", 1) for kv in out.splitlines() if "=" in kv)
        return v if (v.get("X"), v.get("Y")) == (str(x), str(y)) else None
    return wait_for(there, 5, "the pointer at %d,%d" % (x, y))["WINDOW"]



# --- a known colour behind the launcher ------------------------------------

class Shot:
    """Pixels of a rectangle of the screen (`import`, 8 bits a channel):
    at(x, y) in screen coordinates gives (r, g, b)."""

    def __init__(self, display, x, y, width, height):
        env = dict(os.environ, DISPLAY=display)
        r = subprocess.run(["import", "-window", "root", "-depth", "8", "-crop",
                            "%dx%d+%d+%d" % (width, height, x, y), "rgb:-"],
                           env=env, capture_output=True, timeout=20)
        if r.returncode != 0 or len(r.stdout) != 3 * width * height:
            fail("cannot read the screen at %d,%d %dx%d" % (x, y, width, height))
        self.x, self.y, self.width, self.data = x, y, width, r.stdout

    def at(self, x, y):
        o = 3 * ((y - self.y) * self.width + x - self.x)
        return tuple(self.data[o:o + 3])


class Backdrop:
    """A plain full-screen X window of one colour (libX11 through ctypes),
    mapped below everything else: it shows behind see-through pixels and
    takes the presses that pass through them (`xdotool getmouselocation`
    names it).

        with Backdrop(display, (255, 0, 255)) as backdrop: ..."""

    def __init__(self, display, rgb):
        self.display, self.rgb = display, rgb
        x = self.x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        vp, ul, i, u = ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_uint
        for name, res, args in (
                ("XOpenDisplay", vp, [ctypes.c_char_p]), ("XDefaultRootWindow", ul, [vp]),
                ("XDisplayWidth", i, [vp, i]), ("XDisplayHeight", i, [vp, i]),
                ("XCreateSimpleWindow", ul, [vp, ul, i, i, u, u, u, ul, ul]),
                ("XMapWindow", i, [vp, ul]), ("XLowerWindow", i, [vp, ul]),
                ("XSetWindowBackground", i, [vp, ul, ul]), ("XClearWindow", i, [vp, ul]),
                ("XDestroyWindow", i, [vp, ul]), ("XSync", i, [vp, i]),
                ("XCloseDisplay", i, [vp])):
            getattr(x, name).restype, getattr(x, name).argtypes = res, args

    def __enter__(self):
        x = self.x11
        self.dpy = x.XOpenDisplay(self.display.encode())
        if not self.dpy:
            fail("cannot open display " + self.display)
        self.size = (x.XDisplayWidth(self.dpy, 0), x.XDisplayHeight(self.dpy, 0))
        self.window = x.XCreateSimpleWindow(self.dpy, x.XDefaultRootWindow(self.dpy), 0, 0,
                                            self.size[0], self.size[1], 0, 0, 0)
        x.XMapWindow(self.dpy, self.window)
        x.XLowerWindow(self.dpy, self.window)
        self.set_colour(self.rgb)
        return self

    def __exit__(self, *exc):
        self.x11.XDestroyWindow(self.dpy, self.window)
        self.x11.XSync(self.dpy, 0)
        self.x11.XCloseDisplay(self.dpy)

    def set_colour(self, rgb):
        """Waits until the screen's corner shows it (a compositor paints
        late)."""
        self.rgb = rgb
        pixel = (rgb[0] << 16) | (rgb[1] << 8) | rgb[2]
        self.x11.XSetWindowBackground(self.dpy, self.window, pixel)
        self.x11.XClearWindow(self.dpy, self.window)
        self.x11.XSync(self.dpy, 0)
        wait_for(lambda: Shot(self.display, 0, 0, 1, 1).at(0, 0) == rgb, 5, "the backdrop's colour")

    def takes_press_at(self, x, y):
        out = xdotool(self.display, "mousemove", str(x), str(y), "getmouselocation", "--shell")
        return "WINDOW=%d" % self.window in (out or "").split()


class Compositor:
    """xcompmgr on the display, stopped by pid: windows with alpha blend."""

    def __init__(self, display):
        self.display, self.proc = display, None

    def running(self):
        return bool(find_windows(self.display, "^xcompmgr$", visible=False))

    def __enter__(self):
        self.proc = spawn(["xcompmgr"], env=dict(os.environ, DISPLAY=self.display))
        wait_for(lambda: self.running() or self.proc.poll() is not None, 5, "xcompmgr")
        if self.proc.poll() is not None:
            fail("xcompmgr did not start")
        return self

    def __exit__(self, *exc):
        stop(self.proc)
        wait_for(lambda: not self.running(), 5, "xcompmgr to go")
