#!/usr/bin/env python3
"""Figures of the Linux launcher, printed, never judged: time from the start
to the login page drawn in its frame, time from a click on the game link to
the game window with its page ready, and the memory of the launcher with its
browser processes at the login face and with the game page.

    python3 tools/bench_gtk.py [build/gtk/launcher] [--runs N]

Runs on a private Xvfb against the loopback test server of the end-to-end
tests; stops everything it starts.
"""
import argparse
import os
import statistics
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
import browser_site as site  # noqa: E402
import desktop  # noqa: E402
from gtk_env import GtkLauncher  # noqa: E402
from test_server import TestServer  # noqa: E402


def descendants(pid):
    """pid and every process below it."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
        except (OSError, IndexError, ValueError):
            continue
        children.setdefault(ppid, []).append(int(entry))
    out, todo = [], [pid]
    while todo:
        p = todo.pop()
        out.append(p)
        todo.extend(children.get(p, []))
    return out


def memory_mib(pid):
    """(RSS, PSS) in MiB, summed over the process tree."""
    rss = pss = 0
    for p in descendants(pid):
        try:
            with open("/proc/%d/smaps_rollup" % p) as f:
                for line in f:
                    if line.startswith("Rss:"):
                        rss += int(line.split()[1])
                    elif line.startswith("Pss:"):
                        pss += int(line.split()[1])
        except OSError:
            continue
    return rss / 1024.0, pss / 1024.0


def one_run(exe, srv, display):
    with GtkLauncher(exe) as run:
        login = site.start_at_login(run, srv, display)
        to_login = (time.monotonic() - run.started_at) * 1000
        time.sleep(1.0)  # let the page and its processes settle
        at_login = memory_mib(run.proc.pid)
        x, y = site.login_point(run.geometry(login), site.PAGE_POINTS["enter"])
        clicked = time.monotonic()
        desktop.xdotool(display, "mousemove", str(x), str(y), "click", "1")
        run.wait_window("^%s$" % (site.READY_TITLE % "abc"), 20)
        to_game = (time.monotonic() - clicked) * 1000
        time.sleep(1.0)
        with_game = memory_mib(run.proc.pid)
        return to_login, to_game, at_login, with_game


def summary(name, values, unit):
    print("%-34s median %7.1f %s   min %7.1f   max %7.1f"
          % (name, statistics.median(values), unit, min(values), max(values)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("launcher", nargs="?", default=os.path.join(ROOT, "build", "gtk", "launcher"))
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    if not os.access(args.launcher, os.X_OK):
        desktop.fail("no launcher at %s: build the gtk preset first" % args.launcher)

    results = []
    with desktop.Xvfb() as display, TestServer(pages=site.PAGES, lifetime=60 + 30 * args.runs) as srv:
        for _ in range(args.runs):
            results.append(one_run(args.launcher, srv, display))

    print("%d runs of %s (%d bytes)" % (args.runs, args.launcher, os.path.getsize(args.launcher)))
    summary("start -> login page drawn", [r[0] for r in results], "ms")
    summary("click -> game page ready", [r[1] for r in results], "ms")
    summary("login face, RSS of process tree", [r[2][0] for r in results], "MiB")
    summary("login face, PSS of process tree", [r[2][1] for r in results], "MiB")
    summary("game window, RSS of process tree", [r[3][0] for r in results], "MiB")
    summary("game window, PSS of process tree", [r[3][1] for r in results], "MiB")


if __name__ == "__main__":
    main()
