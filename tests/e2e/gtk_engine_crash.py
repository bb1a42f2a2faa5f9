"""Linux launcher, its web engine killed under it. The page process under
the game window killed: the game page comes back at its address and
setClientTypeByVb() runs again; killed again within the minute: the window
stays, blank, and no new page process starts. Back on a fresh login face:
its page process killed brings the login page back; killed again, the frame
stays blank. The launcher goes on throughout.

Then the engine's library cannot be loaded at all (a private mount puts an
empty file in its place): the background window has shown without it, a
box says why, and the launcher ends with status 1."""
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import browser_site as site  # noqa: E402
import desktop  # noqa: E402
import processes  # noqa: E402
from gtk_env import GtkLauncher, request_close  # noqa: E402
from test_server import TestServer  # noqa: E402

WHITE = (255, 255, 255)


def kill_page(run, pid):
    """Kills a page process as the system's memory killer would."""
    os.kill(pid, signal.SIGKILL)
    desktop.wait_for(lambda: pid not in processes.web_processes(run.proc.pid), 5,
                     "page process %d to go" % pid)


def new_page_process(run, known):
    """The launcher's one page process that is not in `known`."""
    def fresh():
        new = processes.web_processes(run.proc.pid) - known
        return new if len(new) == 1 else None
    return desktop.wait_for(fresh, 10, "a new page process of the launcher").pop()


def stays(run, srv, what, still, seconds=1.5):
    """For `seconds`: no request to the server, no new page process, and
    still() holds."""
    targets = len(srv.targets())
    pages = processes.web_processes(run.proc.pid)
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if not run.running():
            desktop.fail("the launcher ended (status %s)" % run.proc.returncode)
        if len(srv.targets()) != targets or processes.web_processes(run.proc.pid) - pages:
            desktop.fail("%s: the page was loaded again: %s" % (what, srv.targets()[targets:]))
        if not still():
            desktop.fail(what)
        time.sleep(0.1)


def main():
    with desktop.Xvfb() as display, TestServer(pages=site.PAGES) as srv, \
            GtkLauncher(sys.argv[1]) as run:
        login = site.start_at_login(run, srv, display)
        x, y = site.login_point(run.geometry(login), site.PAGE_POINTS["enter"])
        desktop.xdotool(display, "mousemove", str(x), str(y), "click", "1")
        title = site.READY_TITLE % "abc"
        game = run.wait_window("^%s$" % title, 10)
        game_page = new_page_process(run, set())  # the login page's, shared
        gx, gy, gw, gh = run.geometry(game)
        corner = (gx + gw - 1, gy + gh - 1)

        # The game's engine dies: the game page comes back.
        wanted = "/game.html?token=abc&x=1"
        calls = len([t for t in srv.targets() if t.startswith("/client-type")])
        kill_page(run, game_page)
        game_page = new_page_process(run, {game_page})
        desktop.wait_for(lambda: srv.targets().count(wanted) == 2 and
                         len([t for t in srv.targets() if t.startswith("/client-type")]) > calls,
                         10, "the game page loaded again and setClientTypeByVb() run")
        desktop.wait_for(lambda: site.pixel(display, *corner) == site.GAME_BACKGROUND, 5,
                         "the game page drawn again")

        # Again within the minute: the window stays, blank.
        kill_page(run, game_page)
        desktop.wait_for(lambda: site.pixel(display, *corner) != site.GAME_BACKGROUND, 5,
                         "the dead game page to leave the screen")
        stays(run, srv, "the game window stays, blank",
              lambda: game in run.windows() and site.pixel(display, *corner) != site.GAME_BACKGROUND)

        # Closed and confirmed: a fresh login face with its own engine.
        logins = srv.targets().count("/login.html")
        request_close(display, game)
        run.key(run.wait_window("^退出提示$"), "Return")
        login = desktop.wait_for(lambda: run.login_window(), 10,
                                 "the login window back")
        desktop.wait_for(lambda: srv.targets().count("/login.html") == logins + 1, 10,
                         "the login page requested again")
        site.wait_login_page(run, login)
        login_page = new_page_process(run, set())

        kill_page(run, login_page)
        login_page = new_page_process(run, {login_page})
        desktop.wait_for(lambda: srv.targets().count("/login.html") == logins + 2, 10,
                         "the login page loaded again")
        site.wait_login_page(run, login)

        kill_page(run, login_page)
        lx, ly = run.geometry(login)[:2]
        frame = (lx + site.FRAME[0], ly + site.FRAME[1])
        desktop.wait_for(lambda: site.pixel(display, *frame) == WHITE, 5,
                         "the dead login page to leave its frame")
        stays(run, srv, "the login frame stays blank",
              lambda: site.pixel(display, *frame) == WHITE)

        request_close(display, login)
        run.key(run.wait_window("^退出提示$"), "Return")
        if run.wait_exit(10) != 0:
            desktop.fail("the launcher ended with status %s" % run.proc.returncode)
        site.check_quiet(run)
        engine_missing(sys.argv[1], display)
    print("ok")


def engine_missing(exe, display):
    listed = subprocess.run(["ldconfig", "-p"], capture_output=True, text=True).stdout
    lib = next(line.split("=>")[1].strip() for line in listed.splitlines()
               if line.strip().startswith("libwebkit2gtk-4.1.so.0 "))
    hide = ["unshare", "-m", "--", "sh", "-c", 'mount --bind /dev/null "$0" && exec "$@"',
            os.path.realpath(lib)]
    with GtkLauncher(exe) as run:
        run.start(display, hide)
        box = run.wait_window("^launcher$")
        if not run.windows("^Varnholt登录器$"):
            desktop.fail("the background window was not shown before the engine was needed")
        run.key(box, "Return")
        if run.wait_exit(10) != 1:
            desktop.fail("the launcher ended with status %s, not 1" % run.proc.returncode)
        with open(run.log, encoding="utf-8", errors="replace") as f:
            if "the browser engine cannot be loaded" not in f.read():
                desktop.fail("the reason was not reported")


if __name__ == "__main__":
    main()
