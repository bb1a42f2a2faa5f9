#!/usr/bin/env python3
"""The Linux login face on Wayland (headless weston), for one launcher or
several alternated, after a warm-up round: medians (min-max) of

  spawn -> face   the commit of the face's first full-size buffer, as the
                  client's protocol log (WAYLAND_DEBUG) stamps it; the
                  compositor shows it at its next repaint
  spawn -> page   the login page's onload asks the loopback server for /loaded
  PSS tree, own   the launcher's process tree and its own process, 1 s after
                  onload, MiB

    python3 tools/bench_face.py [LAUNCHER...] [--runs N]

The same on X11, against the engine's floor: tools/bench_start.py. Not run
by CI; stops what it starts by pid.
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
from bench_gtk import StampedServer  # noqa: E402
from gtk_env import FACE_SIZE, GtkLauncher  # noqa: E402
from processes import descendants, memory_kib  # noqa: E402

PAGE = ('<!DOCTYPE html><html><body style="margin: 0; background: #00c000" '
        'onload="new Image().src = \'/loaded\'">login</body></html>')
# WAYLAND_DEBUG stamps each message with the wall clock in microseconds,
# wrapped at 2^32, printed as milliseconds.
STAMP = re.compile(r"^\[ *(\d+)\.(\d{3})\]  -> (wl_\w+@\d+)\.(\w+)\((.*)\)")
SCREEN = (1600, 1000)


def one_start(exe, srv, weston):
    with GtkLauncher(exe) as run:
        run.write_ini("[platform]\nloginUrl=%s\nmainUrl=%s\n[install]\ninstallTime=x\n"
                      % (srv.url("/login.html"), srv.url("/game.html")))
        env = run.env("")
        del env["DISPLAY"]
        env.update(WAYLAND_DISPLAY=weston.socket, WAYLAND_DEBUG="client")
        run.env = lambda _d: env
        t0, wall0 = time.monotonic(), int(time.time() * 1e6)
        run.start(None)
        r = {"page": (srv.first("/loaded", t0, 20, run.proc) - t0) * 1000,
             "face": (first_face_commit(run.log) - wall0) % 2 ** 32 / 1000}
        time.sleep(1)
        r["tree"] = memory_kib(descendants(run.proc.pid), ("Pss",))[0] / 1024
        r["own"] = memory_kib([run.proc.pid], ("Pss",))[0] / 1024
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


def report(names, results):
    print("\nWayland (weston, headless, pixman)")
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
    args = parser.parse_args()
    names = [os.path.abspath(p) for p in args.launchers]
    print("launchers: " + "  |  ".join(names))
    results = {n: [] for n in names}
    with StampedServer(pages={"/login.html": PAGE}) as srv, \
            desktop.Wayland("weston", size=SCREEN) as weston:
        for i in range(args.runs + 1):  # the first round warms up
            for n in names:
                r = one_start(n, srv, weston)
                if i:
                    results[n].append(r)
    report(names, results)


if __name__ == "__main__":
    main()
