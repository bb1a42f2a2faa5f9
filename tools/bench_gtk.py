#!/usr/bin/env python3
"""The Linux launcher side by side with the engine's own minimal browser
(MiniBrowser): the same page from the same loopback server on the same
private display, the two programs alternated, a warm-up round skipped, one
table of medians, minima and maxima with the launcher-to-reference ratio.

    python3 tools/bench_gtk.py [build/gtk/launcher] [--runs N] [--download-mib M]

Figures (both programs unless marked):
  spawn -> onload       the page's onload handler asks the server for
                        /loaded: the time from the spawn to that request;
                        first start (a new profile: HOME and XDG folders)
                        and second start (the same profile again, after the
                        first start ended)
  spawn -> background   launcher: a pixel of the background picture on screen
  PSS / RSS             summed over the process tree, 1 s after onload; PSS
                        also split into the program's own process and the
                        engine's page and network processes
  idle CPU              CPU time of the tree (schedstat) over a fixed window
                        (after --idle-settle s), % of a core;
                        over the same window: a bare GTK window with a 10 ms
                        timer (a small C program built at the start) and a
                        bare process waking every 10 ms (the floor)
  hand-over             launcher: click on the game link -> game window mapped,
                        and -> the game page's request on the wire; the same
                        from the link's click handler in the page (just
                        before the navigation the launcher cancels)
  game window PSS/RSS   launcher, 1 s after the game page's onload
  download              launcher's upgrade download vs curl, same file from
                        the same server (a process of its own, sendfile, so
                        that the server is not the bottleneck): MiB/s from the
                        request to the file complete under its name
                        (launcher) or curl's end; RSS growth of the launcher
                        while it downloads
  binary size           the launcher, and launcher.exe when build/win32 has one

Not run by CI. Starts its own Xvfb and servers, stops what it starts by pid.
"""
import argparse
import ctypes
import ctypes.util
import os
import shutil
import signal
import statistics
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
import desktop  # noqa: E402
import processes  # noqa: E402
from processes import descendants  # noqa: E402
from gtk_env import GtkLauncher  # noqa: E402
from test_server import TestServer, head, read_request  # noqa: E402

