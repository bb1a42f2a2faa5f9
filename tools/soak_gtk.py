#!/usr/bin/env python3
"""Soak of the Linux launcher: login -> game -> login cycles as a player
makes them, on a private Xvfb against the loopback test server.

    python3 tools/soak_gtk.py [build/gtk/launcher] [--cycles 1000]

Each cycle clicks the game link on the login page, waits for the game page
to be ready, asks the game window to close (what a window manager's close box
sends), answers the question "退出提示" with Return and waits for the fresh
login face with its page drawn. Prints the cycles done, the questions seen
(one per close), and after cycles 1, 20, 50, 100, every 100th and the last:
the memory (RSS, PSS, anonymous) of the launcher and of its page processes,
its open files and threads. Ends with the growth from cycle 200, once warmed
up, to the last (from cycle 20 in a shorter run), which must stay under 2 %
for the launcher's RSS and anonymous memory, its files and threads: exit
status 1 when one does not (or when a cycle fails). The rest is shown, not
judged: PSS, since its share of the libraries' pages moves with whatever
else on the machine maps them (other programs on the same engine), and the
page processes, whose memory moves by up to a fifth with the engine's
garbage collection (a burst of 35 MiB, given back over the next few hundred
cycles).
Not part of the test run: 1,000 cycles take 15-30 minutes.
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
MAX_GROWTH = 0.02
WARM_UP = 200  # cycles before the growth is measured
# Anonymous: the heap, stacks and written copies of mapped pages; unlike PSS
# and private pages it does not move with what other processes map.
MEMORY = ("Rss", "Pss", "Anonymous")


def reading(run):
    pid = run.proc.pid
    pages = processes.web_processes(pid)
    return {"launcher": processes.memory_kib([pid], MEMORY),
            "pages": processes.memory_kib(pages, MEMORY),
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
        new = run.login_window()  # a new face: a new window
        return new if new and new != login else None
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
    parser.add_argument("--cycles", type=int, default=1000)
    args = parser.parse_args()
    if not os.access(args.launcher, os.X_OK):
        desktop.fail("no launcher at %s: build the gtk preset first" % args.launcher)

    marks = sorted({m for m in (1, 20, 50) if m <= args.cycles} |
                   set(range(100, args.cycles + 1, 100)) | {args.cycles})
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
                print("after cycle %4d: launcher RSS %6.1f PSS %6.1f anon %6.1f MiB | "
                      "%d page process(es) RSS %6.1f PSS %6.1f anon %6.1f MiB | "
                      "%d files, %d threads | %.0f s"
                      % ((cycle,) + tuple(v / 1024 for v in r["launcher"]) +
                         (r["page processes"],) + tuple(v / 1024 for v in r["pages"]) +
                         (r["files"], r["threads"], time.monotonic() - started)), flush=True)
        site.check_quiet(run)

    print("cycles done: %d" % done)
    print("questions seen: %d for %d closes" % (len(seen), done))
    ok = len(seen) == done
    first = next((m for m in (WARM_UP, 20) if m in readings and m < done), marks[0])
    if first < done:
        a, b = readings[first], readings[done]
        for name, before, after, judged in (
                ("launcher RSS", a["launcher"][0], b["launcher"][0], True),
                ("launcher anonymous", a["launcher"][2], b["launcher"][2], True),
                ("launcher PSS", a["launcher"][1], b["launcher"][1], False),
                ("page processes RSS", a["pages"][0], b["pages"][0], False),
                ("page processes anonymous", a["pages"][2], b["pages"][2], False),
                ("page processes PSS", a["pages"][1], b["pages"][1], False),
                ("open files", a["files"], b["files"], True),
                ("threads", a["threads"], b["threads"], True)):
            growth = (after - before) / before if before else 0.0
            verdict = "(shown)" if not judged else "ok" if growth < MAX_GROWTH else "TOO MUCH"
            ok = ok and (not judged or growth < MAX_GROWTH)
            print("growth cycle %d -> %d, %-26s %+6.1f %%  %s"
                  % (first, done, name + ":", growth * 100, verdict))
    print("ok" if ok else "FAIL")
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
