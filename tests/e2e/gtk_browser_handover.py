"""Linux launcher, login page to game and back: the login page is drawn in
its frame with its edges hidden; a click on a link to the game address
hides the login face and opens the game window on that whole address (the
login browser never loads it); the game page's setClientTypeByVb() is run
once it has loaded, and the window's caption follows the page's title. A
close request on the game window asks "退出提示": Esc keeps the game, Return
brings a fresh login face that loads the login page again."""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import browser_site as site  # noqa: E402
import desktop  # noqa: E402
from gtk_env import GtkLauncher, request_close  # noqa: E402
from test_server import TestServer  # noqa: E402

GAME_CLIENT = (1100, 600)


def main():
    with desktop.Xvfb() as display, TestServer(pages=site.PAGES) as srv, \
            GtkLauncher(sys.argv[1]) as run:
        login = site.start_at_login(run, srv, display)
        print("login page drawn %.0f ms after the start"
              % ((time.monotonic() - run.started_at) * 1000))

        x, y = site.login_point(run.geometry(login), site.PAGE_POINTS["enter"])
        desktop.xdotool(display, "mousemove", str(x), str(y), "click", "1")
        title = site.READY_TITLE % "abc"
        game = run.wait_window("^%s$" % title, 10)

        if run.windows("^Varnholt登录器$") or run.window_of_size(*site.LOGIN_SIZE):
            desktop.fail("the login face is still visible beside the game window")
        # No window manager here: the game window keeps its restored size, and
        # the browser reaching past its right edge must not widen it.
        if run.geometry(game)[2:] != GAME_CLIENT:
            desktop.fail("the game window is %dx%d, not %dx%d"
                         % (run.geometry(game)[2:] + GAME_CLIENT))

        # The page fills the client area, also after a minimise and restore
        # (an unmap is what X calls iconic; the browser then has no height).
        for step in (None, "windowunmap", "windowmap"):
            if step:
                desktop.xdotool(display, step, "--sync", game)
            if step != "windowunmap":
                gx, gy, gw, gh = run.geometry(game)
                desktop.wait_for(lambda: site.pixel(display, gx + gw - 1, gy + gh - 1)
                                 == site.GAME_BACKGROUND, 5,
                                 "the game page in the game window's corner")

        wanted = "/game.html?token=abc&x=1"
        targets = desktop.wait_for(
            lambda: [t for t in srv.targets() if t.startswith("/client-type")] and srv.targets(),
            5, "the game page's client-type call")
        if targets.count(wanted) != 1:
            desktop.fail("%s requested %d times (the game window alone should): %s"
                         % (wanted, targets.count(wanted), targets))
        calls = [t for t in targets if t.startswith("/client-type")]
        if not calls[0].startswith("/client-type?called=1&token=abc") or \
                targets.index(calls[0]) < targets.index(wanted):
            desktop.fail("setClientTypeByVb() was not called once after the game page "
                         "loaded: %s" % targets)

        request_close(display, game)
        box = run.wait_window("^退出提示$")
        run.key(box, "Escape")
        desktop.wait_for(lambda: not run.windows("^退出提示$"), 5, "the question to go")
        if game not in run.windows("^%s$" % title):
            desktop.fail("Esc did not keep the game window")
        if run.windows("^Varnholt登录器$"):
            desktop.fail("Esc brought the login face back")

        logins = srv.targets().count("/login.html")
        request_close(display, game)
        box = run.wait_window("^退出提示$")
        run.key(box, "Return")
        run.wait_window("^Varnholt登录器$")
        login = desktop.wait_for(lambda: run.window_of_size(*site.LOGIN_SIZE), 10,
                                 "the login window back")
        desktop.wait_for(lambda: not run.windows("^%s$" % title), 5, "the game window to close")
        desktop.wait_for(lambda: srv.targets().count("/login.html") > logins, 10,
                         "the login page requested again")
        site.wait_login_page(run, login)
        if not run.running():
            desktop.fail("the launcher ended (status %s)" % run.proc.returncode)
        site.check_quiet(run)
    print("ok")


if __name__ == "__main__":
    main()