MINIBROWSER = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser"
MARK = "new Image().src = '/loaded?page=%s';"
# The link's click handler runs in the page just before the navigation that
# the launcher cancels: the hand-over is timed from there, without the time
# the X input takes to reach the page. The handler sends the wall-clock time
# it ran at (the request itself may leave after the game window is up).
CLICK = "new Image().src = '/clicked?at=' + (performance.timeOrigin + performance.now());"
# A process that does nothing but wake every 10 ms: what the machine charges
# for the wake-ups alone, the floor under any 10 ms timer.
SLEEPER = "import time\nwhile True:\n    time.sleep(0.01)\n"
# A bare GTK program with one window and the login window's 10 ms timer, whose
# tick does what the launcher's does once the window is where it should be:
# nothing that reaches the X server. Placed clear of the launcher's windows.
BARE_GTK = r"""
#include <gtk/gtk.h>
static gboolean tick(gpointer window) { (void)window; return G_SOURCE_CONTINUE; }
int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    GtkWidget* w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_decorated(GTK_WINDOW(w), FALSE);
    gtk_window_set_default_size(GTK_WINDOW(w), 200, 150);
    gtk_window_move(GTK_WINDOW(w), 0, 0);
    gtk_widget_show_all(w);
    g_timeout_add(10, tick, w);
    gtk_main();
    return 0;
}
"""
LOGIN_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>登录页面</title>
<style>html, body { margin: 0; background: #00c000; font: 14px sans-serif; }
a { position: absolute; left: 40px; top: 40px; width: 240px; height: 30px;
    display: block; background: #ffff00; color: #000; }</style></head>
<body onload="%s"><a href="game.html?token=abc" onclick="%s">进入游戏</a></body></html>
""" % (MARK % "login", CLICK)
GAME_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>游戏页面</title>
<script>function setClientTypeByVb() { return 1; }</script></head>
<body style="background: #203040" onload="%s">游戏</body></html>
""" % (MARK % "game")
LINK = (160, 55)                      # the link's centre, page pixels
FRAME_CORNER = (55 - 5, 130 - 5)      # the page's origin in the login window
BACK_POINT = (150, 300)               # an opaque pixel of the background picture
BACK_RGB = (56, 5, 7)
PROGRAM_HEAD = b"#!/bin/sh\nexit 0\n"


class StampedServer(TestServer):
    """The test server with the arrival time of every request."""

    def __init__(self, **kw):
        super().__init__(**kw)
        self.stamps = []

    def _log(self, method, target):
        self.stamps.append((time.monotonic(), target, time.time()))
        super()._log(method, target)

    def first(self, prefix, after, timeout, proc=None):
        """Time of the first request for prefix at or after `after`."""
        def seen():
            if proc is not None and proc.poll() is not None:
                desktop.fail("%s ended before requesting %s" % (proc.args[0], prefix))
            for t, target, _ in list(self.stamps):
                if t >= after and target.startswith(prefix):
                    return t
            return None
        return desktop.wait_for(seen, timeout, "a request for " + prefix, interval=0.002)

    def page_clicked(self, after, timeout, proc):
        """When the page's click handler ran, on our monotonic clock: the
        wall-clock time it sent, moved by the request's own delay."""
        arrived = self.first("/clicked", after, timeout, proc)
        target, wall = next((x, w) for t, x, w in self.stamps
                            if t == arrived and x.startswith("/clicked"))
        sent = float(target.split("at=", 1)[1]) / 1000.0
        return arrived - (wall - sent)


def serve_file(path, lifetime):
    """The download's server, run in a process of its own (`--serve-file`):
    in the benchmark's process it would share the interpreter with the
    threads that watch the launcher and slow down with them. Every request
    gets the file, sent by the kernel (sendfile), one connection at a time;
    the arrival of each is printed as CLOCK_MONOTONIC, which every process
    shares. Ends by itself after `lifetime` seconds."""
    import socket
    signal.alarm(int(lifetime))
    size = os.path.getsize(path)
    reply = head(200, size, "application/octet-stream")
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    print(listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        with conn, open(path, "rb") as f:
            if read_request(conn) is None:
                continue
            print("%.6f" % time.monotonic(), flush=True)
            try:
                conn.sendall(reply)
                offset = 0
                while offset < size:
                    sent = os.sendfile(conn.fileno(), f.fileno(), offset, size - offset)
                    if not sent:
                        break
                    offset += sent
            except OSError:
                continue


class FileServer:
    """serve_file() in a child process, with the arrival times it prints."""

    def __init__(self, mib, lifetime):
        self.folder = desktop.scratch_dir("bench-file-")
        path = os.path.join(self.folder, "upgrade.exe")
        with open(path, "wb") as f:
            f.write(PROGRAM_HEAD)
            f.truncate(mib << 20)
        self.proc = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--serve-file",
                                      path, "--lifetime", str(lifetime)],
                                     stdout=subprocess.PIPE, text=True, start_new_session=True)
        self.port = int(self.proc.stdout.readline())
        self.arrivals = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.arrivals.append(float(line))

    def url(self):
        return "http://127.0.0.1:%d/files/upgrade.exe" % self.port

    def first(self, after, timeout):
        return desktop.wait_for(lambda: next((t for t in self.arrivals if t >= after), None),
                                timeout, "the download's request", interval=0.002)

    def close(self):
        desktop.stop(self.proc)
        shutil.rmtree(self.folder, ignore_errors=True)


class Screen:
    """One pixel of the screen and the windows mapped on it, watched from a
    thread through libX11 every 2 ms."""

    class MapEvent(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("event", ctypes.c_ulong), ("window", ctypes.c_ulong),
                    ("override_redirect", ctypes.c_int)]

    class Event(ctypes.Union):
        pass

    Event._fields_ = [("map", MapEvent), ("pad", ctypes.c_long * 24)]

    class Image(ctypes.Structure):
        _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int),
                    ("xoffset", ctypes.c_int), ("format", ctypes.c_int),
                    ("data", ctypes.POINTER(ctypes.c_uint8))]

    def __init__(self, display):
        x = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        x.XPending.argtypes = [ctypes.c_void_p]
        x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        x.XGetImage.restype = ctypes.POINTER(self.Image)
        x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 + \
            [ctypes.c_uint] * 2 + [ctypes.c_ulong, ctypes.c_int]
        x.XFree.argtypes = [ctypes.c_void_p]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.x = x
        self.dpy = x.XOpenDisplay(display.encode())
        if not self.dpy:
            desktop.fail("cannot open display " + display)
        self.root = x.XDefaultRootWindow(self.dpy)
        x.XSelectInput(self.dpy, self.root, 1 << 19)  # SubstructureNotifyMask
        self.maps = []          # (time, window) of each top-level map
        self.point = None
        self.seen = None        # when the pixel first had the wanted colour
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def watch(self, x, y, rgb):
        self.seen = None
        self.point = (x, y, rgb)

    def _pixel(self, x, y):
        img = self.x.XGetImage(self.dpy, self.root, x, y, 1, 1, 0xFFFFFFFF, 2)  # ZPixmap
        if not img:
            return None
        b, g, r = img.contents.data[0], img.contents.data[1], img.contents.data[2]
        self.x.XFree(img.contents.data)
        self.x.XFree(img)
        return r, g, b

    def _run(self):
        ev = self.Event()
        while not self.stopping.is_set():
            now = time.monotonic()
            while self.x.XPending(self.dpy):
                self.x.XNextEvent(self.dpy, ctypes.byref(ev))
                if ev.map.type == 19 and not ev.map.override_redirect:  # MapNotify
                    self.maps.append((now, ev.map.window))
            point = self.point
            if point and self.seen is None:
                rgb = self._pixel(point[0], point[1])
                if rgb and all(abs(a - b) <= 2 for a, b in zip(rgb, point[2])):
                    self.seen = now
            time.sleep(0.002)

    def first_map(self, after, timeout):
        def seen():
            return next((t for t, _ in list(self.maps) if t >= after), None)
        return desktop.wait_for(seen, timeout, "a window mapped", interval=0.002)

    def close(self):
        self.stopping.set()
        self.thread.join(2)
        self.x.XCloseDisplay(self.dpy)


