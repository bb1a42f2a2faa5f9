#!/usr/bin/env python3
"""The launcher's start against the engine's floor: tools/floor/floor.c (one
window holding one web view on the same page, nothing else), built at the
start, and the engine's own minimal browser (MiniBrowser) unless
--no-minibrowser. The programs are alternated round by round (a warm-up round
skipped) on a private display with the page on a loopback server; each round
gives every program a new profile (first start), ends it and starts it again
on the same profile (second start).

    python3 tools/bench_start.py [LAUNCHER ...] [--runs N] [--no-minibrowser]

Several launchers (builds to compare) are alternated like the rest.

Figures, first and second start, medians with minima and maxima:
  spawn -> onload   the page's onload handler asks the server for /loaded
  spawn -> face     the launcher: a pixel of the background picture on the
                    screen; the others: their first top-level window mapped
  PSS, private      summed over the process tree, 1 s after onload; PSS
                    moves with whatever else maps the same libraries (other
                    programs of the engine on the machine), private memory
                    does not
and each launcher's ratio to the floor program.

Not run by CI. Starts its own Xvfb and server, stops what it starts by pid.
"""
import argparse
import os
import shutil
import statistics
import sys
import time

TOOLS = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(TOOLS)
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
sys.path.insert(0, TOOLS)
import bench_gtk  # noqa: E402
import desktop  # noqa: E402
import processes  # noqa: E402
from gtk_env import GtkLauncher  # noqa: E402

FLOOR_SOURCE = os.path.join(TOOLS, "floor", "floor.c")
STARTS = (("", "first start"), ("2", "second start"))
FIGURES = (("onload", "spawn -> onload", "ms"), ("face", "spawn -> face", "ms"),
           ("pss", "PSS (tree)", "MiB"), ("private", "private (tree)", "MiB"))


class Program:
    """One program measured: its name, what to copy and run, and how its
    face is recognised on the screen (a launcher's background pixel, or
    else the first window mapped)."""

    def __init__(self, name, exe, launcher):
        self.name, self.exe, self.launcher = name, exe, launcher
        self.figures = {k + s: [] for k, *_ in FIGURES for s, _ in STARTS}


