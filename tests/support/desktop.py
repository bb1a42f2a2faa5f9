"""Shared pieces of the end-to-end tests: a private X display, windows found
by title, keys sent to them, and processes that are always stopped.

Every wait is bounded. Everything started here binds to loopback or to a
display number of its own and is stopped by process id.
"""
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


class Screen:
    """One read of the whole screen: `Screen(display).pixel(x, y)` is
    (r, g, b). ImageMagick's `import` at 8 bits a channel."""

    def __init__(self, display):
        env = dict(os.environ, DISPLAY=display)
        try:
            data = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"], env=env,
                                  capture_output=True, timeout=20).stdout
        except subprocess.TimeoutExpired:
            fail("the screen read timed out")
        # P6 <w> <h> <max> then the raw bytes.
        fields, pos = [], 0
        while len(fields) < 4:
            while data[pos:pos + 1].isspace():
                pos += 1
            end = pos
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[pos:end])
            pos = end
        if fields[0] != b"P6":
            fail("the screen read gave no PPM")
        self.width, self.height = int(fields[1]), int(fields[2])
        self.data = data[pos + 1:]

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.data[i:i + 3])


def pointer_window(display, x, y):
    """The X window a press at (x, y) reaches (input shapes included)."""
    # Not --sync: it waits for a motion that never comes when the pointer is
    # there already.
    xdotool(display, "mousemove", str(x), str(y))

    def where():
        out = xdotool(display, "getmouselocation", "--shell") or ""
        vals = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        return vals if (vals.get("X"), vals.get("Y")) == (str(x), str(y)) else None
    return wait_for(where, 5, "the pointer at %d,%d" % (x, y))["WINDOW"]


def start_backdrop(display, rgb):
    """A plain window of one colour over the whole screen, mapped now and
    kept below everything mapped later: what shows (and takes the press)
    behind transparent pixels. Returns (process, its X window id)."""
    proc = spawn([sys.executable, os.path.abspath(__file__), "backdrop", display,
                  "%02x%02x%02x" % rgb])
    wid = wait_for(lambda: find_windows(display, "^e2e-backdrop$") or proc.poll() is not None,
                   10, "the backdrop window")
    if proc.poll() is not None:
        fail("the backdrop did not start")
    return proc, wid[0]


def _backdrop(display, colour):
    import ctypes
    import ctypes.util
    x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XCreateSimpleWindow.restype = ctypes.c_ulong
    x11.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                                        ctypes.c_int, ctypes.c_uint, ctypes.c_uint,
                                        ctypes.c_uint, ctypes.c_ulong, ctypes.c_ulong]
    for name in ("XMapWindow", "XStoreName", "XSelectInput"):
        getattr(x11, name).argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                       ctypes.c_char_p if name == "XStoreName" else ctypes.c_long]
    x11.XMapWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    dpy = x11.XOpenDisplay(display.encode())
    if not dpy:
        fail("cannot open display " + display)
    pixel = int(colour, 16)
    win = x11.XCreateSimpleWindow(dpy, x11.XDefaultRootWindow(dpy), 0, 0, 4000, 4000, 0,
                                  pixel, pixel)
    # Presses reach it like any client window that asked for them.
    x11.XSelectInput(dpy, win, (1 << 2) | (1 << 3))
    x11.XStoreName(dpy, win, b"e2e-backdrop")
    x11.XMapWindow(dpy, win)
    x11.XFlush(dpy)
    while True:
        time.sleep(3600)


def read_png(path):
    """(width, height, rows of (r, g, b, a)) of an 8-bit, non-interlaced PNG
    (palette with tRNS, RGB or RGBA): the tests compare the screen with the
    picture the program shows."""
    import struct
    import zlib
    data = open(path, "rb").read()
    pos, chunks = 8, {}
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        chunks.setdefault(kind, b"")
        chunks[kind] += data[pos + 8:pos + 8 + n]
        pos += 12 + n
    w, h, depth, ctype, _, _, interlace = struct.unpack(">IIBBBBB", chunks[b"IHDR"])
    if depth != 8 or interlace or ctype not in (2, 3, 6):
        fail("%s: a PNG kind the tests do not read" % path)
    bpp = {2: 3, 3: 1, 6: 4}[ctype]
    raw, stride, prev, rows = zlib.decompress(chunks[b"IDAT"]), w * bpp, bytearray(w * bpp), []
    for y in range(h):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        prev = line
        if ctype == 3:
            pal, trns = chunks[b"PLTE"], chunks.get(b"tRNS", b"")
            rows.append([tuple(pal[3 * i:3 * i + 3]) + (trns[i] if i < len(trns) else 255,)
                         for i in line])
        else:
            rows.append([tuple(line[i:i + bpp]) + ((255,) if bpp == 3 else ())
                         for i in range(0, stride, bpp)])
    return w, h, rows


if __name__ == "__main__" and len(sys.argv) == 4 and sys.argv[1] == "backdrop":
    _backdrop(sys.argv[2], sys.argv[3])