def memory_mib(pid, tree=True):
    """(RSS, PSS) in MiB, summed over the process tree."""
    rss, pss = processes.memory_kib(descendants(pid) if tree else [pid])
    return rss / 1024.0, pss / 1024.0


def tree_memory(pid):
    """RSS and PSS in MiB of the tree, and its PSS split into the program's
    own process and the engine's page and network processes (what the engine
    costs whoever embeds it); each process read once."""
    r = dict.fromkeys(("rss", "pss", "pss_ui", "pss_web", "pss_net"), 0.0)
    for p in descendants(pid):
        name = processes.name(p)
        if name is None:
            continue
        rss, pss = processes.memory_kib([p])
        key = ("pss_web" if name == processes.WEB_PROCESS else
               "pss_net" if name.startswith("WebKitNetwork") else "pss_ui")
        r["rss"] += rss / 1024.0
        r["pss"] += pss / 1024.0
        r[key] += pss / 1024.0
    return r


def cpu_ns(pids):
    """Time on a CPU of every thread of the processes, in ns (the scheduler's
    own account: exact, where utime and stime are sampled at the clock tick,
    which a 10 ms timer can fall in step with)."""
    total = 0
    for p in pids:
        try:
            tasks = os.listdir("/proc/%d/task" % p)
        except OSError:
            continue
        for t in tasks:
            try:
                with open("/proc/%d/task/%s/schedstat" % (p, t)) as f:
                    total += int(f.read().split()[0])
            except (OSError, IndexError, ValueError):
                continue
    return total


def idle_cpu(pid, seconds, *others):
    """% of one core the process tree used over `seconds`; with `others`,
    a list: the same for each of them over the same window of time."""
    trees = [descendants(p) for p in (pid,) + others]
    before, t0 = [cpu_ns(t) for t in trees], time.monotonic()
    time.sleep(seconds)
    elapsed = time.monotonic() - t0
    used = [100.0 * (cpu_ns(t) - b) / 1e9 / elapsed for t, b in zip(trees, before)]
    return used if others else used[0]


