#!/usr/bin/env python3
"""Soak of the Linux launcher: login -> game -> login cycles as a player
makes them, on a private Xvfb against the loopback test server.

    python3 tools/soak_gtk.py [build/gtk/launcher] [--cycles 200]

Each cycle clicks the game link on the login page, waits for the game page
to be ready, asks the game window to close (what a window manager's close box
sends), answers the question "退出提示" with Return and waits for the fresh
login face with its page drawn. Prints the cycles done, the questions seen
(one per close), and after cycles 1, 20, 50, 100 and the last: the memory
(RSS / PSS) of the launcher and of its page processes, its open files and
threads. Ends with the growth from cycle 20 to the last, which must stay
under 10 %: exit status 1 when it does not (or when a cycle fails).
Not part of the test run: 200 cycles take about ten minutes.
"""
import argparse
import os
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
import browser_site as site  # noqa: E402
import desktop  # noqa: E402
import processes  # noqa: E402
from gtk_env import GtkLauncher, request_close  # noqa: E402
from test_server import TestServer  # noqa: E402

QUESTION = "^退出提示$"
SETTLE_S = 1.0  # before a reading, for the engine to free what it frees soon
MAX_GROWTH = 0.10


def reading(run):
    pid = run.proc.pid
    pages = processes.web_processes(pid)
    return {"launcher": processes.memory_kib([pid]), "pages": processes.memory_kib(pages),
            "page processes": len(pages), "files": processes.open_files(pid),
            "threads": processes.threads(pid)}


def one_cycle(run, srv, login, seen):
    """Login face -> game -> login face; returns the new login window."""
    display = run.display
    x, y = site.login_point(run.geometry(login), site.PAGE_POINTS["enter"])
    desktop.xdotool(display, "mousemove", str(x), str(y), "click", "1")
    game = run.wait_window("^%s$" % (site.READY_TITLE % "abc"), 20)
    logins = srv.targets().count("/login.html")
    request_close(display, game)
    run.key(run.wait_window(QUESTION), "Return")
    seen.append(1)

    def fresh_login():
        for w in run.windows():
            g = desktop.window_geometry(display, w)  # None once it has gone
            if w != login and g and g[2:] == site.LOGIN_SIZE:
                return w
        return None
    new = desktop.wait_for(fresh_login, 20, "the fresh login window")
    desktop.wait_for(lambda: srv.targets().count("/login.html") > logins, 20,
                     "the login page requested again")
    desktop.wait_for(lambda: game not in run.windows(), 10, "the game window to close")
    site.wait_login_page(run, new)
    if run.windows(QUESTION):
        seen.append(1)  # a second question for one close
    return new


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("launcher", nargs="?", default=os.path.join(ROOT, "build", "gtk", "launcher"))
    parser.add_argument("--cycles", type=int, default=200)
    args = parser.parse_args()
    if not os.access(args.launcher, os.X_OK):
        desktop.fail("no launcher at %s: build the gtk preset first" % args.launcher)

    marks = sorted({m for m in (1, 20, 50, 100) if m <= args.cycles} | {args.cycles})
    readings, seen, done = {}, [], 0
    started = time.monotonic()
    with desktop.Xvfb() as display, \
            TestServer(pages=site.PAGES, lifetime=120 + 10 * args.cycles) as srv, \
            GtkLauncher(args.launcher) as run:
        login = site.start_at_login(run, srv, display)
        for cycle in range(1, args.cycles + 1):
            login = one_cycle(run, srv, login, seen)
            done = cycle
            if cycle in marks:
                time.sleep(SETTLE_S)
                readings[cycle] = reading(run)
                r = readings[cycle]
                print("after cycle %4d: launcher RSS %7.1f PSS %7.1f MiB | %d page process(es) "
                      "RSS %7.1f PSS %7.1f MiB | %d files, %d threads | %.0f s"
                      % (cycle, r["launcher"][0] / 1024, r["launcher"][1] / 1024,
                         r["page processes"], r["pages"][0] / 1024, r["pages"][1] / 1024,
                         r["files"], r["threads"], time.monotonic() - started), flush=True)
        site.check_quiet(run)

    print("cycles done: %d" % done)
    print("questions seen: %d for %d closes" % (len(seen), done))
    ok = len(seen) == done
    first = 20 if 20 in readings else marks[0]
    if first < done:
        a, b = readings[first], readings[done]
        for name, before, after in (
                ("launcher RSS", a["launcher"][0], b["launcher"][0]),
                ("launcher PSS", a["launcher"][1], b["launcher"][1]),
                ("page processes RSS", a["pages"][0], b["pages"][0]),
                ("page processes PSS", a["pages"][1], b["pages"][1]),
                ("open files", a["files"], b["files"]),
                ("threads", a["threads"], b["threads"])):
            growth = (after - before) / before if before else 0.0
            verdict = "ok" if growth < MAX_GROWTH else "TOO MUCH"
            ok = ok and growth < MAX_GROWTH
            print("growth cycle %d -> %d, %-20s %+6.1f %%  %s"
                  % (first, done, name + ":", growth * 100, verdict))
    print("ok" if ok else "FAIL")
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
