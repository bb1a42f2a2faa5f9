#!/usr/bin/env python3
"""The Linux login face on X11 (a private Xvfb, no compositor) and on Wayland
(headless weston), for one launcher or two alternated, after a warm-up round:
medians (min-max) of

  spawn -> face   X11: a pixel of the background picture, watched every 2 ms;
                  Wayland: the commit of the face's first full-size buffer,
                  as the client's protocol log (WAYLAND_DEBUG) stamps it;
                  the compositor shows it at its next repaint
  spawn -> page   the login page's onload asks the loopback server for /loaded
  PSS tree, own   the launcher's process tree and its own process, 1 s after
                  onload, MiB

    python3 tools/bench_face.py [LAUNCHER [OTHER]] [--runs N] [--x11-only]

A launcher built before the face was one window runs on X11 only (it forced
GDK's X11 backend): pass --x11-only, or compare it on Wayland through
XWayland by hand. Not run by CI; stops what it starts by pid.
"""
import argparse
import os
import re
import statistics
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import desktop  # noqa: E402
from bench_gtk import BACK_POINT, BACK_RGB, Screen, StampedServer  # noqa: E402
from gtk_env import FACE_SIZE, GtkLauncher  # noqa: E402
from processes import descendants, memory_kib  # noqa: E402

PAGE = ('<!DOCTYPE html><html><body style="margin: 0; background: #00c000" '
        'onload="new Image().src = \'/loaded\'">login</body></html>')
# WAYLAND_DEBUG stamps each message with the wall clock in microseconds,
# wrapped at 2^32, printed as milliseconds.
STAMP = re.compile(r"^\[ *(\d+)\.(\d{3})\]  -> (wl_\w+@\d+)\.(\w+)\((.*)\)")
SCREEN = (1600, 1000)


def one_start(exe, srv, display=None, weston=None):
    with GtkLauncher(exe) as run:
        run.write_ini("[platform]\nloginUrl=%s\nmainUrl=%s\n[install]\ninstallTime=x\n"
                      % (srv.url("/login.html"), srv.url("/game.html")))
        env = run.env(display or "")
        if weston:
            del env["DISPLAY"]
            env.update(WAYLAND_DISPLAY=weston.socket, WAYLAND_DEBUG="client")
        run.env = lambda _d: env
        r, screen = {}, None
        if display:
            screen = Screen(display)
            screen.watch((SCREEN[0] - FACE_SIZE[0]) // 2 + BACK_POINT[0],
                         (SCREEN[1] - FACE_SIZE[1]) // 2 + BACK_POINT[1], BACK_RGB)
        t0, wall0 = time.monotonic(), int(time.time() * 1e6)
        run.start(display)
        try:
            if screen:
                desktop.wait_for(lambda: screen.seen, 20, "the background picture", interval=0.002)
                r["face"] = (screen.seen - t0) * 1000
            r["page"] = (srv.first("/loaded", t0, 20, run.proc) - t0) * 1000
            if weston:
                r["face"] = (first_face_commit(run.log) - wall0) % 2 ** 32 / 1000
            time.sleep(1)
            r["tree"] = memory_kib(descendants(run.proc.pid), ("Pss",))[0] / 1024
            r["own"] = memory_kib([run.proc.pid], ("Pss",))[0] / 1024
        finally:
            if screen:
                screen.close()
        return r


def first_face_commit(log):
    """The stamp of the first commit of a surface holding a face-sized buffer."""
    buffers, attached = set(), {}
    with open(log, errors="replace") as f:
        for line in f:
            m = STAMP.match(line)
            if not m:
                continue
            stamp, obj, request, args = int(m[1] + m[2]), m[3], m[4], m[5]
            if request == "create_buffer" and ", %d, %d, " % FACE_SIZE in args:
                buffers.add(args.split(",")[0].split()[-1])
            elif request == "attach":
                attached[obj] = args.split(",")[0] in buffers
            elif request == "commit" and attached.get(obj):
                return stamp
    desktop.fail("no face-sized buffer was committed")


def report(title, names, results):
    print("\n" + title)
    for key, label in (("face", "spawn -> face, ms"), ("page", "spawn -> page, ms"),
                       ("tree", "PSS tree, MiB"), ("own", "PSS own process, MiB")):
        cells = []
        for name in names:
            values = [r[key] for r in results[name] if key in r]
            if values:
                cells.append("%8.1f (%.1f-%.1f)" % (statistics.median(values), min(values), max(values)))
        if cells:
            print("  %-24s %s" % (label, "  ".join(cells)))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("launchers", nargs="*",
                        default=[os.path.join(ROOT, "build", "gtk", "launcher")])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--x11-only", action="store_true")
    args = parser.parse_args()
    names = [os.path.abspath(p) for p in args.launchers]
    print("launchers: " + "  |  ".join(names))
    os.environ.pop("E2E_XVFB_STATE", None)
    with StampedServer(pages={"/login.html": PAGE}) as srv:
        with desktop.Xvfb("%dx%dx24" % SCREEN) as display:
            results = {n: [] for n in names}
            for i in range(args.runs + 1):
                for n in names:
                    r = one_start(n, srv, display=display)
                    if i:
                        results[n].append(r)
            report("X11 (Xvfb, no compositor)", names, results)
        if not args.x11_only:
            with desktop.Wayland("weston", size=SCREEN) as weston:
                results = {n: [] for n in names}
                for i in range(args.runs + 1):
                    for n in names:
                        r = one_start(n, srv, weston=weston)
                        if i:
                            results[n].append(r)
                report("Wayland (weston, headless, pixman)", names, results)


if __name__ == "__main__":
    main()