def stop_tree(proc):
    """Stops a program started by desktop.spawn and waits (bounded) until
    every process of its group has gone: the next start must not meet the
    engine's processes of the last one."""
    desktop.stop(proc)
    if proc is None:
        return

    def gone():
        try:
            os.killpg(proc.pid, 0)
        except ProcessLookupError:
            return True
        except PermissionError:
            return False
        return False
    deadline = time.monotonic() + 10
    while not gone():
        if time.monotonic() > deadline:
            os.killpg(proc.pid, signal.SIGKILL)
            break
        time.sleep(0.02)


def add_quiet_options(parser):
    parser.add_argument("--quiet-load", type=float, default=0.0,
                        help="first wait until the 1-minute load average stays under this "
                             "(0: do not wait)")
    parser.add_argument("--quiet-minutes", type=float, default=3.0,
                        help="for this long (and give up after ten times as long)")
    parser.add_argument("--nice", type=int, default=None,
                        help="run the measured programs (both) and the bench's server at this "
                             "niceness: on a machine busy with other work, a negative one (root "
                             "only) gives them the CPU first")


def niced(args, argv):
    """argv run at the niceness asked for (absolute, whatever the bench's own)."""
    if getattr(args, "nice", None) is None:
        return argv
    return ["nice", "-n", str(args.nice - os.getpriority(os.PRIO_PROCESS, 0))] + argv


def set_own_niceness(args):
    """The bench's own process (its server threads) at the niceness asked for."""
    if getattr(args, "nice", None) is not None:
        os.setpriority(os.PRIO_PROCESS, 0, args.nice)


def wait_for_quiet(limit, minutes):
    """Waits (bounded) for the machine to be quiet: wall-clock figures taken
    under load say little. Returns the 1-minute load average at the end."""
    if limit <= 0:
        return os.getloadavg()[0]
    give_up = time.monotonic() + 10 * 60 * minutes
    quiet_since = None
    while time.monotonic() < give_up:
        load = os.getloadavg()[0]
        if load >= limit:
            quiet_since = None
        elif quiet_since is None:
            quiet_since = time.monotonic()
        elif time.monotonic() - quiet_since >= 60 * minutes:
            return load
        time.sleep(5)
    load = os.getloadavg()[0]
    print("the machine never got quiet (load %.2f): figures taken under load" % load,
          file=sys.stderr, flush=True)
    return load


def build_c_program(source, exe, packages):
    """source built with the C compiler and the flags of pkg-config's packages."""
    flags = subprocess.run(["pkg-config", "--cflags", "--libs"] + packages,
                           capture_output=True, text=True, check=True).stdout.split()
    subprocess.run(["cc", "-O2", "-o", exe, source] + flags, check=True)


class BareGtk:
    """BARE_GTK built with the C compiler and GTK's flags, run on the
    display: `with BareGtk(display, env) as proc:`."""

    def __init__(self, display):
        self.folder = desktop.scratch_dir("bench-bare-")
        runtime = os.path.join(self.folder, "runtime")
        os.makedirs(runtime, mode=0o700)
        # The launcher's own scratch environment (tests/support/gtk_env.py).
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "DISPLAY": display,
                    "HOME": self.folder, "LANG": "C.UTF-8", "NO_AT_BRIDGE": "1",
                    "XDG_RUNTIME_DIR": runtime, "GSETTINGS_BACKEND": "memory"}
        self.proc = None
        source = os.path.join(self.folder, "bare.c")
        self.exe = os.path.join(self.folder, "bare")
        with open(source, "w") as f:
            f.write(BARE_GTK)
        build_c_program(source, self.exe, ["gtk+-3.0"])

    def __enter__(self):
        self.proc = desktop.spawn([self.exe], env=self.env, cwd=self.folder)
        time.sleep(1.0)  # its start-up is not idle time
        if self.proc.poll() is not None:
            desktop.fail("the bare GTK program ended at once")
        return self.proc

    def __exit__(self, *exc):
        stop_tree(self.proc)
        shutil.rmtree(self.folder, ignore_errors=True)


