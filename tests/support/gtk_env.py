"""The Linux launcher under test: a copy in a scratch folder whose path has a
blank and Chinese characters, private HOME and XDG folders, started from
another folder (it must never use the current directory), its windows found
by process id so that nothing else on the display is mistaken for them.

    with GtkLauncher(sys.argv[1]) as run:
        run.write_ini(...)
        run.start(display)
"""
import os
import shutil
import subprocess
import time

import desktop


class GtkLauncher:
    def __init__(self, built_exe, folder_name="启动 器 dir", in_place=False):
        """in_place: run `built_exe` where it stands (an unpacked package)."""
        self.root = desktop.scratch_dir("launcher-gtk-")
        self.folder = os.path.dirname(built_exe) if in_place else os.path.join(self.root, folder_name)
        self.exe = built_exe if in_place else desktop.copy_exe(built_exe, self.folder)
        self.ini = os.path.join(self.folder, "launcher.ini")
        self.cwd = os.path.join(self.root, "elsewhere")
        self.home = os.path.join(self.root, "home")
        self.log = os.path.join(self.root, "launcher.log")
        for d in (self.cwd, self.home):
            os.makedirs(d)
        self.proc = None
        self.display = None
        self.started_at = None

    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc, tb):
        desktop.stop(self.proc)
        if exc_type is not None and os.path.exists(self.log):
            with open(self.log, "rb") as f:
                text = f.read().decode("utf-8", "replace").strip()
            if text:
                print("--- launcher output ---\n" + text, flush=True)
        shutil.rmtree(self.root, ignore_errors=True)

    def env(self, display):
        """A small, fixed environment: nothing of the caller's desktop leaks
        in, and every file a toolkit writes lands in the scratch folder."""
        xdg = {name: os.path.join(self.home, sub) for name, sub in (
            ("XDG_CONFIG_HOME", ".config"), ("XDG_CACHE_HOME", ".cache"),
            ("XDG_DATA_HOME", ".local/share"), ("XDG_STATE_HOME", ".local/state"),
            ("XDG_RUNTIME_DIR", "runtime"))}
        for path in xdg.values():
            os.makedirs(path, mode=0o700, exist_ok=True)
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "DISPLAY": display,
            "HOME": self.home,
            "LANG": "C.UTF-8",
            # No session bus here: keep GTK from looking for the
            # accessibility bus on it.
            "NO_AT_BRIDGE": "1",
            "WEBKIT_DISABLE_COMPOSITING_MODE": "1",
            "GSETTINGS_BACKEND": "memory",  # the file chooser's: dconf needs the session bus
        }
        env.update(xdg)
        return env

    def record_default_browser(self):
        """Makes a recording program the default browser of the launcher's
        scratch desktop (a handler and mimeapps.list under its XDG folders);
        returns the file each opened address is appended to, one a line."""
        log = os.path.join(self.root, "browser.log")
        script = os.path.join(self.root, "browser")
        with open(script, "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s"\n' % log)
        os.chmod(script, 0o755)
        env = self.env(":0")
        apps = os.path.join(env["XDG_DATA_HOME"], "applications")
        os.makedirs(apps, exist_ok=True)
        with open(os.path.join(apps, "recorder.desktop"), "w") as f:
            f.write("[Desktop Entry]\nType=Application\nName=Recorder\n"
                    "Exec=\"%s\" %%u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\n"
                    % script)
        with open(os.path.join(env["XDG_CONFIG_HOME"], "mimeapps.list"), "w") as f:
            f.write("[Default Applications]\nx-scheme-handler/http=recorder.desktop\n"
                    "x-scheme-handler/https=recorder.desktop\n")
        return log

    def write_ini(self, text):
        with open(self.ini, "wb") as f:
            f.write(text.replace("\n", "\r\n").encode("utf-8"))

    def start(self, display, wrap=()):
        """wrap: a command prefix that execs the launcher (same process id)."""
        self.display = display
        self.started_at = time.monotonic()
        self.proc = desktop.spawn(list(wrap) + [self.exe], env=self.env(display), cwd=self.cwd,
                                  log=self.log)

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def wait_exit(self, timeout):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            desktop.fail("the launcher did not end within %.0f s" % timeout)

    # --- its windows ---

    def windows(self, title=None):
        """Ids of this launcher's visible windows (title: a regular
        expression)."""
        args = ["search", "--all", "--onlyvisible", "--pid", str(self.proc.pid)]
        if title is not None:
            args += ["--name", title]
        out = desktop.xdotool(self.display, *args, check=False)
        return [w for w in (out or "").split() if w]

    def wait_window(self, title, timeout=20):
        def found():
            if not self.running():
                desktop.fail("the launcher ended (status %s) before a window titled %r came"
                             % (self.proc.returncode, title))
            return self.windows(title)
        return desktop.wait_for(found, timeout, "a window titled %r" % title)[0]

    def login_window(self):
        """The login window, drawn inside the background window (the face
        is one top-level window): its id is the face's, which takes keys,
        close requests and activation; geometry() gives its own place.
        None while no face shows."""
        face = self.window_of_size(*FACE_SIZE)
        return LoginWindow(face) if face else None

    def window_of_size(self, width, height):
        for w in self.windows():
            g = desktop.window_geometry(self.display, w)
            if g and g[2:] == (width, height):
                return w
        return None

    def geometry(self, wid):
        g = desktop.window_geometry(self.display, wid)
        if g is None:
            desktop.fail("window %s has gone" % wid)
        if isinstance(wid, LoginWindow):
            return (g[0] + LOGIN_AT[0], g[1] + LOGIN_AT[1]) + LOGIN_SIZE
        return g

    def screen_size(self):
        out = desktop.xdotool(self.display, "getdisplaygeometry")
        w, h = out.split()
        return int(w), int(h)

    def key(self, wid, key):
        """Keys reach a GTK window only while it has the focus."""
        if desktop.xdotool(self.display, "windowfocus", "--sync", wid, "key", key) is None:
            desktop.fail("could not send %s to window %s" % (key, wid))

    def drag(self, x, y, dx, dy, button):
        """Presses `button` at (x, y), moves by (dx, dy) and releases."""
        steps = [("mousemove", str(x), str(y)), ("mousedown", str(button)),
                 ("mousemove", str(x + dx // 2), str(y + dy // 2)),
                 ("mousemove", str(x + dx), str(y + dy)), ("mouseup", str(button))]
        for step in steps:
            if desktop.xdotool(self.display, *step) is None:
                desktop.fail("xdotool %s failed" % " ".join(step))
            time.sleep(0.05)


# The face: the background picture's size, and where the login window sits
# in it and its size.
FACE_SIZE, LOGIN_AT, LOGIN_SIZE = (1039, 652), (254, 70), (757, 563)


class LoginWindow(str):
    """The face's window id, standing for the login window inside it."""


def request_close(display, wid):
    """What the close box of a window manager sends: WM_DELETE_WINDOW.
    Through libX11 with ctypes, as the test display has no window manager."""
    import ctypes
    import ctypes.util

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

    x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    dpy = x11.XOpenDisplay(display.encode())
    if not dpy:
        desktop.fail("cannot open display " + display)
    try:
        ev = Event()
        ev.xclient.type = 33  # ClientMessage
        ev.xclient.window = int(wid)
        ev.xclient.message_type = x11.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
        ev.xclient.format = 32
        ev.xclient.data[0] = x11.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
        ev.xclient.data[1] = 0  # CurrentTime
        if not x11.XSendEvent(dpy, int(wid), 0, 0, ctypes.byref(ev)):
            desktop.fail("cannot send the close request to window %s" % wid)
        x11.XFlush(dpy)
    finally:
        x11.XCloseDisplay(dpy)