class StartBench:
    def __init__(self, args, display, srv):
        self.args, self.display, self.srv = args, display, srv
        self.screen = bench_gtk.Screen(display)
        w, h = (int(v) for v in desktop.xdotool(display, "getdisplaygeometry").split())
        self.back_point = ((w - 1039) // 2 + bench_gtk.BACK_POINT[0],
                           (h - 652) // 2 + bench_gtk.BACK_POINT[1])

    def argv(self, program, run):
        if program.launcher:
            return [run.exe]
        return [run.exe, self.srv.url("/login.html")]

    def start(self, program, run):
        """One start: spawn -> onload, -> face, PSS 1 s after the onload."""
        if program.launcher:
            self.screen.watch(*self.back_point, bench_gtk.BACK_RGB)
        run.display = self.display
        env = run.env(self.display)
        env.pop("WEBKIT_DISABLE_COMPOSITING_MODE", None)  # each program as a user starts it
        t0 = time.monotonic()
        run.proc = desktop.spawn(bench_gtk.niced(self.args, self.argv(program, run)), env=env,
                                 cwd=run.cwd, log=run.log)
        loaded = self.srv.first("/loaded?page=login", t0, 20, run.proc)
        if program.launcher:
            face = desktop.wait_for(lambda: self.screen.seen, 10, "the background picture")
        else:
            face = self.screen.first_map(t0, 10)
        time.sleep(1.0)
        pss = bench_gtk.tree_memory(run.proc.pid)["pss"]
        private = sum(processes.memory_kib(processes.descendants(run.proc.pid),
                                           ("Private_Clean", "Private_Dirty"))) / 1024.0
        bench_gtk.stop_tree(run.proc)
        return {"onload": (loaded - t0) * 1000, "face": (face - t0) * 1000, "pss": pss,
                "private": private}

    def measure(self, program):
        """A new profile started twice; the figures of both starts."""
        with GtkLauncher(program.exe) as run:
            if program.launcher:
                srv = self.srv
                run.write_ini("[common]\nversion=1.0\nversionCheckUrl=%s\nversionUpdateUrl=%s\n"
                              "[platform]\nloginUrl=%s\nmainUrl=%s\n[install]\ninstallTime=x\n"
                              % (srv.url("/version/1.0"), srv.url("/files/upgrade.exe"),
                                 srv.url("/login.html"), srv.url("/game.html")))
            r = {}
            for suffix, _ in STARTS:
                for k, v in self.start(program, run).items():
                    r[k + suffix] = v
                time.sleep(0.5)
            return r


def build_floor():
    folder = desktop.scratch_dir("bench-floor-")
    exe = os.path.join(folder, "floor")
    bench_gtk.build_c_program(FLOOR_SOURCE, exe, ["gtk+-3.0", "webkit2gtk-4.1"])
    return folder, exe


def fmt(values):
    if not values:
        return "%-23s" % "-"
    return "%6.0f %6.0f %6.0f    " % (statistics.median(values), min(values), max(values))


def report(args, programs, floor, load_before, loads):
    print("\n%d rounds after a warm-up, programs alternated; load average (1 min) before: "
          "%.2f, during: %s, after: %.2f%s" % (
              args.runs, load_before, " ".join("%.2f" % x for x in loads), os.getloadavg()[0],
              "" if args.nice is None else "; niceness %d" % args.nice))
    for p in programs:
        if p.launcher:
            print("%s: %s (%d bytes)" % (p.name, p.exe, os.path.getsize(p.exe)))
    launchers = [p for p in programs if p.launcher]
    print("\n%-30s %-4s " % ("figure", "unit") +
          "".join("%-23s" % (p.name + " med/min/max ") for p in programs) +
          "  " + "  ".join("%s/floor" % p.name for p in launchers))
    for suffix, start in STARTS:
        for key, label, unit in FIGURES:
            k = key + suffix
            row = "%-30s %-4s " % ("%s: %s" % (start, label), unit)
            row += "".join(fmt(p.figures[k]) for p in programs)
            for p in launchers:
                base = statistics.median(floor.figures[k]) if floor.figures[k] else 0
                row += "%-8s" % ("%.3f" % (statistics.median(p.figures[k]) / base)
                                 if base and p.figures[k] else "-")
            print(row)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("launchers", nargs="*",
                        default=[os.path.join(ROOT, "build", "gtk", "launcher")])
    parser.add_argument("--runs", type=int, default=5, help="measured rounds (after one warm-up)")
    parser.add_argument("--no-minibrowser", action="store_true")
    bench_gtk.add_quiet_options(parser)
    args = parser.parse_args()
    programs = []
    for i, exe in enumerate(args.launchers):
        exe = os.path.abspath(exe)
        if not os.access(exe, os.X_OK):
            desktop.fail("no launcher at %s (build the gtk preset)" % exe)
        programs.append(Program("launcher" if len(args.launchers) == 1 else "L%d" % (i + 1),
                                exe, True))
    folder, floor_exe = build_floor()
    floor = Program("floor", floor_exe, False)
    programs.append(floor)
    if not args.no_minibrowser:
        if not os.access(bench_gtk.MINIBROWSER, os.X_OK):
            desktop.fail("no MiniBrowser at %s (libwebkit2gtk-4.1-0)" % bench_gtk.MINIBROWSER)
        programs.append(Program("MiniBrowser", bench_gtk.MINIBROWSER, False))

    load_before = bench_gtk.wait_for_quiet(args.quiet_load, args.quiet_minutes)
    bench_gtk.set_own_niceness(args)
    loads = []
    lifetime = 60 + (args.runs + 1) * len(programs) * 60
    try:
        xvfb = desktop.Xvfb()
        with xvfb as display, bench_gtk.StampedServer(lifetime=lifetime) as srv:
            if args.nice is not None and xvfb.proc:
                # The X server draws every face and serves the screen reads.
                os.setpriority(os.PRIO_PROCESS, xvfb.proc.pid, args.nice)
            srv.pages.update({"/login.html": bench_gtk.LOGIN_PAGE.encode(),
                              "/game.html": bench_gtk.GAME_PAGE.encode()})
            bench = StartBench(args, display, srv)
            try:
                for round_ in range(args.runs + 1):
                    # Each program goes first in turn: none always meets the
                    # caches the one before it warmed.
                    shift = round_ % len(programs)
                    for p in programs[shift:] + programs[:shift]:
                        r = bench.measure(p)
                        if round_:
                            for k, v in r.items():
                                p.figures[k].append(v)
                    loads.append(os.getloadavg()[0])
                    print("%s done" % ("warm-up" if round_ == 0 else "round %d" % round_),
                          file=sys.stderr, flush=True)
            finally:
                bench.screen.close()
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    report(args, programs, floor, load_before, loads[1:])


if __name__ == "__main__":
    main()