class Bench:
    def __init__(self, args, display, srv, files=None, idle_peers=()):
        self.args, self.display, self.srv, self.files = args, display, srv, files
        # Processes whose CPU is read over the same window as the idle face's.
        self.idle_peers = tuple(idle_peers)
        self.screen = Screen(display)
        w, h = (int(v) for v in desktop.xdotool(display, "getdisplaygeometry").split())
        self.back_corner = ((w - 1039) // 2, (h - 652) // 2)

    def env(self, run):
        env = run.env(self.display)
        # Both programs as a user starts them: each picks its own compositing.
        env.pop("WEBKIT_DISABLE_COMPOSITING_MODE", None)
        return env

    def ini(self, run, version_check=""):
        update = self.files.url() if self.files else self.srv.url("/files/upgrade.exe")
        run.write_ini("[common]\nversion=1.0\nversionCheckUrl=%s\nversionUpdateUrl=%s\n"
                      "[platform]\nloginUrl=%s\nmainUrl=%s\n[install]\ninstallTime=x\n"
                      % (version_check or self.srv.url("/version/1.0"), update,
                         self.srv.url("/login.html"), self.srv.url("/game.html")))

    def spawn(self, run, argv):
        run.display = self.display
        run.started_at = time.monotonic()
        run.proc = desktop.spawn(niced(self.args, argv), env=self.env(run), cwd=run.cwd,
                                 log=run.log)
        return run.started_at

    def launcher(self):
        r = {}
        with GtkLauncher(self.args.launcher) as run:
            self.ini(run)
            bx, by = self.back_corner
            self.screen.watch(bx + BACK_POINT[0], by + BACK_POINT[1], BACK_RGB)
            t0 = self.spawn(run, [run.exe])
            loaded = self.srv.first("/loaded?page=login", t0, 20, run.proc)
            r["onload"] = (loaded - t0) * 1000
            desktop.wait_for(lambda: self.screen.seen, 10, "the background picture")
            r["background"] = (self.screen.seen - t0) * 1000
            time.sleep(1.0)
            r.update(tree_memory(run.proc.pid))
            r.update(self.idle(run.proc.pid))

            login = desktop.wait_for(lambda: run.login_window(), 10, "the login window")
            lx, ly = run.geometry(login)[:2]
            x, y = lx + FRAME_CORNER[0] + LINK[0], ly + FRAME_CORNER[1] + LINK[1]
            desktop.xdotool(self.display, "mousemove", str(x), str(y))
            time.sleep(0.2)
            clicked = time.monotonic()
            desktop.xdotool(self.display, "click", "1")
            mapped = self.screen.first_map(clicked, 10)
            requested = self.srv.first("/game.html", clicked, 10, run.proc)
            in_page = self.srv.page_clicked(clicked, 10, run.proc)
            r["handover_map"] = (mapped - clicked) * 1000
            r["handover_request"] = (requested - clicked) * 1000
            r["page_map"] = (mapped - in_page) * 1000
            r["page_request"] = (requested - in_page) * 1000
            self.srv.first("/loaded?page=game", clicked, 20, run.proc)
            time.sleep(1.0)
            r["game_rss"], r["game_pss"] = memory_mib(run.proc.pid)
            r.update(self.second_start(run, [run.exe], background=True))
        return r

    def minibrowser(self):
        r = {}
        with GtkLauncher(MINIBROWSER) as run:
            argv = [run.exe, self.srv.url("/login.html")]
            t0 = self.spawn(run, argv)
            loaded = self.srv.first("/loaded?page=login", t0, 20, run.proc)
            r["onload"] = (loaded - t0) * 1000
            time.sleep(1.0)
            r.update(tree_memory(run.proc.pid))
            r.update(self.idle(run.proc.pid))
            r.update(self.second_start(run, argv))
        return r

    def idle(self, pid):
        """Idle CPU of the tree and, over the same window, of the peers,
        once the page's own work after its load has died down."""
        time.sleep(self.args.idle_settle)
        used = idle_cpu(pid, self.args.idle_seconds, *self.idle_peers)
        return dict(zip(("cpu", "bare", "floor"), used))

    def second_start(self, run, argv, background=False):
        """The program ended (as a player's session ends, its profile as that
        session left it) and started again with the same profile and
        folder: spawn -> login page onload (and for the launcher, ->
        background picture on screen)."""
        stop_tree(run.proc)
        time.sleep(0.5)
        if background:
            bx, by = self.back_corner
            self.screen.watch(bx + BACK_POINT[0], by + BACK_POINT[1], BACK_RGB)
        t0 = self.spawn(run, argv)
        loaded = self.srv.first("/loaded?page=login", t0, 20, run.proc)
        r = {"onload2": (loaded - t0) * 1000}
        if background:
            desktop.wait_for(lambda: self.screen.seen, 10, "the background picture")
            r["background2"] = (self.screen.seen - t0) * 1000
        stop_tree(run.proc)
        return r

    def download_launcher(self):
        with GtkLauncher(self.args.launcher) as run:
            self.ini(run, self.srv.url("/version/2.0"))
            self.spawn(run, [run.exe])
            offer = run.wait_window("^升级提示$", 20)
            time.sleep(0.3)
            before = memory_mib(run.proc.pid, tree=False)[0]
            peak = [before]
            program = os.path.join(run.folder, "update", "upgrade.exe")

            def sample():
                while run.proc.poll() is None:
                    peak[0] = max(peak[0], memory_mib(run.proc.pid, tree=False)[0])
                    time.sleep(0.02)
            sampler = threading.Thread(target=sample, daemon=True)
            sampler.start()
            pressed = time.monotonic()
            run.key(offer, "Return")
            asked = self.files.first(pressed, 10)
            run.wait_exit(120)
            sampler.join(2)
            if not os.path.exists(program):
                desktop.fail("the launcher ended without the upgrade program")
            # The program gets its name once all of it is written and flushed:
            # the rename sets its change time, the download's end (without the
            # launcher's own end; nothing polls the disk meanwhile, which
            # would slow the server on this process's other threads).
            complete = os.stat(program).st_ctime - (time.time() - time.monotonic())
            return self.args.download_mib / (complete - asked), peak[0] - before

    def download_curl(self):
        target = os.path.join(desktop.scratch_dir("bench-curl-"), "upgrade.exe")
        try:
            t0 = time.monotonic()
            subprocess.run(["curl", "-sf", "-o", target, self.files.url()],
                           check=True, timeout=120)
            done = time.monotonic()
            asked = self.files.first(t0, 1)
            return self.args.download_mib / (done - asked)
        finally:
            shutil.rmtree(os.path.dirname(target), ignore_errors=True)


ROWS = [  # key, label, unit, compared with the reference
    ("onload", "first start: spawn -> onload", "ms", True),
    ("onload2", "second start: spawn -> onload", "ms", True),
    ("gain2", "  second / first start", "x", True),
    ("background", "spawn -> background on screen", "ms", False),
    ("background2", "  the same, second start", "ms", False),
    ("pss", "login face PSS (tree)", "MiB", True),
    ("pss_ui", "  of it: the program's process", "MiB", True),
    ("pss_web", "  the page process", "MiB", True),
    ("pss_net", "  the network process", "MiB", True),
    ("rss", "login face RSS (tree)", "MiB", True),
    ("cpu", "idle CPU (tree)", "%", True),
    ("bare", "  a bare GTK window, 10 ms timer", "%", True),
    ("per_bare", "  idle CPU / bare GTK window", "x", True),
    ("floor", "  a bare 10 ms sleeper", "%", True),
    ("handover_map", "click -> game window mapped", "ms", False),
    ("handover_request", "click -> game page requested", "ms", False),
    ("page_map", "page click -> game mapped", "ms", False),
    ("page_request", "page click -> game requested", "ms", False),
    ("game_pss", "game window PSS (tree)", "MiB", False),
    ("game_rss", "game window RSS (tree)", "MiB", False),
    ("download", "upgrade download", "MiB/s", True),
    ("download_rss", "RSS growth while downloading", "MiB", False),
]


def fmt(values):
    if not values:
        return "%26s" % "-"
    return "%8.1f %8.1f %8.1f" % (statistics.median(values), min(values), max(values))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("launcher", nargs="?", default=os.path.join(ROOT, "build", "gtk", "launcher"))
    parser.add_argument("--runs", type=int, default=5, help="measured rounds (after one warm-up)")
    parser.add_argument("--idle-seconds", type=float, default=5.0)
    parser.add_argument("--idle-settle", type=float, default=5.0,
                        help="seconds between the memory reading and the idle window: the page "
                             "process has work of its own for a few seconds after the load")
    parser.add_argument("--download-mib", type=int, default=500, help="0: no download figures")
    parser.add_argument("--download-only", action="store_true", help="only the download figures")
    add_quiet_options(parser)
    parser.add_argument("--serve-file", help=argparse.SUPPRESS)
    parser.add_argument("--lifetime", type=float, default=600, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.serve_file:
        return serve_file(args.serve_file, args.lifetime)
    args.launcher = os.path.abspath(args.launcher)
    for exe in (args.launcher, MINIBROWSER):
        if not os.access(exe, os.X_OK):
            desktop.fail("no program at %s (build the gtk preset; libwebkit2gtk-4.1-0)" % exe)

    ours = {k: [] for k, *_ in ROWS}
    ref = {k: [] for k, *_ in ROWS}
    load_before = wait_for_quiet(args.quiet_load, args.quiet_minutes)
    set_own_niceness(args)
    lifetime = 120 + args.runs * (90 + 2 * (args.idle_seconds + args.idle_settle))
    with desktop.Xvfb() as display, StampedServer(lifetime=lifetime) as srv, \
            BareGtk(display) as bare:
        srv.pages.update({"/login.html": LOGIN_PAGE.encode(), "/game.html": GAME_PAGE.encode()})
        files = FileServer(args.download_mib, lifetime) if args.download_mib else None
        sleeper = subprocess.Popen([sys.executable, "-c", SLEEPER], start_new_session=True)
        bench = Bench(args, display, srv, files, idle_peers=(bare.pid, sleeper.pid))
        try:
            for round_ in range(args.runs + 1):
                # Alternate who goes first, so neither always meets a warm cache.
                order = [] if args.download_only else [bench.launcher, bench.minibrowser]
                if round_ % 2:
                    order.reverse()
                results = {f: f() for f in order}
                for r in results.values():
                    r["gain2"] = r["onload2"] / r["onload"]
                    r["per_bare"] = r["cpu"] / r["bare"] if r["bare"] else 0.0
                if args.download_mib:
                    dl = [bench.download_launcher, bench.download_curl]
                    if round_ % 2:
                        dl.reverse()
                    for f in dl:
                        results[f] = f()
                print("%s done" % ("warm-up" if round_ == 0 else "round %d" % round_),
                      file=sys.stderr, flush=True)
                if round_ == 0:
                    continue
                for k, v in results.get(bench.launcher, {}).items():
                    ours[k].append(v)
                for k, v in results.get(bench.minibrowser, {}).items():
                    ref[k].append(v)
                if args.download_mib:
                    speed, growth = results[bench.download_launcher]
                    ours["download"].append(speed)
                    ours["download_rss"].append(growth)
                    ref["download"].append(results[bench.download_curl])
        finally:
            bench.screen.close()
            desktop.stop(sleeper)
            if files:
                files.close()

    print("\n%d rounds after a warm-up; launcher %s (%d bytes); reference: MiniBrowser, "
          "curl for the download" % (args.runs, args.launcher, os.path.getsize(args.launcher)))
    print("load average (1 min) before: %.2f, after: %.2f%s" % (
        load_before, os.getloadavg()[0], "" if args.nice is None else "; niceness %d" % args.nice))
    print("%-32s %-6s %-26s %-26s %s" % ("figure", "unit", "launcher med/min/max",
                                          "reference med/min/max", "ratio"))
    for key, label, unit, compared in ROWS:
        ratio = "-"
        if compared and ours[key] and ref[key] and statistics.median(ref[key]):
            ratio = "%.2f" % (statistics.median(ours[key]) / statistics.median(ref[key]))
        print("%-32s %-6s %s   %s   %s" % (label, unit, fmt(ours[key]),
                                           fmt(ref[key]) if compared else "%26s" % "-", ratio))
    exe = os.path.join(os.path.dirname(os.path.dirname(args.launcher)), "win32", "launcher.exe")
    if os.path.exists(exe):
        print("%-32s %-6s %8d" % ("launcher.exe size", "bytes", os.path.getsize(exe)))


if __name__ == "__main__":
    main()
